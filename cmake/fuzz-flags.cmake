# Compiler flags of the fuzz build. Every object, libraries included, gets the coverage the fuzzer
# steers by and both sanitizers; undefined behaviour stops the run like a crash does. The library
# assertions of libstdc++ catch an index or subspan outside a container, which AddressSanitizer
# cannot see when it stays inside the allocation.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "The fuzz build needs clang (libFuzzer); configure it with the \"fuzz\" preset")
endif()
set(CORVANE_FUZZ_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=undefined)
add_compile_options(-O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer-no-link ${CORVANE_FUZZ_SANITIZERS})
add_compile_definitions(_GLIBCXX_ASSERTIONS)
add_link_options(${CORVANE_FUZZ_SANITIZERS})
# toml++ checks its own invariants with assert unless NDEBUG; the builds we ship define NDEBUG and
# compile them away (with GCC, TOML_ASSERT_ASSUME assumes nothing). The fuzz build keeps NDEBUG off
# for the other assertions, so it leaves toml++'s out the same way: it fuzzes the parser we ship.
add_compile_options("-DTOML_ASSERT(expr)=static_cast<void>(0)")
