// The byte stream and its marker segments: the marker loop of both passes,
// frame and scan headers, DRI, APP14 and restart markers.
//
// Every read is bounded by the size of the data: a segment whose length
// field, or whose content, runs past the end of the data fails with
// DecErrEndOfData.
#include <algorithm>
#include <cstdint>
#include <new>

#include "jpeg/component.h"
#include "jpeg/decoder.h"

namespace {

// Marker codes (the byte after 0xFF).
constexpr int32_t kSof0 = 0xC0, kSof1 = 0xC1, kSof2 = 0xC2;
constexpr int32_t kDht = 0xC4;
constexpr int32_t kRst0 = 0xD0, kRst7 = 0xD7;
constexpr int32_t kSoi = 0xD8, kEoi = 0xD9, kSos = 0xDA, kDqt = 0xDB, kDri = 0xDD;
constexpr int32_t kApp14 = 0xEE;

// Coding processes this decoder does not implement: lossless, hierarchical
// and arithmetic-coded frames.
bool IsUnsupportedFrame(int32_t marker) {
    switch (marker) {
        case 0xC3: case 0xC5: case 0xC6: case 0xC7:
        case 0xC9: case 0xCA: case 0xCB:
        case 0xCD: case 0xCE: case 0xCF:
            return true;
        default:
            return false;
    }
}

constexpr int32_t kMaxComponents = 4;

constexpr int32_t kAdobeHeaderBytes = 12;  // "Adobe", version, flags0, flags1, transform

struct FrameComponentFields {
    int32_t id, h, v, quantTableId;
};

}  // namespace

bool CJPEGDecoder::HasBytes(int32_t count) const { return m_stream.HasBytes(count); }

int32_t CJPEGDecoder::TakeByte() { return m_stream.TakeByte(); }

int32_t CJPEGDecoder::TakeWord() { return m_stream.TakeWord(); }

DecoderStatus CJPEGDecoder::FindMarker() {
    return m_stream.FindMarker() ? DecOk : DecErrEndOfData;
}

DecoderStatus CJPEGDecoder::SkipSegment() {
    if (!HasBytes(3)) {
        return DecErrEndOfData;
    }
    const int32_t length = TakeWord();
    if (length < 2) {
        return DecErrBadLength;  // the length counts its own two bytes
    }
    // A segment that runs past the data leaves the position at its end; the
    // next marker search then reports the end of the data.
    m_stream.m_position += std::min(length - 2, m_stream.m_sourceSize - m_stream.m_position);
    m_stream.ClearMarker();
    return DecOk;
}

DecoderStatus CJPEGDecoder::RunMarkerLoop(MarkerPass pass) {
    m_stream.ClearMarker();
    for (;;) {
        if (m_stream.m_pendingMarker == 0) {
            const DecoderStatus found = FindMarker();
            if (found != DecOk) return found;
        }
        const int32_t marker = m_stream.m_pendingMarker;
        DecoderStatus status = DecOk;
        if (marker == kSof0 || marker == kSof1) {
            status = ReadFrameHeader();
        } else if (marker == kSof2) {
            status = ReadProgressiveFrameHeader();
        } else if (IsUnsupportedFrame(marker)) {
            status = DecErrUnsupported;
        } else if (marker == kDht) {
            status = ReadHuffmanTables(m_dcTables, m_acTables);
        } else if (marker >= kRst0 && marker <= kRst7) {
            status = ConsumeRestartMarker();
        } else if (marker == kSoi) {
            m_stream.ClearMarker();
        } else if (marker == kEoi) {
            m_stream.ClearMarker();
            return ProduceOwedPicture();
        } else if (marker == kSos) {
            status = ReadScanHeader();
            if (status == DecOk && pass == PassHeader) {
                // Step back onto the 0xFF of the SOS marker so that the data
                // pass meets this scan again.
                m_stream.StepBack(m_scanLength + 2);
                return DecOk;
            }
            if (status == DecOk) status = HandleScan();
        } else if (marker == kDqt) {
            status = ReadQuantTables();
        } else if (marker == kDri) {
            status = ReadRestartInterval();
        } else if (marker == kApp14) {
            status = ReadAdobeSegment();
        } else {
            status = SkipSegment();
        }
        if (status != DecOk) return status;
    }
}

// The data pass's work for one scan whose header has been read.
DecoderStatus CJPEGDecoder::HandleScan() {
    const DecoderStatus status = PrepareScanBuffers();
    if (status != DecOk) return status;
    if (!m_progressive) {
        return DecodeSequentialScan();
    }
    // A progressive scan that fails is not the end of the frame: the loop goes
    // on with the next marker. Whatever the scans brought, complete or not,
    // failed part-way or not, the frame owes the picture of every coefficient
    // decoded, built once when the frame ends.
    // Scans beyond any number a frame can use are not decoded at all, so that
    // a small stream cannot make the decoder work through thousands of them.
    // A frame shared between threads notes its scans and decodes them
    // together later; a scan whose data does not let the pass go on without
    // decoding it is decoded here, after the scans noted before it, and the
    // frame's later scans with it.
    if (++m_scanCount <= kMaxProgressiveScans) {
        const ScanParameters scan = CurrentScan();
        if (!DefersScans() || !DeferScan(scan)) {
            if (m_scanDeferral == ScanDeferral::Deferring) {
                DecodeDeferredScans();
                m_scanDeferral = ScanDeferral::Never;
            }
            // A scan that fails leaves what it decoded; the frame goes on.
            DecodeProgressiveScan(scan, FrameCursor(), nullptr);
        }
    }
    m_pictureOwed = true;
    return DecOk;
}

