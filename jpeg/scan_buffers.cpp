// Working buffers of a frame, allocated once at its first scan, and the
// look-up of the tables a scan's components name.
#include <cstdint>

#include "jpeg/component.h"
#include "jpeg/decoder.h"
#include "jpeg/huffman_table.h"
#include "jpeg/quant_table.h"
#include "primitives/memory.h"

namespace {

constexpr int64_t kBlockBytes = 64 * sizeof(int16_t);

}  // namespace

// Sizes in bytes of every buffer the current frame needs. Formed in 64 bits:
// the caller refuses a frame any of whose sizes leaves the 32-bit range.
struct ScanBufferSizes {
    int64_t samples[4];
    int64_t bordered[4];
    int64_t savedRow;
    int64_t coefficients;
    int64_t rowBlocks;
    int32_t blocksPerMcu;

    bool FitIn32Bits(int32_t componentCount) const {
        int64_t largest = savedRow > coefficients ? savedRow : coefficients;
        if (rowBlocks > largest) largest = rowBlocks;
        for (int32_t i = 0; i < componentCount; ++i) {
            if (samples[i] > largest) largest = samples[i];
            if (bordered[i] > largest) largest = bordered[i];
        }
        return largest <= INT32_MAX;
    }
};

namespace {

// The sizes for a frame of the given geometry, whose MCU holds
// `blocksPerMcu` blocks (the sum of H x V over its components).
ScanBufferSizes ComputeSizes(SamplingMode mode, int32_t componentCount, int32_t blocksPerMcu,
                             bool progressive, int32_t mcusPerRow, int32_t mcuRows,
                             int32_t mcuSizeX, int32_t mcuSizeY) {
    const int64_t m = mcusPerRow, r = mcuRows, w = mcuSizeX, h = mcuSizeY;
    ScanBufferSizes sizes = {};
    for (int32_t i = 0; i < componentCount; ++i) {
        if (progressive) {
            sizes.samples[i] = m * w * r * h;
            sizes.bordered[i] = (r * h + 2) * (m * w + 2);
        } else {
            const bool halfChroma = IsHalfResolutionChroma(mode, i);
            sizes.samples[i] = w * h * m;
            if (halfChroma) {
                sizes.bordered[i] = mode == SamplingHalfH ? (w / 2 + 2) * h * m
                                                          : (w / 2 + 2) * (h / 2 + 2) * m;
            }
        }
    }
    sizes.savedRow = mode == SamplingHalfHV ? m * w / 2 + 2 : 0;
    // The whole frame's coefficients, MCU after MCU with no room between
    // them: the layout the progressive scans address.
    sizes.coefficients = progressive ? m * r * blocksPerMcu * kBlockBytes : 0;
    sizes.blocksPerMcu = blocksPerMcu;
    sizes.rowBlocks = progressive ? 0 : m * blocksPerMcu * kBlockBytes;
    return sizes;
}

}  // namespace

// Whether the frame read so far can have its buffers: the geometry that
// ParseHeaders will derive, in 64-bit arithmetic.
bool CJPEGDecoder::FrameFitsBuffers() const {
    const McuGrid grid = McuGridOf(m_samplingMode, m_width, m_height);
    return ComputeSizes(m_samplingMode, m_componentCount, ComponentBlockOffset(m_componentCount),
                        m_progressive, grid.perRow, grid.rows, grid.sizeX, grid.sizeY)
        .FitIn32Bits(m_componentCount);
}

