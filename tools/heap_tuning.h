// Process-wide allocator settings for programs that decode many frames.
#pragma once

// The codec builds its working buffers anew for every frame. glibc gives
// freed blocks above its thresholds back to the system, so every frame
// would fault its pages in again, and with several threads each arena trims
// its own heap. Keeping freed memory in the process avoids that. Does
// nothing where the C library is not glibc.
void KeepFreedMemory();
