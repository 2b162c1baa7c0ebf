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
    int32_t McuSizeX() const { return d.m_mcuSizeX; }
    int32_t McuSizeY() const { return d.m_mcuSizeY; }
    int32_t PaddedWidth() const { return d.m_paddedWidth; }
    int32_t PadRight() const { return d.m_padRight; }
    int32_t PadBottom() const { return d.m_padBottom; }
    int32_t BufferRows() const { return d.m_bufferRows; }
    int32_t BlocksPerMcu() const { return d.m_blocksPerMcu; }
    int32_t RestartInterval() const { return d.m_restartInterval; }
    int32_t Progressive() const { return d.m_progressive; }
    int32_t Position() const { return d.m_position; }
    int32_t PendingMarker() const { return d.m_pendingMarker; }
    int32_t ScanComponent() const { return d.m_scanComponent; }
    int32_t Ss() const { return d.m_ss; }
    int32_t Se() const { return d.m_se; }
    int32_t Ah() const { return d.m_ah; }
    int32_t Al() const { return d.m_al; }
    int32_t DcDone() const { return d.m_dcDone; }
    int32_t AdobeTransform() const { return d.m_adobeTransform; }
    int32_t HasAdobe() const { return d.m_hasAdobe; }
    const int16_t* Coefficients() const { return d.m_coefficients; }
    const int16_t* RowBlocks() const { return d.m_rowBlocks; }
    const CJPEGColorComponent* Component(int i) const { return d.m_components[i]; }
    const CJPEGDecoderQuantTable* QuantTable(int i) const { return d.m_quantTables[i]; }
    const CJPEGDecoderHuffmanTable* DcTable(int i) const { return d.m_dcTables[i]; }
    const CJPEGDecoderHuffmanTable* AcTable(int i) const { return d.m_acTables[i]; }
};