// Builds the picture a progressive frame owes from the coefficients of every
// scan decoded. Building it once, when the frame ends, gives the picture that
// rebuilding after each owing scan would leave, without rebuilding the whole
// frame per scan.
DecoderStatus CJPEGDecoder::ProduceOwedPicture() {
    DecodeDeferredScans();
    if (!m_pictureOwed) return DecOk;
    m_pictureOwed = false;
    const DecoderStatus status = ReconstructFrame();
    if (status != DecOk) return status;
    return OutputFrame();
}

DecoderStatus CJPEGDecoder::ReadFrameHeader() { return ReadAnyFrameHeader(false); }

DecoderStatus CJPEGDecoder::ReadProgressiveFrameHeader() { return ReadAnyFrameHeader(true); }

DecoderStatus CJPEGDecoder::ReadAnyFrameHeader(bool progressive) {
    if (!HasBytes(3)) return DecErrEndOfData;
    const int32_t length = TakeWord();
    const int32_t precision = TakeByte();
    if (precision != 8) return DecErrUnsupported;

    if (!HasBytes(5)) return DecErrEndOfData;
    const int32_t height = TakeWord();
    const int32_t width = TakeWord();
    const int32_t count = TakeByte();
    if (count > kMaxComponents || count == 0) return DecErrBadFrameComponents;
    if (length != 8 + 3 * count) return DecErrBadLength;
    // Y = 0 announces the height in a later DNL segment, which this decoder
    // does not read; X = 0 is no picture at all.
    if (width == 0 || height == 0) return DecErrUnsupported;

    if (!HasBytes(3 * count)) return DecErrEndOfData;
    FrameComponentFields fields[kMaxComponents];
    for (int32_t i = 0; i < count; ++i) {
        fields[i].id = TakeByte();
        const int32_t factors = TakeByte();
        fields[i].h = factors >> 4;
        fields[i].v = factors & 0x0F;
        fields[i].quantTableId = TakeByte();
        if (fields[i].h == 0 || fields[i].v == 0) return DecErrBadFrameComponents;
    }

    // Once the data pass has begun, the buffers are sized for this frame's
    // geometry: a later frame header may repeat it but not change it.
    if (m_frameFrozen) {
        bool same = width == m_width && height == m_height && count == m_componentCount &&
                    progressive == m_progressive;
        for (int32_t i = 0; same && i < count; ++i) {
            same = fields[i].h == m_components[i]->m_hBlocks &&
                   fields[i].v == m_components[i]->m_vBlocks;
        }
        if (!same) return DecErrUnsupported;
    }

    // The components about to be replaced hold the planes an owed picture is
    // built through.
    const DecoderStatus owed = ProduceOwedPicture();
    if (owed != DecOk) return owed;
    // A component object is reused with its buffers; only its fields are new.
    for (int32_t i = 0; i < count; ++i) {
        if (m_components[i] == nullptr) {
            m_components[i] = new (std::nothrow) CJPEGColorComponent;
            if (m_components[i] == nullptr) return DecErrFailed;
        }
        CJPEGColorComponent* component = m_components[i];
        component->ResetFields();
        component->m_componentId = fields[i].id;
        component->m_hBlocks = fields[i].h;
        component->m_vBlocks = fields[i].v;
        component->m_quantTableId = fields[i].quantTableId;
        if (progressive) component->m_frameIndex = i;
    }
    m_width = width;
    m_height = height;
    m_componentCount = count;
    if (progressive) m_progressive = true;

    const DecoderStatus status = DecideSamplingMode();
    if (status != DecOk) return status;
    if (!FrameFitsBuffers()) return DecErrUnsupported;
    m_stream.ClearMarker();
    return DecOk;
}

