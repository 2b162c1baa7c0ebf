// White-box access to a CJPEGDecoder's fields for the tests.
#pragma once

#include "jpeg/component.h"
#include "jpeg/decoder.h"
#include "jpeg/huffman_table.h"
#include "jpeg/quant_table.h"

struct DecoderInspector {
    explicit DecoderInspector(const CJPEGDecoder& decoder) : d(decoder) {}
    const CJPEGDecoder& d;

    int32_t McusPerRow() const { return d.m_mcusPerRow; }
    int32_t McuRows() const { return d.m_mcuRows; }
    int32_t PaddedWidth() const { return d.m_paddedWidth; }
    int32_t PadRight() const { return d.m_padRight; }
    int32_t PadBottom() const { return d.m_padBottom; }
    int32_t BufferRows() const { return d.m_bufferRows; }
    int32_t Position() const { return d.m_stream.m_position; }
    const CJPEGColorComponent* Component(int i) const { return d.m_components[i]; }
    const CJPEGDecoderQuantTable* QuantTable(int i) const { return d.m_quantTables[i]; }
    const CJPEGDecoderHuffmanTable* DcTable(int i) const { return d.m_dcTables[i]; }
    const CJPEGDecoderHuffmanTable* AcTable(int i) const { return d.m_acTables[i]; }
};
