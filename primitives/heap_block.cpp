// The C library's heap under every allocation of the codec (memory.h). Alone
// in its file so that a program that defines WembHeapBlock itself leaves
// this object out of the link.
#include <cstdlib>

#include "primitives/memory.h"

void* WembHeapBlock(size_t bytes, bool zeroed) { return zeroed ? std::calloc(1, bytes) : std::malloc(bytes); }