// Classifies the sampling factors into one of the supported structures and
// sets each component's up-sampling factors.
DecoderStatus CJPEGDecoder::DecideSamplingMode() {
    auto factorsAre = [this](int32_t i, int32_t h, int32_t v) {
        return m_components[i]->m_hBlocks == h && m_components[i]->m_vBlocks == v;
    };
    const int32_t count = m_componentCount;
    if (count == 1) {
        if (!factorsAre(0, 1, 1)) return DecErrBadGreySampling;
        m_samplingMode = SamplingFull;
    } else if (count == 2) {
        // Two components decode into no colour model; only the layout where
        // both are full resolution fits the buffers.
        if (!factorsAre(0, 1, 1) || !factorsAre(1, 1, 1)) return DecErrUnsupported;
        m_samplingMode = SamplingFull;
    } else {
        const bool chromaFull = factorsAre(1, 1, 1) && factorsAre(2, 1, 1);
        auto lumaIs = [&](int32_t h, int32_t v) {
            return factorsAre(0, h, v) && (count == 3 || factorsAre(3, h, v));
        };
        if (chromaFull && lumaIs(1, 1)) {
            m_samplingMode = SamplingFull;
        } else if (chromaFull && lumaIs(2, 1)) {
            m_samplingMode = SamplingHalfH;
        } else if (chromaFull && lumaIs(2, 2)) {
            m_samplingMode = SamplingHalfHV;
        } else {
            m_samplingMode = SamplingUnsupported;
        }
    }
    for (int32_t i = 0; i < count; ++i) {
        const bool halfChroma = IsHalfResolutionChroma(m_samplingMode, i);
        m_components[i]->m_hUpsample = halfChroma ? 2 : 1;
        m_components[i]->m_vUpsample = halfChroma && m_samplingMode == SamplingHalfHV ? 2 : 1;
    }
    return DecOk;
}

DecoderStatus CJPEGDecoder::ReadScanHeader() {
    if (!HasBytes(3)) return DecErrEndOfData;
    m_scanLength = TakeWord();
    const int32_t count = TakeByte();
    if (count == 0 || count > kMaxComponents) return DecErrBadScanComponentCount;
    // A sequential frame must be coded in one scan that interleaves every
    // component.
    if (!m_progressive && count < m_componentCount) return DecErrUnsupported;
    if (m_scanLength != 6 + 2 * count) return DecErrBadLength;
    if (!HasBytes(2 * count + 3)) return DecErrEndOfData;

    for (int32_t j = 0; j < count; ++j) {
        const int32_t selector = TakeByte();
        const int32_t tables = TakeByte();
        int32_t found = -1;
        for (int32_t i = 0; i < m_componentCount; ++i) {
            if (m_components[i]->m_componentId == selector) {
                found = i;
                break;
            }
        }
        if (found < 0) return DecErrUnknownComponent;
        m_scanComponent = found;
        m_scanComponents[j] = found;
        m_components[found]->m_dcTableId = tables >> 4;
        m_components[found]->m_acTableId = tables & 0x0F;
    }
    m_scanComponentCount = count;
    m_ss = TakeByte();
    m_se = TakeByte();
    const int32_t approximation = TakeByte();
    m_ah = approximation >> 4;
    m_al = approximation & 0x0F;

    DecideColorModel();
    m_restartsLeft = m_restartInterval;
    m_stream.ClearMarker();
    return DecOk;
}

// The colour model of the data follows the component count and, when an
// Adobe APP14 segment was read, its transform byte. JFIF APP0 does not
// change it: three components are YCbCr with or without it.
void CJPEGDecoder::DecideColorModel() {
    const int32_t count = m_componentCount;
    if (!m_hasAdobe) {
        m_colorModel = count == 1 ? ColorGrey : count == 3 ? ColorYCbCr : ColorUnknown;
        return;
    }
    switch (m_adobeTransform) {
        case 0:
            m_colorModel = count == 1   ? ColorGrey
                           : count == 3 ? ColorRGB
                           : count == 4 ? ColorCMYK
                                        : ColorUnknown;
            break;
        case 1:
            m_colorModel = ColorYCbCr;
            break;
        case 2:
            m_colorModel = ColorYCCK;
            break;
        default:
            m_colorModel = ColorUnknown;
            break;
    }
}

DecoderStatus CJPEGDecoder::ReadRestartInterval() {
    if (!HasBytes(2)) return DecErrEndOfData;
    if (TakeWord() != 4) return DecErrBadLength;
    if (!HasBytes(2)) return DecErrEndOfData;
    m_restartInterval = TakeWord();
    m_restartsLeft = m_restartInterval;
    m_stream.ClearMarker();
    return DecOk;
}

DecoderStatus CJPEGDecoder::ReadAdobeSegment() {
    if (!HasBytes(3)) return DecErrEndOfData;
    const int32_t length = TakeWord();
    if (length < 2) return DecErrBadLength;
    int32_t remaining = length - 2;
    if (remaining >= kAdobeHeaderBytes && HasBytes(kAdobeHeaderBytes)) {
        const uint8_t* id = m_stream.m_source + m_stream.m_position;
        if (id[0] == 'A' && id[1] == 'd' && id[2] == 'o' && id[3] == 'b' && id[4] == 'e') {
            m_hasAdobe = true;
            m_stream.m_position += 5 + 6;  // identifier, version, flags0, flags1
            m_adobeTransform = TakeByte();
            remaining -= kAdobeHeaderBytes;
        }
    }
    m_stream.m_position += std::min(remaining, m_stream.m_sourceSize - m_stream.m_position);
    m_stream.ClearMarker();
    return DecOk;
}

DecoderStatus CJPEGDecoder::ConsumeRestartMarker() {
    // Whatever marker comes first ends the interval; its number is not
    // checked, so a damaged RSTn costs one interval at most.
    return m_stream.TakeIntervalEndMarker() ? DecOk : DecErrFailed;
}
