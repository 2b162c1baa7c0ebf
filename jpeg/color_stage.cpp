// Up-sampling of half-resolution chroma and colour conversion into the
// destination, per MCU row for sequential frames and per frame for
// progressive ones.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "jpeg/color_stage.h"
#include "jpeg/component.h"
#include "jpeg/decoder.h"
#include "platform/worker_pool.h"
#include "primitives/color.h"
#include "primitives/color_rows.h"
#include "primitives/upsample.h"

// Packed 4:2:2 destinations: each pixel pair becomes Cb, Y0, Cr, Y1, with the
// chroma of the pair's even column. Rows are written in whole groups of 8
// pixels; the last width mod 8 pixels of a row are left alone.
void PackYCbCr422(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t srcStep,
                  uint8_t* dst, int32_t dstStep, int32_t width, int32_t rows) {
    const int32_t pixels = width / 8 * 8;
    for (int32_t row = 0; row < rows; ++row) {
        const ptrdiff_t src = static_cast<ptrdiff_t>(row) * srcStep;
        uint8_t* out = dst + static_cast<ptrdiff_t>(row) * dstStep;
        for (int32_t x = 0; x < pixels; x += 2) {
            out[2 * x + 0] = cb[src + x];
            out[2 * x + 1] = y[src + x];
            out[2 * x + 2] = cr[src + x];
            out[2 * x + 3] = y[src + x + 1];
        }
    }
}

void PackGrey422(const uint8_t* grey, int32_t srcStep, uint8_t* dst, int32_t dstStep,
                 int32_t width, int32_t rows) {
    constexpr uint8_t kNeutralChroma = 128;
    const int32_t pixels = width / 8 * 8;
    for (int32_t row = 0; row < rows; ++row) {
        const uint8_t* in = grey + static_cast<ptrdiff_t>(row) * srcStep;
        uint8_t* out = dst + static_cast<ptrdiff_t>(row) * dstStep;
        for (int32_t x = 0; x < pixels; x += 2) {
            out[2 * x + 0] = kNeutralChroma;
            out[2 * x + 1] = in[x];
            out[2 * x + 2] = kNeutralChroma;
            out[2 * x + 3] = in[x + 1];
        }
    }
}

// Replicates the first and last data sample of each row into the border
// columns, so the filters see the edge sample repeated.
void FillBorderColumns(uint8_t* firstRow, int32_t step, int32_t rows, int32_t halfWidth) {
    for (int32_t row = 0; row < rows; ++row) {
        uint8_t* line = firstRow + static_cast<ptrdiff_t>(row) * step;
        line[0] = line[1];
        line[halfWidth + 1] = line[halfWidth];
    }
}

// Borders a component's half-resolution plane of `rows` lines (a band's or
// the whole frame's, border rows included) as the up-sampling filters read
// it: the edge columns repeated and, for half-height chroma, a row above
// (`above`, or the first data row again when null) and a row below (the last
// data row again). Returns the last data row of half-height chroma, else
// null.
uint8_t* BorderHalfPlane(const CJPEGColorComponent& component, int32_t step, int32_t rows, int32_t halfWidth,
                         const uint8_t* above) {
    uint8_t* bordered = component.m_borderedSamples;
    if (component.m_vUpsample == 1) {
        FillBorderColumns(bordered, step, rows, halfWidth);
        return nullptr;
    }
    const int32_t dataRows = rows / 2;
    uint8_t* lastRow = bordered + static_cast<ptrdiff_t>(dataRows) * step;
    FillBorderColumns(bordered + step, step, dataRows, halfWidth);
    CopyBytes(above != nullptr ? above : bordered + step, bordered, step);
    CopyBytes(lastRow, lastRow + step, step);
    return lastRow;
}

// Gives the half-resolution chroma of an MCU row its border: the edge
// columns repeated and, for 4:2:0, a row above and a row below the band's
// data rows. Above comes the previous band's last chroma row (or, in the
// first band, the first row again); below, the next band is not decoded yet,
// so the last row is repeated.
void CJPEGDecoder::PrepareMcuRowBorders(int32_t mcuRow) {
    const int32_t halfWidth = m_paddedWidth / 2;
    const int32_t step = BandChromaStep();
    const int32_t rows = m_mcuSizeY;
    for (int32_t i = 0; i < m_componentCount; ++i) {
        CJPEGColorComponent& component = *m_components[i];
        if (component.m_hUpsample == 1 && component.m_vUpsample == 1) {
            continue;  // reconstructed straight into m_samples
        }
        const uint8_t* lastRow =
            BorderHalfPlane(component, step, rows, halfWidth, mcuRow == 0 ? nullptr : component.m_savedRow);
        if (lastRow != nullptr) CopyBytes(lastRow, component.m_savedRow, step);
    }
}

