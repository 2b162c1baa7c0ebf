// Result codes shared by every image primitive.
//
// Each primitive checks its arguments in a fixed order before doing any work
// and writes nothing when a check fails.
#pragma once

#include <cstdint>

enum PrimitiveStatus : int32_t {
    PrimOk = 0,
    PrimErrBadCode = -2,           // a coefficient placed outside the 8x8 block
    PrimErrOutOfRange = -5,        // a parameter outside its allowed range
    PrimErrBadSize = -6,           // a length, width, height or count not positive
    PrimErrNullPointer = -8,       // a required pointer is null, or allocation failed
    PrimErrBadStep = -14,          // a row step that is not positive
    PrimErrBadAxis = -21,          // a mirror axis other than 0, 1 or 2
    PrimErrSourceExhausted = -62,  // bits needed past the end of the source
    PrimErrBadHuffmanCode = -63,   // no code matches, or bits needed after a marker
    PrimErrBadHuffmanTable = -64,  // code counts that cannot form a decode table
};
