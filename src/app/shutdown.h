// Ending the JVM.
#pragma once

// Detaches the calling thread, destroys the JVM (waiting for its non-daemon threads) and unloads it.
void UnloadJvm();