DecoderStatus CJPEGDecoder::UpsampleMcuRow(int32_t mcuRow) {
    PrepareMcuRowBorders(mcuRow);
    const int32_t halfWidth = m_paddedWidth / 2;
    const int32_t step = BandChromaStep();
    const int32_t rows = m_mcuSizeY;
    for (int32_t i = 0; i < m_componentCount; ++i) {
        CJPEGColorComponent& component = *m_components[i];
        if (component.m_hUpsample == 1 && component.m_vUpsample == 1) {
            continue;
        }
        uint8_t* bordered = component.m_borderedSamples;
        const PrimitiveStatus status =
            component.m_vUpsample == 1
                ? UpsampleH2V1(bordered + 1, step, halfWidth, rows, component.m_samples, m_paddedWidth,
                               m_paddedWidth, rows)
                : UpsampleH2V2(bordered + step + 1, step, halfWidth, rows / 2, component.m_samples,
                               m_paddedWidth, m_paddedWidth, rows);
        if (status != PrimOk) return DecErrFailed;
    }
    return DecOk;
}

// The lines of MCU row `mcuRow` into the destination, from the component
// buffers its blocks were reconstructed into.
DecoderStatus CJPEGDecoder::OutputMcuRow(int32_t mcuRow) {
    const RowConversion conversion = ChooseRowConversion();
    if (conversion == RowConversion::None || ConvertsFromFullPlanes(conversion)) {
        if (m_samplingMode != SamplingFull) {
            const DecoderStatus status = UpsampleMcuRow(mcuRow);
            if (status != DecOk) return status;
        }
        if (conversion == RowConversion::None) return ConvertMcuRow(mcuRow);
        PlaneView views[4] = {};
        for (int32_t i = 0; i < m_componentCount; ++i) {
            views[i] = PlaneView{m_components[i]->m_samples, m_paddedWidth};
        }
        ConvertRowsToBgr(views, 0, BandRowsInOutput(mcuRow), mcuRow * m_mcuSizeY);
    } else {
        if (m_samplingMode != SamplingFull) {
            PrepareMcuRowBorders(mcuRow);
        }
        ConvertBand(mcuRow, SlotAt(0));
    }
    m_pictureWritten = true;
    return DecOk;
}

// The lines of band `mcuRow` from the slot it was reconstructed into, its
// half-resolution chroma with its borders in place.
void CJPEGDecoder::ConvertBand(int32_t mcuRow, const BandSlot& slot) {
    PlaneView views[4] = {};
    const int32_t chromaStep = BandChromaStep();
    for (int32_t i = 0; i < m_componentCount; ++i) {
        views[i] = IsHalfChroma(i) ? PlaneView{slot.bordered[i], chromaStep} : PlaneView{slot.samples[i], m_paddedWidth};
    }
    ConvertRowsToBgr(views, 0, BandRowsInOutput(mcuRow), mcuRow * m_mcuSizeY);
}

// Half-resolution chroma is reconstructed into bordered buffers.
bool CJPEGDecoder::IsHalfChroma(int32_t component) const {
    return IsHalfResolutionChroma(m_samplingMode, component);
}

// The rows of the last band that lie inside the frame.
int32_t CJPEGDecoder::LastBandRows() const { return m_mcuSizeY - m_padBottom; }

// Rows of band `mcuRow` that lie inside the frame and the destination: the
// last band's rows inside the frame, or m_bufferRows, which a sequential scan
// sets to that height once its last band is done (so that a second scan of
// the frame converts no more of each band).
int32_t CJPEGDecoder::BandRowsInOutput(int32_t mcuRow) const {
    const int32_t height = mcuRow == m_mcuRows - 1 ? LastBandRows() : m_bufferRows;
    // The destination may be shorter than the frame; rows below it are not
    // written.
    const int32_t rows = std::min(height, m_outHeight - mcuRow * m_mcuSizeY);
    return rows > 0 ? rows : 0;
}

DecoderStatus CJPEGDecoder::ConvertMcuRow(int32_t mcuRow) {
    const int32_t rows = BandRowsInOutput(mcuRow);
    if (rows <= 0) {
        return DecOk;
    }
    const int32_t firstLine = mcuRow * m_mcuSizeY;
    uint8_t* planes[4] = {};
    for (int32_t i = 0; i < m_componentCount; ++i) planes[i] = m_components[i]->m_samples;
    return ConvertRows(planes, firstLine, rows, true);
}

