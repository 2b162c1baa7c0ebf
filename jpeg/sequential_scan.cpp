// The scan of a sequential frame, decoded one MCU row at a time: entropy
// decoding of the row's blocks, reconstruction into the row's band of
// component samples, then up-sampling and colour conversion of the band's
// lines. Restart interval boundaries are handled here for progressive scans
// too. A frame shared between threads is decoded by sequential_threads.cpp
// with the same row steps.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "jpeg/component.h"
#include "jpeg/decoder.h"
#include "primitives/huffman.h"
#include "primitives/kernels.h"
#include "primitives/zigzag.h"

namespace {

constexpr int32_t kBlockCoefficients = 64;

}  // namespace

// Zeroes the rows of a block that its entropy decoding can have written (its
// extent: the highest zig-zag index written), so that the block is all zero
// again for the next MCU row: the top half, or all of it.
void CJPEGDecoder::ZeroBackBlock(int16_t* block, int32_t extent) {
    static const int16_t kZeroBlock[64] = {};
    if (ZigZagRows.rowsReached[extent] <= 4) {
        std::memcpy(block, kZeroBlock, sizeof(kZeroBlock) / 2);
    } else {
        std::memcpy(block, kZeroBlock, sizeof(kZeroBlock));
    }
}

DecoderStatus CJPEGDecoder::DecodeSequentialScan() {
    m_stream.ResetBits();
    m_stream.ClearMarker();
    // Every component must name tables that exist before any block is read.
    for (int32_t i = 0; i < m_componentCount; ++i) {
        const CJPEGColorComponent& component = *m_components[i];
        if (DcTableOf(component) == nullptr || AcTableOf(component) == nullptr ||
            QuantTableOf(component) == nullptr) {
            return DecErrFailed;
        }
    }
    // The entropy decoder writes only the coefficients it decodes: the
    // blocks start all zero, and the reconstruction zeroes them back.
    std::memset(m_rowBlocks, 0,
                static_cast<size_t>(m_bandSlots) * m_mcusPerRow * m_blocksPerMcu * kBlockCoefficients *
                    sizeof(int16_t));
    const DecoderStatus status = m_bandSlots > 1 ? DecodeRowsTogether() : DecodeRowsAlone();
    if (status != DecOk) return DecErrFailed;
    m_bufferRows = LastBandRows();
    return DecOk;
}

DecoderStatus CJPEGDecoder::DecodeRowsAlone() {
    const BandSlot slot = SlotAt(0);
    const EntropyCursor cursor = FrameCursor();
    for (int32_t row = 0; row < m_mcuRows; ++row) {
        if (EntropyDecodeRow(slot, cursor) != DecOk) return DecErrFailed;
        InverseTransformRow(slot);
        if (OutputMcuRow(row) != DecOk) return DecErrFailed;
    }
    return DecOk;
}

// Slot `index`: the index-th band of every buffer.
CJPEGDecoder::BandSlot CJPEGDecoder::SlotAt(int32_t index) const {
    const ptrdiff_t blocks = static_cast<ptrdiff_t>(m_mcusPerRow) * m_blocksPerMcu;
    BandSlot slot = {};
    slot.blocks = m_rowBlocks + index * blocks * kBlockCoefficients;
    slot.extents = m_blockExtents + index * blocks;
    for (int32_t i = 0; i < m_componentCount; ++i) {
        const CJPEGColorComponent& component = *m_components[i];
        slot.samples[i] = component.m_samples + static_cast<ptrdiff_t>(index) * m_bandSamplesBytes[i];
        if (component.m_borderedSamples != nullptr) {
            slot.bordered[i] = component.m_borderedSamples + static_cast<ptrdiff_t>(index) * m_bandBorderedBytes[i];
        }
    }
    return slot;
}

// The frame's own stream, DC predictions and restart count.
CJPEGDecoder::EntropyCursor CJPEGDecoder::FrameCursor() {
    EntropyCursor cursor = {&m_stream, {}, &m_restartsLeft, m_restartInterval, nullptr};
    for (int32_t i = 0; i < m_componentCount; ++i) cursor.predictors[i] = &m_components[i]->m_dcPredictor;
    return cursor;
}

// The tables and DC predictions of each block of an MCU: component after
// component in frame order, each with its V rows of H blocks. False when
// the MCU has more blocks than a layout holds.
bool CJPEGDecoder::FillMcuLayout(const EntropyCursor& cursor, SequentialMcuLayout* layout) const {
    *layout = {};
    for (int32_t i = 0; i < m_componentCount; ++i) {
        const CJPEGColorComponent& component = *m_components[i];
        const int32_t blockCount = component.m_hBlocks * component.m_vBlocks;
        for (int32_t b = 0; b < blockCount; ++b) {
            if (layout->blockCount == kMaxBlocksPerMcu) return false;
            layout->dcTables[layout->blockCount] = DcTableOf(component);
            layout->acTables[layout->blockCount] = AcTableOf(component);
            layout->dcPredictors[layout->blockCount] = cursor.predictors[i];
            ++layout->blockCount;
        }
    }
    return true;
}

// The component of the `blockInMcu`-th block of an MCU.
int32_t CJPEGDecoder::BlockComponent(int32_t blockInMcu) const {
    for (int32_t i = 0; i < m_componentCount; ++i) {
        blockInMcu -= m_components[i]->m_hBlocks * m_components[i]->m_vBlocks;
        if (blockInMcu < 0) return i;
    }
    return m_componentCount - 1;
}