DecoderStatus CJPEGDecoder::PrepareScanBuffers() {
    if (m_samplingMode == SamplingUnsupported) {
        return DecErrUnsupported;
    }
    const ScanBufferSizes sizes = ComputeSizes(m_samplingMode, m_componentCount,
                                               ComponentBlockOffset(m_componentCount),
                                               m_progressive, m_mcusPerRow, m_mcuRows,
                                               m_mcuSizeX, m_mcuSizeY);
    if (!sizes.FitIn32Bits(m_componentCount)) {
        return DecErrFailed;
    }
    // A sequential frame shared between threads has one slot of MCU-row
    // buffers per thread: the band planes and the blocks come `slots` times.
    const int32_t participants = m_progressive ? 1 : SequentialParticipants();
    const int32_t slots = participants > 1 ? kSlotsPerThread * participants : 1;
    for (int32_t i = 0; i < m_componentCount; ++i) {
        m_bandSamplesBytes[i] = static_cast<int32_t>(m_progressive ? 0 : sizes.samples[i]);
        m_bandBorderedBytes[i] = static_cast<int32_t>(m_progressive ? 0 : sizes.bordered[i]);
        if (slots * sizes.samples[i] > INT32_MAX || slots * sizes.bordered[i] > INT32_MAX) {
            return DecErrFailed;
        }
    }
    for (int32_t i = 0; i < m_componentCount; ++i) {
        CJPEGColorComponent* component = m_components[i];
        if (sizes.bordered[i] != 0 &&
            !ReserveAligned(component->m_borderedSamples, component->m_borderedCapacity, slots * sizes.bordered[i])) {
            return DecErrFailed;
        }
        if (!ReserveAligned(component->m_samples, component->m_samplesCapacity, slots * sizes.samples[i])) {
            return DecErrFailed;
        }
        if (sizes.savedRow != 0 &&
            !ReserveAligned(component->m_savedRow, component->m_savedRowCapacity, sizes.savedRow)) {
            return DecErrFailed;
        }
    }
    if (m_progressive) {
        // The coefficients start at zero in every frame: every scan adds to
        // them.
        if (!m_buffersPrepared) {
            if (m_coefficients != nullptr && m_coefficientsCapacity >= sizes.coefficients) {
                ZeroBytes(m_coefficients, static_cast<int32_t>(sizes.coefficients));
            } else {
                AlignedFree(m_coefficients);
                m_coefficients = static_cast<int16_t*>(
                    AlignedAllocZeroed(static_cast<int32_t>(sizes.coefficients)));
                m_coefficientsCapacity = m_coefficients != nullptr ? static_cast<int32_t>(sizes.coefficients) : 0;
                if (m_coefficients == nullptr) return DecErrFailed;
            }
        }
    } else {
        m_blocksPerMcu = sizes.blocksPerMcu;
        if (slots * sizes.rowBlocks > INT32_MAX) return DecErrFailed;
        if (!ReserveAligned(m_rowBlocks, m_rowBlocksCapacity, slots * sizes.rowBlocks)) return DecErrFailed;
        if (!ReserveAligned(m_blockExtents, m_blockExtentsCapacity, slots * sizes.rowBlocks / kBlockBytes)) {
            return DecErrFailed;
        }
        // What the threads sharing the frame know of each MCU row.
        if (slots > 1 && (!ReserveAligned(m_rowStates, m_rowStatesCapacity, 2 * int64_t{m_mcuRows}) ||
                          !ReserveAligned(m_runStarts, m_runStartsCapacity, int64_t{m_mcuRows} * sizeof(int32_t)))) {
            return DecErrFailed;
        }
        m_bandSlots = slots;
    }
    m_buffersPrepared = true;
    return DecOk;
}

// Table look-ups by a component's selectors. A selector outside the four
// slots, or naming a slot no segment has filled, yields null.
const HuffmanDecodeTable* CJPEGDecoder::DcTableOf(const CJPEGColorComponent& component) const {
    const int32_t id = component.m_dcTableId;
    if (id < 0 || id > 3 || m_dcTables[id] == nullptr) return nullptr;
    return m_dcTables[id]->m_codeTable;
}

const HuffmanDecodeTable* CJPEGDecoder::AcTableOf(const CJPEGColorComponent& component) const {
    const int32_t id = component.m_acTableId;
    if (id < 0 || id > 3 || m_acTables[id] == nullptr) return nullptr;
    return m_acTables[id]->m_codeTable;
}

const uint16_t* CJPEGDecoder::QuantTableOf(const CJPEGColorComponent& component) const {
    const int32_t id = component.m_quantTableId;
    if (id < 0 || id > 3 || m_quantTables[id] == nullptr) return nullptr;
    return m_quantTables[id]->m_preparedValues;
}