// The conversion of the frame's colour model into B, G, R: grey, YCbCr,
// RGB, and Adobe's CMYK and YCCK, each with enough components.
CJPEGDecoder::RowConversion CJPEGDecoder::BgrConversion() const {
    // An Adobe transform of 1 makes even a one-component frame "YCbCr": its
    // one plane is the luminance, so it converts as grey.
    if (m_colorModel == ColorGrey || (m_colorModel == ColorYCbCr && m_componentCount == 1)) {
        return RowConversion::Grey;
    }
    if (m_colorModel == ColorYCbCr && m_componentCount >= 3) return RowConversion::Ycc;
    if (m_colorModel == ColorRGB && m_componentCount >= 3) return RowConversion::Rgb;
    if (m_colorModel == ColorCMYK && m_componentCount == 4) return RowConversion::Cmyk;
    if (m_colorModel == ColorYCCK && m_componentCount == 4) return RowConversion::Ycck;
    return RowConversion::None;
}

bool CJPEGDecoder::ConvertsToBgr() const { return BgrConversion() != RowConversion::None; }

// The destination pairs that the row converters write: B, G, R pictures (3
// or 4 bytes a pixel).
CJPEGDecoder::RowConversion CJPEGDecoder::ChooseRowConversion() const {
    if (m_outColorModel != ColorBGR && m_outColorModel != ColorBGRA) return RowConversion::None;
    return BgrConversion();
}

// Grey and YCbCr are converted straight from the reconstructed planes,
// chroma up-sampled on the way. RGB, CMYK and YCCK frames with
// half-resolution planes, rare enough not to have converters for every
// sampling, have those planes up-sampled into m_samples first.
bool CJPEGDecoder::ConvertsFromFullPlanes(RowConversion conversion) const {
    return conversion != RowConversion::Grey && conversion != RowConversion::Ycc &&
           m_samplingMode != SamplingFull;
}

// One YCbCr row: chroma at full resolution, or from bordered half-resolution
// rows, the data one column in, and for 4:2:0 one row down, with the far row
// of the vertical filter above the near one for even lines and below it for
// odd ones.
void CJPEGDecoder::ConvertYccRow(const BgrRowKernels& kernels, const PlaneView* views, const uint8_t** row,
                                 int32_t r, const CJPEGColorComponent& chroma, uint8_t* dst) const {
    const size_t width = static_cast<size_t>(m_outWidth);
    if (chroma.m_vUpsample == 2) {
        const ptrdiff_t step = views[1].step;
        const ptrdiff_t nearRow = (1 + r / 2) * step + 1;
        const ptrdiff_t farRow = nearRow + ((r & 1) ? step : -step);
        const uint8_t* rows[5] = {row[0], views[1].base + nearRow, views[2].base + nearRow,
                                  views[1].base + farRow, views[2].base + farRow};
        kernels.yccH2V2(rows, dst, width);
    } else if (chroma.m_hUpsample == 2) {
        const uint8_t* rows[3] = {row[0], row[1] + 1, row[2] + 1};
        kernels.yccH2V1(rows, dst, width);
    } else {
        kernels.ycc(row, dst, width);
    }
}

// Converts local rows first .. first + rows - 1 of the planes in `views` into
// destination lines firstLine + 0, 1, ...
void CJPEGDecoder::ConvertRowsToBgr(const PlaneView* views, int32_t first, int32_t rows,
                                    int32_t firstLine) {
    const RowConversion conversion = ChooseRowConversion();
    const BgrRowKernels& kernels = BgrRows(m_outColorModel == ColorBGRA ? 4 : 3);
    const size_t width = static_cast<size_t>(m_outWidth);
    const int32_t planes = std::min(m_componentCount, 4);
    const CJPEGColorComponent& chroma = *m_components[m_componentCount >= 3 ? 1 : 0];
    for (int32_t r = first; r < first + rows; ++r) {
        uint8_t* dst = m_outPixels + static_cast<ptrdiff_t>(firstLine + r - first) * m_outStep;
        const uint8_t* row[5] = {};
        for (int32_t i = 0; i < planes; ++i) {
            row[i] = views[i].base + static_cast<ptrdiff_t>(r) * views[i].step;
        }
        switch (conversion) {
            case RowConversion::Grey: kernels.grey(row, dst, width); break;
            case RowConversion::Rgb: kernels.rgb(row, dst, width); break;
            case RowConversion::Cmyk: kernels.cmyk(row, dst, width); break;
            case RowConversion::Ycck: kernels.ycck(row, dst, width); break;
            case RowConversion::Ycc: ConvertYccRow(kernels, views, row, r, chroma, dst); break;
            case RowConversion::None: return;
        }
    }
}

