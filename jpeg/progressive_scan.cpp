// Scans of a progressive frame, decoded into a coefficient buffer that holds
// every block of the frame, and the reconstruction of that buffer into the
// component planes.
//
// Layout of the buffer: MCUs in raster order, N blocks each (N = the sum of
// H x V over the frame's components); inside an MCU the components follow in
// frame order, each with its V rows of H blocks.
#include <algorithm>
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

// The scan whose header was read last, as its header set it.
CJPEGDecoder::ScanParameters CJPEGDecoder::CurrentScan() const {
    ScanParameters scan = {};
    scan.ss = m_ss;
    scan.se = m_se;
    scan.ah = m_ah;
    scan.al = m_al;
    scan.listedCount = m_scanComponentCount;
    for (int32_t j = 0; j < m_scanComponentCount; ++j) scan.listed[j] = m_scanComponents[j];
    scan.scanComponent = m_scanComponent;
    scan.restartInterval = m_restartInterval;
    for (int32_t i = 0; i < m_componentCount; ++i) {
        scan.dcTables[i] = DcTableOf(*m_components[i]);
        scan.acTables[i] = AcTableOf(*m_components[i]);
    }
    return scan;
}

bool CJPEGDecoder::ScanParameters::IsAcScan() const { return ss != 0 && se != 0; }

// Decodes one scan from `cursor`, which stands at its entropy-coded data.
// `waits`, when not null, holds the scan back until the scans before it
// that touch the same coefficients are done with each block (and tells the
// scans after it how far it is): see progressive_threads.cpp.
DecoderStatus CJPEGDecoder::DecodeProgressiveScan(const ScanParameters& scan, const EntropyCursor& cursor,
                                                  ScanWaits* waits) {
    cursor.stream->ResetBits();
    cursor.stream->ClearMarker();
    if (scan.IsAcScan()) {
        return DecodeProgressiveAcScan(scan, cursor, waits);
    }
    return DecodeProgressiveDcScan(scan, cursor, waits);
}

DecoderStatus CJPEGDecoder::RestartIfDue(const EntropyCursor& cursor) {
    if (cursor.restartInterval != 0 && *cursor.restartsLeft == 0) {
        return HandleRestartBoundary(cursor);
    }
    return DecOk;
}

// A DC scan codes the components it lists. With several of them it is
// interleaved: MCU by MCU, each listed component's blocks in frame order,
// restart intervals counted in MCUs. With one component of a frame of
// several it is not interleaved: that component's blocks inside the frame
// in raster order, restart intervals counted in blocks.
DecoderStatus CJPEGDecoder::DecodeProgressiveDcScan(const ScanParameters& scan, const EntropyCursor& cursor,
                                                    ScanWaits* waits) {
    bool inScan[4] = {false, false, false, false};
    const int32_t listed = ListedComponents(scan, inScan);
    for (int32_t i = 0; i < m_componentCount; ++i) {
        if (inScan[i] && scan.ah == 0 && scan.dcTables[i] == nullptr) {
            return DecErrFailed;
        }
    }
    if (listed == 1 && m_componentCount > 1) {
        const HuffmanDecodeTable* table = scan.dcTables[scan.scanComponent];
        int16_t* predictor = cursor.predictors[scan.scanComponent];
        return VisitComponentBlocks(scan.scanComponent, cursor, waits,
                                    [&](const ComponentBlockRow& row, int32_t first, int32_t count) {
                                        return scan.ah == 0 ? DecodeProgressiveDcBlocks(cursor.stream, &row, first,
                                                                                        count, predictor, scan.al,
                                                                                        table)
                                                            : RefineProgressiveDcBlocks(cursor.stream, &row, first,
                                                                                        count, scan.al);
                                    });
    }
    return DecodeInterleavedDc(scan, inScan, cursor, waits);
}

// The components a scan lists: their count and a flag for each.
int32_t CJPEGDecoder::ListedComponents(const ScanParameters& scan, bool* inScan) const {
    int32_t listed = 0;
    for (int32_t j = 0; j < scan.listedCount; ++j) {
        if (!inScan[scan.listed[j]]) ++listed;
        inScan[scan.listed[j]] = true;
    }
    return listed;
}

