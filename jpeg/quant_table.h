// CJPEGDecoderQuantTable: one DQT table, kept as read (zig-zag order, 8 bits)
// and prepared for block reconstruction (natural order, 16 bits).
#pragma once

#include <cstdint>

#include "jpeg/decoder_types.h"
#include "primitives/memory.h"

class CJPEGDecoderQuantTable {
public:
    WEMB_HEAP_ALLOCATED

    CJPEGDecoderQuantTable();
    virtual ~CJPEGDecoderQuantTable();
    CJPEGDecoderQuantTable(const CJPEGDecoderQuantTable&) = delete;
    CJPEGDecoderQuantTable& operator=(const CJPEGDecoderQuantTable&) = delete;

    // Takes the table id from the low nibble of `precisionAndId`, keeps the
    // 64 raw values (zig-zag order, one byte each) and prepares the
    // natural-order table from them.
    DecoderStatus Define(int32_t precisionAndId, const uint8_t* rawValues);

    // For a table sent with 16-bit entries: the raw bytes keep the low byte
    // of each entry, and the prepared table takes the whole values (zig-zag
    // order), limited to 32767 because reconstruction reads them as signed.
    DecoderStatus DefineWide(int32_t precisionAndId, const uint16_t* wideValues);

    int32_t m_tableId;
    uint8_t* m_rawValues;         // 64 values, zig-zag order, 32-byte aligned
    uint16_t* m_preparedValues;   // 64 values, natural order, 32-byte aligned

private:
    // Both arrays live inside the object, each starting at the first 32-byte
    // boundary of its storage, so a table needs no allocation of its own.
    uint8_t m_rawStorage[64 + kAlignment];
    uint8_t m_preparedStorage[64 * sizeof(uint16_t) + kAlignment];
};