// Gives half-resolution chroma planes of a progressive frame their border
// columns and rows, as the up-sampling filters read them.
void CJPEGDecoder::PrepareFrameBorders() {
    const int32_t step = m_paddedWidth;
    const int32_t halfWidth = m_paddedWidth / 2;
    const int32_t paddedRows = m_bufferRows;
    for (int32_t i = 0; i < m_componentCount; ++i) {
        const CJPEGColorComponent& component = *m_components[i];
        if (component.m_hUpsample == 1 && component.m_vUpsample == 1) {
            continue;
        }
        BorderHalfPlane(component, step, paddedRows, halfWidth, nullptr);
    }
}

// The whole picture of a progressive frame, from the planes ReconstructFrame
// filled.
DecoderStatus CJPEGDecoder::OutputFrame() {
    PrepareFrameBorders();
    const RowConversion conversion = ChooseRowConversion();
    const bool fromFullPlanes = conversion == RowConversion::None || ConvertsFromFullPlanes(conversion);
    if (fromFullPlanes) {
        const DecoderStatus status = UpsampleFrame();
        if (status != DecOk) return status;
        if (conversion == RowConversion::None) return ConvertFrame();
    }
    ConvertJob job = {this, {}};
    for (int32_t i = 0; i < m_componentCount; ++i) {
        const CJPEGColorComponent& component = *m_components[i];
        job.views[i] = PlaneView{fromFullPlanes ? component.m_samples : component.m_borderedSamples, m_paddedWidth};
    }
    // Every output row stands alone: chunks of rows go to every thread lent.
    const int32_t chunks = (m_outHeight + kRowsPerChunk - 1) / kRowsPerChunk;
    if (ParticipantsFor(int64_t{m_outWidth} * m_outHeight) > 1) {
        m_workers->ParallelFor(chunks, ConvertRowsTask, &job);
    } else {
        ConvertRowsToBgr(job.views, 0, m_outHeight, 0);
    }
    m_pictureWritten = true;
    return DecOk;
}

int32_t CJPEGDecoder::ConvertRowsTask(void* context, int32_t chunk) {
    const ConvertJob& job = *static_cast<const ConvertJob*>(context);
    CJPEGDecoder& decoder = *job.decoder;
    const int32_t first = chunk * kRowsPerChunk;
    const int32_t rows = std::min(kRowsPerChunk, decoder.m_outHeight - first);
    decoder.ConvertRowsToBgr(job.views, first, rows, first);
    return 0;
}

DecoderStatus CJPEGDecoder::UpsampleFrame() {
    const int32_t step = m_paddedWidth;
    const int32_t halfWidth = m_paddedWidth / 2;
    const int32_t paddedRows = m_bufferRows;
    for (int32_t i = 0; i < m_componentCount; ++i) {
        CJPEGColorComponent& component = *m_components[i];
        uint8_t* bordered = component.m_borderedSamples;
        PrimitiveStatus status = PrimOk;
        if (component.m_hUpsample == 1 && component.m_vUpsample == 1) {
            CopyPlane8u(bordered, step, component.m_samples, step, m_outWidth, m_outHeight);
        } else if (component.m_vUpsample == 1) {
            status = UpsampleH2V1(bordered + 1, step, halfWidth, paddedRows, component.m_samples,
                                  step, m_outWidth, m_outHeight);
        } else {
            status = UpsampleH2V2(bordered + step + 1, step, halfWidth, paddedRows / 2,
                                  component.m_samples, step, m_outWidth, m_outHeight);
        }
        if (status != PrimOk) return DecErrFailed;
    }
    return DecOk;
}

DecoderStatus CJPEGDecoder::ConvertFrame() {
    uint8_t* planes[4] = {};
    for (int32_t i = 0; i < m_componentCount; ++i) planes[i] = m_components[i]->m_samples;
    return ConvertRows(planes, 0, m_outHeight, false);
}

