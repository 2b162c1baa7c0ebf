// Scans of a progressive frame, decoded into a coefficient buffer that holds
// every block of the frame, and the reconstruction of that buffer into the
// component planes.
//
// Layout of the buffer: MCUs in raster order, N blocks each (N = the sum of
// H x V over the frame's components); inside an MCU the components follow in
// frame order, each with its V rows of H blocks.
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "jpeg/component.h"
#include "jpeg/decoder.h"
#include "platform/worker_pool.h"
#include "primitives/huffman.h"
#include "primitives/idct.h"
#include "primitives/progressive_huffman.h"

namespace {
constexpr int32_t kBlockCoefficients = 64;
}

int32_t CJPEGDecoder::ComponentBlockOffset(int32_t component) const {
    int32_t offset = 0;
    for (int32_t i = 0; i < component; ++i) {
        offset += m_components[i]->m_hBlocks * m_components[i]->m_vBlocks;
    }
    return offset;
}

int16_t* CJPEGDecoder::McuBlocks(int32_t mcuRow, int32_t mcuColumn) const {
    const ptrdiff_t mcuIndex = static_cast<ptrdiff_t>(mcuRow) * m_mcusPerRow + mcuColumn;
    return m_coefficients + mcuIndex * ComponentBlockOffset(m_componentCount) * kBlockCoefficients;
}

DecoderStatus CJPEGDecoder::DecodeProgressiveScan() {
    if (ResetHuffmanState(m_huffmanState) != PrimOk) {
        return DecErrFailed;
    }
    m_pendingMarker = 0;
    if (m_ss != 0 && m_se != 0) {
        return DecodeProgressiveAcScan();
    }
    return DecodeProgressiveDcScan();
}

DecoderStatus CJPEGDecoder::RestartIfDue() {
    if (m_restartInterval != 0 && m_restartsLeft == 0) {
        return HandleRestartBoundary();
    }
    return DecOk;
}

// Decodes or refines the DC coefficient of one block of `component`.
DecoderStatus CJPEGDecoder::DecodeDcBlock(CJPEGColorComponent& component, int16_t* block) {
    PrimitiveStatus status;
    if (m_ah == 0) {
        status = DecodeProgressiveDcBlock(m_source, m_sourceSize, &m_position, block,
                                          &component.m_dcPredictor, &m_pendingMarker, m_al,
                                          DcTableOf(component), m_huffmanState);
    } else {
        status = RefineProgressiveDcBlock(m_source, m_sourceSize, &m_position, block,
                                          &m_pendingMarker, m_al, m_huffmanState);
    }
    return status < 0 ? DecErrFailed : DecOk;
}

// A DC scan codes the components it lists. With several of them it is
// interleaved: MCU by MCU, each listed component's blocks in frame order,
// restart intervals counted in MCUs. With one component of a frame of
// several it is not interleaved: that component's blocks inside the frame
// in raster order, restart intervals counted in blocks.
DecoderStatus CJPEGDecoder::DecodeProgressiveDcScan() {
    bool inScan[4] = {false, false, false, false};
    int32_t listed = 0;
    for (int32_t j = 0; j < m_scanComponentCount; ++j) {
        if (!inScan[m_scanComponents[j]]) ++listed;
        inScan[m_scanComponents[j]] = true;
    }
    for (int32_t i = 0; i < m_componentCount; ++i) {
        if (inScan[i] && m_ah == 0 && DcTableOf(*m_components[i]) == nullptr) {
            return DecErrFailed;
        }
    }

    DecoderStatus status;
    if (listed == 1 && m_componentCount > 1) {
        CJPEGColorComponent& component = *m_components[m_scanComponent];
        status = VisitComponentBlocks(m_scanComponent, [&](int16_t* block) {
            return DecodeDcBlock(component, block);
        });
    } else {
        status = DecodeInterleavedDc(inScan);
    }
    if (status != DecOk) return status;

    if (m_al == 0) {
        bool allDone = true;
        for (int32_t i = 0; i < m_componentCount; ++i) {
            if (inScan[i]) m_components[i]->m_dcDone = 1;
            allDone = allDone && m_components[i]->m_dcDone;
        }
        if (allDone) m_dcDone = 1;
    }
    return DecOk;
}

DecoderStatus CJPEGDecoder::DecodeInterleavedDc(const bool* inScan) {
    for (int32_t row = 0; row < m_mcuRows; ++row) {
        for (int32_t column = 0; column < m_mcusPerRow; ++column) {
            DecoderStatus status = RestartIfDue();
            if (status != DecOk) return status;
            int16_t* block = McuBlocks(row, column);
            for (int32_t i = 0; i < m_componentCount; ++i) {
                CJPEGColorComponent& component = *m_components[i];
                const int32_t blocks = component.m_hBlocks * component.m_vBlocks;
                if (!inScan[i]) {
                    block += blocks * kBlockCoefficients;
                    continue;
                }
                for (int32_t b = 0; b < blocks; ++b) {
                    status = DecodeDcBlock(component, block);
                    if (status != DecOk) return status;
                    block += kBlockCoefficients;
                }
            }
            --m_restartsLeft;
        }
    }
    return DecOk;
}

