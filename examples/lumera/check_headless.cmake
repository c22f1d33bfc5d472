# cmake -DJAVA=<java> -DJAR=<Lumera.jar> [-DJAVA_VERSION=<x.y.z>] -P check_headless.cmake
# Starts Lumera with --headless-check and two arguments, one holding a space, and compares its
# whole standard output: a start line and one line per argument, nothing else.
foreach(var JAVA JAR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "${var} is not set")
  endif()
endforeach()
if(NOT EXISTS "${JAR}")
  message(FATAL_ERROR "${JAR} does not exist; build the lumera-jar target first")
endif()

execute_process(
  COMMAND "${JAVA}" -jar "${JAR}" --headless-check a "b c"
  # A window opened by mistake would wait for a user forever.
  TIMEOUT 60
  RESULT_VARIABLE status
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err)
if(NOT status STREQUAL "0")
  message(FATAL_ERROR "Lumera ended with status ${status}\nstdout:\n${out}\nstderr:\n${err}")
endif()
string(REPLACE "\r\n" "\n" out "${out}")

# The version the runtime reports must be the one CMake found, when CMake could read it.
if(JAVA_VERSION)
  string(REGEX REPLACE "([][.+*?^$()|\\])" "\\\\\\1" version "${JAVA_VERSION}")
else()
  set(version "[0-9][^,\n]*")
endif()
set(expected "^Lumera: started on Java ${version}, 3 arguments\n"
             "Lumera: argument 1: \\[--headless-check\\]\n"
             "Lumera: argument 2: \\[a\\]\n"
             "Lumera: argument 3: \\[b c\\]\n$")
string(CONCAT expected ${expected})
if(NOT out MATCHES "${expected}")
  message(FATAL_ERROR "unexpected output; wanted (as a pattern):\n${expected}\ngot:\n${out}\nstderr:\n${err}")
endif()
message(STATUS "Lumera logged:\n${out}")
