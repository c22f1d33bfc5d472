// Creating the Java virtual machine inside this process.
#pragma once

// Locates a runtime, loads it and creates the JVM on the calling thread. False after a reported failure.
bool StartJvm();