// MCUs lie one after the other in the buffer, so the MCUs between two
// restart boundaries are decoded in one call.
DecoderStatus CJPEGDecoder::DecodeInterleavedDc(const ScanParameters& scan, const bool* inScan,
                                                const EntropyCursor& cursor, ScanWaits* waits) {
    DcScanLayout layout = {};
    layout.mcuBlocks = ComponentBlockOffset(m_componentCount);
    int32_t index = 0;
    for (int32_t i = 0; i < m_componentCount; ++i) {
        const CJPEGColorComponent& component = *m_components[i];
        const int32_t blocks = component.m_hBlocks * component.m_vBlocks;
        for (int32_t b = 0; b < blocks; ++b, ++index) {
            if (!inScan[i]) continue;
            if (layout.blockCount == kMaxBlocksPerMcu) return DecErrFailed;
            layout.blockIndexes[layout.blockCount] = index;
            layout.dcTables[layout.blockCount] = scan.dcTables[i];
            layout.dcPredictors[layout.blockCount] = cursor.predictors[i];
            ++layout.blockCount;
        }
    }
    const int32_t mcuCount = m_mcuRows * m_mcusPerRow;
    int32_t& restartsLeft = *cursor.restartsLeft;
    for (int32_t mcu = 0; mcu < mcuCount;) {
        const DecoderStatus status = RestartIfDue(cursor);
        if (status != DecOk) return status;
        int32_t count = mcuCount - mcu;
        if (cursor.restartInterval != 0 && restartsLeft < count) count = restartsLeft;
        // Scans decoded together meet at MCU rows: a run does not go past one.
        if (waits != nullptr) count = std::min(count, m_mcusPerRow - mcu % m_mcusPerRow);
        WaitForRow(waits, mcu / m_mcusPerRow);
        int16_t* mcus = McuBlocks(0, 0) + static_cast<ptrdiff_t>(mcu) * layout.mcuBlocks * kBlockCoefficients;
        const PrimitiveStatus result = scan.ah == 0
                                           ? DecodeProgressiveDcMcus(cursor.stream, &layout, mcus, count, scan.al)
                                           : RefineProgressiveDcMcus(cursor.stream, &layout, mcus, count, scan.al);
        if (result < 0) return DecErrFailed;
        restartsLeft -= count;
        mcu += count;
        if (mcu % m_mcusPerRow == 0) PublishRows(waits, mcu / m_mcusPerRow);
    }
    return DecOk;
}

// An AC scan holds one component (the last one its header lists).
DecoderStatus CJPEGDecoder::DecodeProgressiveAcScan(const ScanParameters& scan, const EntropyCursor& cursor,
                                                    ScanWaits* waits) {
    const HuffmanDecodeTable* table = scan.acTables[scan.scanComponent];
    if (table == nullptr) return DecErrFailed;
    return VisitComponentBlocks(scan.scanComponent, cursor, waits,
                                [&](const ComponentBlockRow& row, int32_t first, int32_t count) {
                                    return scan.ah == 0 ? DecodeProgressiveAcBlocks(cursor.stream, &row, first, count,
                                                                                    scan.ss, scan.se, scan.al, table)
                                                        : RefineProgressiveAcBlocks(cursor.stream, &row, first, count,
                                                                                    scan.ss, scan.se, scan.al, table);
                                });
}

// Walks the blocks of one component in its raster order, leaving out block
// rows and columns of a full-resolution component that lie wholly in the
// padding of the last MCU column or row: the block count T.81 gives a
// non-interleaved scan. Restart intervals count the visited blocks.
// visit(row, first, count) decodes the blocks first..first + count - 1 of a
// block row, as many as lie before the row's end or the next restart
// boundary; a failure of a primitive ends the walk with DecErrFailed.
template <typename VisitRun>
DecoderStatus CJPEGDecoder::VisitComponentBlocks(int32_t componentIndex, const EntropyCursor& cursor,
                                                 ScanWaits* waits, VisitRun&& visit) {
    const CJPEGColorComponent& component = *m_components[componentIndex];
    const int32_t h = component.m_hBlocks;
    const int32_t v = component.m_vBlocks;
    const int32_t offset = ComponentBlockOffset(componentIndex);
    const ptrdiff_t mcuCoefficients =
        static_cast<ptrdiff_t>(ComponentBlockOffset(m_componentCount)) * kBlockCoefficients;
    // The block columns inside the frame, at most the MCU columns' blocks.
    const int32_t blockColumns = VisitedBlockColumns(component);
    int32_t& restartsLeft = *cursor.restartsLeft;
    for (int32_t row = 0; row < m_mcuRows; ++row) {
        WaitForRow(waits, row);
        for (int32_t blockRow = 0; blockRow < v; ++blockRow) {
            if ((row * v + blockRow) * 8 >= m_height) break;
            int16_t* const first = McuBlocks(row, 0) + (offset + blockRow * h) * kBlockCoefficients;
            const ComponentBlockRow blocks = {first, h, mcuCoefficients};
            for (int32_t column = 0; column < blockColumns;) {
                const DecoderStatus status = RestartIfDue(cursor);
                if (status != DecOk) return status;
                int32_t count = blockColumns - column;
                if (cursor.restartInterval != 0 && restartsLeft < count) count = restartsLeft;
                if (visit(blocks, column, count) < 0) return DecErrFailed;
                restartsLeft -= count;
                column += count;
            }
        }
        PublishRows(waits, row + 1);
    }
    return DecOk;
}

// The block columns of a component that a non-interleaved scan visits: the
// ones inside the frame, at most the MCU columns' blocks.
int32_t CJPEGDecoder::VisitedBlockColumns(const CJPEGColorComponent& component) const {
    return std::min(m_mcusPerRow * component.m_hBlocks, (m_width + 7) / 8);
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