// Picks the conversion for the pair (data colour model, destination colour
// model) and applies it to `rows` rows. Pairs without a conversion write
// nothing and succeed. `allowPacked` admits the packed 4:2:2 destinations,
// which only the per-row path produces.
DecoderStatus CJPEGDecoder::ConvertRows(uint8_t* const* planes, int32_t firstLine, int32_t rows,
                                        bool allowPacked) {
    // The primitives take rows that go down in memory; a destination whose
    // rows go up is converted a row at a time.
    if (m_outStep < 0) {
        for (int32_t r = 0; r < rows; ++r) {
            uint8_t* const rowPlanes[4] = {planes[0] ? planes[0] + static_cast<ptrdiff_t>(r) * m_paddedWidth : nullptr,
                                           planes[1] ? planes[1] + static_cast<ptrdiff_t>(r) * m_paddedWidth : nullptr,
                                           planes[2] ? planes[2] + static_cast<ptrdiff_t>(r) * m_paddedWidth : nullptr,
                                           planes[3] ? planes[3] + static_cast<ptrdiff_t>(r) * m_paddedWidth : nullptr};
            const DecoderStatus status = ConvertRowsDown(rowPlanes, firstLine + r, 1, allowPacked);
            if (status != DecOk) return status;
        }
        return DecOk;
    }
    return ConvertRowsDown(planes, firstLine, rows, allowPacked);
}

DecoderStatus CJPEGDecoder::ConvertRowsDown(uint8_t* const* planes, int32_t firstLine, int32_t rows,
                                            bool allowPacked) {
    uint8_t* const dst = m_outPixels + static_cast<ptrdiff_t>(firstLine) * m_outStep;
    const int32_t from = m_colorModel;
    const int32_t to = m_outColorModel;
    const int32_t count = m_componentCount;
    const int32_t srcStep = m_paddedWidth;
    const int32_t width = m_outWidth;
    const uint8_t* const samePlanes[4] = {planes[0], planes[1], planes[2], planes[3]};
    const uint8_t* const greyAsThree[3] = {planes[0], planes[0], planes[0]};
    const uint8_t* const reversed[3] = {planes[2], planes[1], planes[0]};

    // A data model that claims more components than the frame has (an Adobe
    // transform that does not fit the component count) cannot be converted.
    auto needs = [count](int32_t planeCount) { return planeCount <= count; };

    // An Adobe transform of 1 makes even a one-component frame "YCbCr": its
    // one plane is the luminance, so it converts as grey.
    const int32_t model = from == ColorYCbCr && count == 1 ? ColorGrey : from;

    PrimitiveStatus status = PrimOk;
    bool wrote = true;
    if (from == ColorUnknown && to == ColorUnknown) {
        if (count == 1) {
            status = CopyPlane8u(planes[0], srcStep, dst, m_outStep, width, rows);
        } else if (count == 3) {
            status = InterleavePlanes3(samePlanes, srcStep, dst, m_outStep, width, rows);
        } else if (count == 4) {
            status = InterleavePlanes4(samePlanes, srcStep, dst, m_outStep, width, rows);
        } else {
            return DecErrUnsupported;
        }
    } else if (model == ColorGrey && to == ColorGrey) {
        status = CopyPlane8u(planes[0], srcStep, dst, m_outStep, width, rows);
    } else if (model == ColorGrey && (to == ColorRGB || to == ColorBGR)) {
        status = InterleavePlanes3(greyAsThree, srcStep, dst, m_outStep, width, rows);
    } else if (model == ColorRGB && to == ColorRGB) {
        status = InterleavePlanes3(samePlanes, srcStep, dst, m_outStep, width, rows);
    } else if (model == ColorRGB && to == ColorBGR) {
        status = InterleavePlanes3(reversed, srcStep, dst, m_outStep, width, rows);
    } else if (model == ColorYCbCr && (to == ColorRGB || to == ColorBGR)) {
        if (!needs(3)) return DecErrUnsupported;
        status = to == ColorRGB ? YCbCrToRGB(samePlanes, srcStep, dst, m_outStep, width, rows)
                                : YCbCrToBGR(samePlanes, srcStep, dst, m_outStep, width, rows);
    } else if (model == ColorYCbCr && to == ColorYCbCr) {
        if (!needs(3)) return DecErrUnsupported;
        if (allowPacked) {
            PackYCbCr422(planes[0], planes[1], planes[2], srcStep, dst, m_outStep, width, rows);
        } else {
            wrote = false;
        }
    } else if (model == ColorGrey && to == ColorYCbCr) {
        if (allowPacked) {
            PackGrey422(planes[0], srcStep, dst, m_outStep, width, rows);
        } else {
            wrote = false;
        }
    } else if (model == ColorCMYK && to == ColorCMYK) {
        status = InterleavePlanes4(samePlanes, srcStep, dst, m_outStep, width, rows);
    } else if (model == ColorYCCK && to == ColorCMYK) {
        if (!needs(4)) return DecErrUnsupported;
        status = YCCKToCMYK(samePlanes, srcStep, dst, m_outStep, width, rows);
    } else {
        wrote = false;
    }
    if (status != PrimOk) return DecErrFailed;
    m_pictureWritten = m_pictureWritten || wrote;
    return DecOk;
}
