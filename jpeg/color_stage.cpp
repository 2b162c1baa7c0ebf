// Up-sampling of half-resolution chroma and colour conversion into the
// destination, per MCU row for sequential frames and per frame for
// progressive ones.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "jpeg/color_stage.h"
#include "jpeg/component.h"
#include "jpeg/decoder.h"
#include "primitives/color.h"
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

namespace {

// Replicates the first and last data sample of each row into the border
// columns, so the filters see the edge sample repeated.
void FillBorderColumns(uint8_t* firstRow, int32_t step, int32_t rows, int32_t halfWidth) {
    for (int32_t row = 0; row < rows; ++row) {
        uint8_t* line = firstRow + static_cast<ptrdiff_t>(row) * step;
        line[0] = line[1];
        line[halfWidth + 1] = line[halfWidth];
    }
}

}  // namespace

DecoderStatus CJPEGDecoder::UpsampleMcuRow(int32_t mcuRow) {
    const int32_t halfWidth = m_paddedWidth / 2;
    const int32_t step = halfWidth + 2;
    const int32_t rows = m_mcuSizeY;
    for (int32_t i = 0; i < m_componentCount; ++i) {
        CJPEGColorComponent& component = *m_components[i];
        if (component.m_hUpsample == 1 && component.m_vUpsample == 1) {
            continue;  // reconstructed straight into m_samples
        }
        uint8_t* bordered = component.m_borderedSamples;
        PrimitiveStatus status;
        if (component.m_vUpsample == 1) {
            FillBorderColumns(bordered, step, rows, halfWidth);
            status = UpsampleH2V1(bordered + 1, step, halfWidth, rows, component.m_samples,
                                  m_paddedWidth, m_paddedWidth, rows);
        } else {
            // Data rows 1..rows/2 with a border row above and below. Above
            // comes the previous band's last chroma row (or, in the first
            // band, the first row again); below, the next band is not decoded
            // yet, so the last row is repeated.
            const int32_t dataRows = rows / 2;
            uint8_t* lastRow = bordered + static_cast<ptrdiff_t>(dataRows) * step;
            FillBorderColumns(bordered + step, step, dataRows, halfWidth);
            CopyBytes(mcuRow == 0 ? bordered + step : component.m_savedRow, bordered, step);
            CopyBytes(lastRow, component.m_savedRow, step);
            CopyBytes(lastRow, lastRow + step, step);
            status = UpsampleH2V2(bordered + step + 1, step, halfWidth, dataRows,
                                  component.m_samples, m_paddedWidth, m_paddedWidth, rows);
        }
        if (status != PrimOk) return DecErrFailed;
    }
    return DecOk;
}

DecoderStatus CJPEGDecoder::ConvertMcuRow(int32_t mcuRow) {
    if (mcuRow == m_mcuRows - 1) {
        m_bufferRows = m_mcuSizeY - m_padBottom;  // the rows of the last band inside the frame
    }
    // The destination may be shorter than the frame; rows below it are not
    // written.
    const int32_t firstLine = mcuRow * m_mcuSizeY;
    const int32_t rows = std::min(m_bufferRows, m_outHeight - firstLine);
    if (rows <= 0) {
        return DecOk;
    }
    uint8_t* planes[4] = {};
    for (int32_t i = 0; i < m_componentCount; ++i) planes[i] = m_components[i]->m_samples;
    uint8_t* dst = m_outPixels + static_cast<ptrdiff_t>(firstLine) * m_outStep;
    return ConvertRows(planes, dst, rows, true);
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
            FillBorderColumns(bordered, step, paddedRows, halfWidth);
            status = UpsampleH2V1(bordered + 1, step, halfWidth, paddedRows, component.m_samples,
                                  step, m_outWidth, m_outHeight);
        } else {
            const int32_t dataRows = paddedRows / 2;
            uint8_t* lastRow = bordered + static_cast<ptrdiff_t>(dataRows) * step;
            FillBorderColumns(bordered + step, step, dataRows, halfWidth);
            CopyBytes(bordered + step, bordered, step);
            CopyBytes(lastRow, lastRow + step, step);
            status = UpsampleH2V2(bordered + step + 1, step, halfWidth, dataRows,
                                  component.m_samples, step, m_outWidth, m_outHeight);
        }
        if (status != PrimOk) return DecErrFailed;
    }
    return DecOk;
}

DecoderStatus CJPEGDecoder::ConvertFrame() {
    uint8_t* planes[4] = {};
    for (int32_t i = 0; i < m_componentCount; ++i) planes[i] = m_components[i]->m_samples;
    return ConvertRows(planes, m_outPixels, m_outHeight, false);
}

// Picks the conversion for the pair (data colour model, destination colour
// model) and applies it to `rows` rows. Pairs without a conversion write
// nothing and succeed. `allowPacked` admits the packed 4:2:2 destinations,
// which only the per-row path produces.
DecoderStatus CJPEGDecoder::ConvertRows(uint8_t* const* planes, uint8_t* dst, int32_t rows,
                                        bool allowPacked) {
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
        }
    } else if (model == ColorGrey && to == ColorYCbCr) {
        if (allowPacked) PackGrey422(planes[0], srcStep, dst, m_outStep, width, rows);
    } else if (model == ColorCMYK && to == ColorCMYK) {
        status = InterleavePlanes4(samePlanes, srcStep, dst, m_outStep, width, rows);
    } else if (model == ColorYCCK && to == ColorCMYK) {
        if (!needs(4)) return DecErrUnsupported;
        status = YCCKToCMYK(samePlanes, srcStep, dst, m_outStep, width, rows);
    }
    return status == PrimOk ? DecOk : DecErrFailed;
}
