// CJPEGDecoderQuantTable: one DQT table, prepared for block reconstruction
// (natural order, 16 bits).
#pragma once

#include <cstdint>

#include "jpeg/decoder_types.h"
#include "primitives/memory.h"

class CJPEGDecoderQuantTable {
public:
    WEMB_HEAP_ALLOCATED

    CJPEGDecoderQuantTable();
    ~CJPEGDecoderQuantTable();
    CJPEGDecoderQuantTable(const CJPEGDecoderQuantTable&) = delete;
    CJPEGDecoderQuantTable& operator=(const CJPEGDecoderQuantTable&) = delete;

    // Prepares the natural-order table from the 64 raw values (zig-zag
    // order, one byte each).
    DecoderStatus Define(const uint8_t* rawValues);

    // For a table sent with 16-bit entries: the prepared table takes the
    // whole values (zig-zag order), limited to 32767 because reconstruction
    // reads them as signed.
    DecoderStatus DefineWide(const uint16_t* wideValues);

    uint16_t* m_preparedValues;   // 64 values, natural order, 32-byte aligned

private:
    // The array lives inside the object, starting at the first 32-byte
    // boundary of its storage, so a table needs no allocation of its own.
    uint8_t m_preparedStorage[64 * sizeof(uint16_t) + kAlignment];
};
