// The scan of a sequential frame, decoded one MCU row at a time: entropy
// decoding of the row's blocks, reconstruction into the component buffers,
// then up-sampling and colour conversion of the row's lines. Restart
// interval boundaries are handled here for progressive scans too.
#include <cstdint>

#include "jpeg/component.h"
#include "jpeg/decoder.h"
#include "primitives/huffman.h"
#include "primitives/idct.h"

namespace {
constexpr int32_t kBlockCoefficients = 64;
}

DecoderStatus CJPEGDecoder::DecodeSequentialScan() {
    if (ResetHuffmanState(m_huffmanState) != PrimOk) {
        return DecErrFailed;
    }
    m_pendingMarker = 0;
    // Every component must name tables that exist before any block is read.
    for (int32_t i = 0; i < m_componentCount; ++i) {
        const CJPEGColorComponent& component = *m_components[i];
        if (DcTableOf(component) == nullptr || AcTableOf(component) == nullptr ||
            QuantTableOf(component) == nullptr) {
            return DecErrFailed;
        }
    }
    for (int32_t row = 0; row < m_mcuRows; ++row) {
        if (EntropyDecodeRow(m_rowBlocks) != DecOk ||
            InverseTransformRow(m_rowBlocks, row) != DecOk) {
            return DecErrFailed;
        }
    }
    return DecOk;
}

// Blocks lie MCU after MCU; inside an MCU, component after component in
// frame order, each with its V rows of H blocks.
DecoderStatus CJPEGDecoder::EntropyDecodeRow(int16_t* blocks) {
    // The tables of each component, looked up once for the row.
    const HuffmanDecodeTable* dcTables[4] = {};
    const HuffmanDecodeTable* acTables[4] = {};
    for (int32_t i = 0; i < m_componentCount; ++i) {
        dcTables[i] = DcTableOf(*m_components[i]);
        acTables[i] = AcTableOf(*m_components[i]);
    }
    int16_t* block = blocks;
    for (int32_t mcu = 0; mcu < m_mcusPerRow; ++mcu) {
        if (m_restartInterval != 0 && m_restartsLeft == 0) {
            const DecoderStatus status = HandleRestartBoundary();
            if (status != DecOk) return status;
        }
        for (int32_t i = 0; i < m_componentCount; ++i) {
            CJPEGColorComponent& component = *m_components[i];
            const HuffmanDecodeTable* dcTable = dcTables[i];
            const HuffmanDecodeTable* acTable = acTables[i];
            const int32_t blockCount = component.m_hBlocks * component.m_vBlocks;
            for (int32_t b = 0; b < blockCount; ++b) {
                if (DecodeSequentialBlock(m_source, m_sourceSize, &m_position, block,
                                          &component.m_dcPredictor, &m_pendingMarker, dcTable,
                                          acTable, m_huffmanState) < 0) {
                    return DecErrFailed;
                }
                block += kBlockCoefficients;
            }
        }
        // Counted also without restarts; the value is then never looked at.
        --m_restartsLeft;
    }
    return DecOk;
}

DecoderStatus CJPEGDecoder::InverseTransformRow(const int16_t* blocks, int32_t mcuRow) {
    const int32_t paddedWidth = m_paddedWidth;
    const uint16_t* quantTables[4] = {};
    for (int32_t i = 0; i < m_componentCount; ++i) {
        quantTables[i] = QuantTableOf(*m_components[i]);
    }
    const int16_t* block = blocks;
    for (int32_t mcu = 0; mcu < m_mcusPerRow; ++mcu) {
        for (int32_t i = 0; i < m_componentCount; ++i) {
            const CJPEGColorComponent& component = *m_components[i];
            const uint16_t* quantTable = quantTables[i];
            // Half-resolution chroma goes into the bordered buffer, one border
            // column on the left and, for 4:2:0, one border row on top.
            const bool halfChroma = m_samplingMode != SamplingFull && (i == 1 || i == 2);
            uint8_t* plane = halfChroma ? component.m_borderedSamples : component.m_samples;
            const int32_t step = halfChroma ? paddedWidth / 2 + 2 : paddedWidth;
            for (int32_t v = 0; v < component.m_vBlocks; ++v) {
                uint8_t* base = plane + 8 * component.m_hBlocks * mcu + 8 * v * step;
                if (component.m_vUpsample == 2) base += step;
                if (component.m_hUpsample == 2) base += 1;
                for (int32_t h = 0; h < component.m_hBlocks; ++h) {
                    if (ReconstructBlock(block, base + 8 * h, step, quantTable) < 0) {
                        return DecErrFailed;
                    }
                    block += kBlockCoefficients;
                }
            }
        }
    }
    return OutputMcuRow(mcuRow);
}

DecoderStatus CJPEGDecoder::HandleRestartBoundary() {
    // The fill bits that end the finished interval are dropped with the rest.
    if (ResetHuffmanState(m_huffmanState) != PrimOk) {
        return DecErrFailed;
    }
    for (int32_t i = 0; i < m_componentCount; ++i) {
        m_components[i]->m_dcPredictor = 0;
    }
    const DecoderStatus status = ConsumeRestartMarker();
    if (status != DecOk) return status;
    m_restartsLeft = m_restartInterval;
    return DecOk;
}