// Blocks lie MCU after MCU, as FillMcuLayout orders them. The MCUs between
// two restart boundaries are decoded in one call.
DecoderStatus CJPEGDecoder::EntropyDecodeRow(const BandSlot& slot, const EntropyCursor& cursor) {
    SequentialMcuLayout layout;
    if (!FillMcuLayout(cursor, &layout)) return DecErrFailed;
    int32_t& restartsLeft = *cursor.restartsLeft;
    for (int32_t mcu = 0; mcu < m_mcusPerRow;) {
        if (cursor.restartInterval != 0 && restartsLeft == 0) {
            const DecoderStatus status = HandleRestartBoundary(cursor);
            if (status != DecOk) return status;
        }
        int32_t count = m_mcusPerRow - mcu;
        if (cursor.restartInterval != 0 && restartsLeft < count) count = restartsLeft;
        const ptrdiff_t first = static_cast<ptrdiff_t>(mcu) * m_blocksPerMcu;
        if (DecodeSequentialMcus(cursor.stream, &layout, count, slot.blocks + first * kBlockCoefficients,
                                 slot.extents + first) < 0) {
            return DecErrFailed;
        }
        // Counted also without restarts; the value is then never looked at.
        restartsLeft -= count;
        mcu += count;
    }
    return DecOk;
}

// Every block of the slot's row into the slot's band: full-resolution
// components into their samples, half-resolution chroma into the bordered
// samples, one border column on the left and, for 4:2:0, one border row on
// top. Each component's blocks go along each of its block rows, two
// neighbours at a time (the pair kernel transforms two whole blocks at
// once); each block is zeroed back for the next row.
void CJPEGDecoder::InverseTransformRow(const BandSlot& slot) {
    int32_t firstInMcu = 0;  // the component's first block within each MCU
    for (int32_t i = 0; i < m_componentCount; ++i) {
        const CJPEGColorComponent& component = *m_components[i];
        const bool halfChroma = IsHalfChroma(i);
        const ptrdiff_t step = halfChroma ? BandChromaStep() : m_paddedWidth;
        uint8_t* plane = halfChroma ? slot.bordered[i] : slot.samples[i];
        if (component.m_vUpsample == 2) plane += step;
        if (component.m_hUpsample == 2) plane += 1;
        for (int32_t v = 0; v < component.m_vBlocks; ++v) {
            TransformBlockRow(slot, component, firstInMcu + v * component.m_hBlocks, plane + 8 * v * step, step,
                              QuantTableOf(component));
        }
        firstInMcu += component.m_hBlocks * component.m_vBlocks;
    }
}

// One block row of a component across the MCU row: block x of the row is
// block `firstInMcu + x % H` of MCU x / H (H blocks across an MCU), and its
// samples start 8 x bytes into `samples`.
void CJPEGDecoder::TransformBlockRow(const BandSlot& slot, const CJPEGColorComponent& component,
                                     int32_t firstInMcu, uint8_t* samples, ptrdiff_t step,
                                     const uint16_t* quantTable) {
    const Kernels& kernels = ActiveKernels();
    const int32_t across = m_mcusPerRow * component.m_hBlocks;
    int32_t mcu = 0, h = 0;
    const auto nextBlock = [&] {
        const ptrdiff_t index = static_cast<ptrdiff_t>(mcu) * m_blocksPerMcu + firstInMcu + h;
        if (++h == component.m_hBlocks) {
            h = 0;
            ++mcu;
        }
        return index;
    };
    int32_t x = 0;
    for (; x + 1 < across; x += 2) {
        const ptrdiff_t left = nextBlock(), right = nextBlock();
        int16_t* leftBlock = slot.blocks + left * kBlockCoefficients;
        int16_t* rightBlock = slot.blocks + right * kBlockCoefficients;
        kernels.reconstructBlockPair(leftBlock, rightBlock, samples + 8 * x, step, quantTable, slot.extents[left],
                                     slot.extents[right]);
        ZeroBackBlock(leftBlock, slot.extents[left]);
        ZeroBackBlock(rightBlock, slot.extents[right]);
    }
    if (x < across) {
        const ptrdiff_t last = nextBlock();
        int16_t* block = slot.blocks + last * kBlockCoefficients;
        kernels.reconstructBlock(block, samples + 8 * x, step, quantTable, slot.extents[last]);
        ZeroBackBlock(block, slot.extents[last]);
    }
}

// The end of a restart interval: the entropy decoder starts afresh after the
// next marker. Whatever marker comes first ends the interval; its number is
// not checked, so a damaged RSTn costs one interval at most.
DecoderStatus CJPEGDecoder::HandleRestartBoundary(const EntropyCursor& cursor) {
    // The fill bits that end the finished interval are dropped with the rest.
    EntropyStream& stream = *cursor.stream;
    stream.ResetBits();
    for (int32_t i = 0; i < m_componentCount; ++i) {
        *cursor.predictors[i] = 0;
    }
    if (!stream.TakeIntervalEndMarker()) return DecErrFailed;
    *cursor.restartsLeft = cursor.restartInterval;
    if (cursor.boundaries != nullptr) ++*cursor.boundaries;
    return DecOk;
}