// An AC scan holds one component (the last one its header lists).
DecoderStatus CJPEGDecoder::DecodeProgressiveAcScan() {
    CJPEGColorComponent& component = *m_components[m_scanComponent];
    const HuffmanDecodeTable* table = AcTableOf(component);
    if (table == nullptr) return DecErrFailed;
    const DecoderStatus status = VisitComponentBlocks(m_scanComponent, [&](int16_t* block) {
        const PrimitiveStatus result =
            m_ah == 0 ? DecodeProgressiveAcBlock(m_source, m_sourceSize, &m_position, block,
                                                 &m_pendingMarker, m_ss, m_se, m_al, table,
                                                 m_huffmanState)
                      : RefineProgressiveAcBlock(m_source, m_sourceSize, &m_position, block,
                                                 &m_pendingMarker, m_ss, m_se, m_al, table,
                                                 m_huffmanState);
        return result < 0 ? DecErrFailed : DecOk;
    });
    if (status != DecOk) return status;
    if (m_al == 0) component.m_acDone = 1;
    return DecOk;
}

// Walks the blocks of one component in its raster order, leaving out block
// rows and columns of a full-resolution component that lie wholly in the
// padding of the last MCU column or row: the block count T.81 gives a
// non-interleaved scan. Restart intervals count the visited blocks.
template <typename Visit>
DecoderStatus CJPEGDecoder::VisitComponentBlocks(int32_t componentIndex, Visit&& visit) {
    const CJPEGColorComponent& component = *m_components[componentIndex];
    const int32_t h = component.m_hBlocks;
    const int32_t v = component.m_vBlocks;
    const int32_t offset = ComponentBlockOffset(componentIndex);
    const ptrdiff_t mcuCoefficients =
        static_cast<ptrdiff_t>(ComponentBlockOffset(m_componentCount)) * kBlockCoefficients;
    for (int32_t row = 0; row < m_mcuRows; ++row) {
        for (int32_t blockRow = 0; blockRow < v; ++blockRow) {
            if ((row * v + blockRow) * 8 >= m_height) break;
            int16_t* const firstMcu = McuBlocks(row, 0) + (offset + blockRow * h) * kBlockCoefficients;
            for (int32_t column = 0; column < m_mcusPerRow; ++column) {
                int16_t* block = firstMcu + column * mcuCoefficients;
                for (int32_t blockColumn = 0; blockColumn < h; ++blockColumn) {
                    if ((column * h + blockColumn) * 8 >= m_width) break;
                    DecoderStatus status = RestartIfDue();
                    if (status != DecOk) return status;
                    status = visit(block);
                    if (status != DecOk) return status;
                    --m_restartsLeft;
                    block += kBlockCoefficients;
                }
            }
        }
    }
    return DecOk;
}

namespace {

std::atomic<int64_t> g_sharedFramePixels{CJPEGDecoder::kSharedFramePixels};

}  // namespace

void CJPEGDecoder::ShareFramesFrom(int64_t pixels) {
    g_sharedFramePixels.store(pixels, std::memory_order_relaxed);
}

// The threads worth using for `pixels` pixels of work: the calling thread
// alone for a frame too small to repay waking others.
int32_t CJPEGDecoder::ParticipantsFor(int64_t pixels) {
    if (m_workers == nullptr || pixels < g_sharedFramePixels.load(std::memory_order_relaxed)) return 1;
    return m_workers->Start();
}

namespace {

// What the row tasks of a progressive frame share.
struct FrameRowsJob {
    CJPEGDecoder* decoder;
    const uint16_t* const* quantTables;
};

}  // namespace

// The MCU rows are reconstructed on every thread lent, each row into its own
// lines of the planes.
DecoderStatus CJPEGDecoder::ReconstructFrame() {
    const uint16_t* quantTables[4] = {};
    for (int32_t i = 0; i < m_componentCount; ++i) {
        quantTables[i] = QuantTableOf(*m_components[i]);
        if (quantTables[i] == nullptr) return DecErrFailed;
    }
    FrameRowsJob job = {this, quantTables};
    if (ParticipantsFor(int64_t{m_width} * m_height) > 1) {
        m_workers->ParallelFor(m_mcuRows, ReconstructRowTask, &job);
    } else {
        for (int32_t row = 0; row < m_mcuRows; ++row) ReconstructMcuRow(row, quantTables);
    }
    return DecOk;
}

int32_t CJPEGDecoder::ReconstructRowTask(void* context, int32_t row) {
    const FrameRowsJob& job = *static_cast<const FrameRowsJob*>(context);
    job.decoder->ReconstructMcuRow(row, job.quantTables);
    return 0;
}

void CJPEGDecoder::ReconstructMcuRow(int32_t row, const uint16_t* const* quantTables) {
    const int32_t step = m_paddedWidth;
    for (int32_t column = 0; column < m_mcusPerRow; ++column) {
        const int16_t* block = McuBlocks(row, column);
        for (int32_t i = 0; i < m_componentCount; ++i) {
            const CJPEGColorComponent& component = *m_components[i];
            const uint16_t* quantTable = quantTables[i];
            const int32_t h = component.m_hBlocks;
            const int32_t v = component.m_vBlocks;
            // One border row above and one border column to the left of
            // half-resolution chroma.
            uint8_t* origin = component.m_borderedSamples;
            if (component.m_vUpsample == 2) origin += step;
            if (component.m_hUpsample == 2) origin += 1;
            for (int32_t blockRow = 0; blockRow < v; ++blockRow) {
                const ptrdiff_t line = static_cast<ptrdiff_t>(row * v + blockRow) * 8;
                uint8_t* base = origin + line * step + static_cast<ptrdiff_t>(column) * h * 8;
                for (int32_t blockColumn = 0; blockColumn < h; ++blockColumn) {
                    // The arguments are all valid: it cannot fail.
                    ReconstructBlock(block, base + blockColumn * 8, step, quantTable);
                    block += kBlockCoefficients;
                }
            }
        }
    }
}
