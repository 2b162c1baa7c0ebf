// DQT segments and the quantization tables they define.
#include "jpeg/quant_table.h"

#include <cstring>
#include <new>

#include "jpeg/decoder.h"
#include "primitives/idct.h"
#include "primitives/zigzag.h"

namespace {

// The first address at or after `address` that is a multiple of `boundary`
// (a power of two).
uint8_t* AlignUp(uint8_t* address, uintptr_t boundary) {
    const uintptr_t value = reinterpret_cast<uintptr_t>(address);
    return address + ((boundary - 1) & (0 - (value & (boundary - 1))));
}

constexpr int32_t kQuantValues = 64;

}  // namespace

CJPEGDecoderQuantTable::CJPEGDecoderQuantTable() {
    m_preparedValues = reinterpret_cast<uint16_t*>(AlignUp(m_preparedStorage, kAlignment));
    std::memset(m_preparedValues, 0, 4);
}

CJPEGDecoderQuantTable::~CJPEGDecoderQuantTable() = default;

DecoderStatus CJPEGDecoderQuantTable::Define(const uint8_t* rawValues) {
    return PrepareQuantTable(rawValues, m_preparedValues) == PrimOk ? DecOk : DecErrFailed;
}

DecoderStatus CJPEGDecoderQuantTable::DefineWide(const uint16_t* wideValues) {
    uint8_t lowBytes[kQuantValues];
    for (int32_t i = 0; i < kQuantValues; ++i) lowBytes[i] = static_cast<uint8_t>(wideValues[i]);
    const DecoderStatus status = Define(lowBytes);
    if (status != DecOk) return status;
    constexpr uint16_t kLargestQuantizer = 32767;
    for (int32_t p = 0; p < kQuantValues; ++p) {
        const uint16_t value = wideValues[NaturalToZigZag[p]];
        m_preparedValues[p] = value < kLargestQuantizer ? value : kLargestQuantizer;
    }
    return DecOk;
}

DecoderStatus CJPEGDecoder::ReadQuantTables() {
    if (!HasBytes(2)) return DecErrEndOfData;
    int32_t remaining = TakeWord() - 2;
    if (remaining < 0) return DecErrBadLength;
    while (remaining > 0) {
        if (!HasBytes(1)) return DecErrEndOfData;
        const int32_t precisionAndId = TakeByte();
        const int32_t precision = precisionAndId >> 4;
        const int32_t id = precisionAndId & 0x0F;
        if (id > 3) return DecErrBadQuantTableId;

        // 8-bit values are one byte each; any other precision is read as
        // 16-bit words. T.81 allows those only for 12-bit samples, yet
        // encoders write them for 8-bit frames at low quality, and their
        // values must be kept whole for the picture to come out right.
        const bool wide = precision != 0;
        if (!HasBytes(kQuantValues * (wide ? 2 : 1))) return DecErrEndOfData;
        uint16_t values[kQuantValues];
        for (int32_t i = 0; i < kQuantValues; ++i) {
            values[i] = static_cast<uint16_t>(wide ? TakeWord() : TakeByte());
        }

        delete m_quantTables[id];
        m_quantTables[id] = new (std::nothrow) CJPEGDecoderQuantTable;
        if (m_quantTables[id] == nullptr) return DecErrFailed;
        const DecoderStatus status = m_quantTables[id]->DefineWide(values);
        if (status != DecOk) return status;
        // The length accounting charges 64 x Pq extra bytes, whatever was read.
        remaining -= 1 + kQuantValues + kQuantValues * precision;
    }
    if (remaining != 0) return DecErrBadLength;
    m_stream.ClearMarker();
    return DecOk;
}
