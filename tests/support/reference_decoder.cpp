#include "support/reference_decoder.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include <jpeglib.h>

namespace wemb_test {
namespace {

// libjpeg reports errors through error_exit, which must not return: we jump
// back to DecodeReference. Nothing with a destructor lives in the frames
// between setjmp and longjmp (only libjpeg's C frames and these callbacks).
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    bool warningsAreErrors;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
    ErrorManager* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

void EmitMessage(j_common_ptr cinfo, int level) {
    ErrorManager* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    // level < 0 is a warning: corrupt data that libjpeg would otherwise patch
    // over; the others are trace messages.
    if (level < 0 && err->warningsAreErrors) ErrorExit(cinfo);
}

}  // namespace

bool DecodeReference(const std::vector<uint8_t>& data, ReferenceLayout layout, ReferenceImage* image,
                     std::string* error, bool warningsAreErrors) {
    *image = ReferenceImage();
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = ErrorExit;
    err.base.emit_message = EmitMessage;
    err.warningsAreErrors = warningsAreErrors;
    err.message[0] = '\0';

    if (setjmp(err.jump) != 0) {
        jpeg_destroy_decompress(&cinfo);
        *image = ReferenceImage();
        if (error != nullptr) *error = err.message;
        return false;
    }

    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.dct_method = JDCT_ISLOW;
    cinfo.do_fancy_upsampling = TRUE;
    // Block smoothing makes up low AC coefficients for the blocks of a
    // progressive frame whose AC scans have not arrived; the codec shows the
    // coefficients decoded and nothing else.
    cinfo.do_block_smoothing = FALSE;
    cinfo.out_color_space = layout == ReferenceLayout::kCmykTopDown     ? JCS_CMYK
                            : layout == ReferenceLayout::kNativeTopDown ? cinfo.jpeg_color_space
                                                                        : JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);

    image->width = static_cast<int32_t>(cinfo.output_width);
    image->height = static_cast<int32_t>(cinfo.output_height);
    image->progressive = cinfo.progressive_mode != 0;
    image->colorSpace = static_cast<int32_t>(cinfo.jpeg_color_space);
    // A progressive frame has been read to its end by now.
    image->scans = cinfo.input_scan_number;
    image->rowStep = (image->width * cinfo.output_components + 3) & ~3;
    image->pixels.assign(static_cast<size_t>(image->rowStep) * image->height, 0);

    const bool bottomUp = layout == ReferenceLayout::kBgrBottomUp;
    while (cinfo.output_scanline < cinfo.output_height) {
        const int32_t y = static_cast<int32_t>(cinfo.output_scanline);
        const int32_t bufferRow = bottomUp ? image->height - 1 - y : y;
        JSAMPROW row = image->pixels.data() + static_cast<size_t>(bufferRow) * image->rowStep;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

ImageDifference CompareImages(const uint8_t* a, const uint8_t* b, int32_t width, int32_t height,
                              int32_t rowStep, int32_t channels) {
    ImageDifference d;
    double squares = 0.0;
    const int32_t rowBytes = width * channels;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* ra = a + static_cast<size_t>(y) * rowStep;
        const uint8_t* rb = b + static_cast<size_t>(y) * rowStep;
        for (int32_t i = 0; i < rowBytes; ++i) {
            const int diff = std::abs(static_cast<int>(ra[i]) - static_cast<int>(rb[i]));
            d.maxAbs = std::max(d.maxAbs, diff);
            squares += static_cast<double>(diff) * diff;
        }
    }
    const double samples = static_cast<double>(rowBytes) * height;
    d.psnr = squares == 0.0 ? std::numeric_limits<double>::infinity()
                            : 10.0 * std::log10(255.0 * 255.0 / (squares / samples));
    return d;
}

namespace {

// c[k][n] = C(k) / 2 x cos((2n + 1) k pi / 16), C(0) = 1 / sqrt(2), else 1:
// one dimension of the inverse DCT of T.81 A.3.3.
struct IdctBasis {
    double c[8][8];
    IdctBasis() {
        const double pi = std::acos(-1.0);
        for (int k = 0; k < 8; ++k) {
            for (int n = 0; n < 8; ++n) {
                c[k][n] = (k == 0 ? std::sqrt(0.5) : 1.0) / 2.0 * std::cos((2 * n + 1) * k * pi / 16.0);
            }
        }
    }
};

// The largest magnitude of the exact inverse DCT of one dequantized block.
double LargestSampleOfBlock(const JCOEF* block, const UINT16* quant) {
    static const IdctBasis basis;
    double rows[8][8];  // [v][x]: each row of frequencies transformed across
    for (int v = 0; v < 8; ++v) {
        for (int x = 0; x < 8; ++x) {
            double sum = 0.0;
            for (int u = 0; u < 8; ++u) sum += double(block[v * 8 + u]) * quant[v * 8 + u] * basis.c[u][x];
            rows[v][x] = sum;
        }
    }
    double largest = 0.0;
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            double sum = 0.0;
            for (int v = 0; v < 8; ++v) sum += rows[v][x] * basis.c[v][y];
            largest = std::max(largest, std::fabs(sum));
        }
    }
    return largest;
}

}  // namespace

bool SurveyCoefficients(const std::vector<uint8_t>& data, CoefficientSurvey* survey) {
    *survey = CoefficientSurvey();
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = ErrorExit;
    err.base.emit_message = EmitMessage;
    err.warningsAreErrors = true;
    if (setjmp(err.jump) != 0) {
        jpeg_destroy_decompress(&cinfo);
        *survey = CoefficientSurvey();
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&cinfo, TRUE);
    jvirt_barray_ptr* arrays = jpeg_read_coefficients(&cinfo);
    for (int c = 0; c < cinfo.num_components; ++c) {
        const jpeg_component_info& component = cinfo.comp_info[c];
        const UINT16* quant = component.quant_table->quantval;  // natural order
        for (JDIMENSION row = 0; row < component.height_in_blocks; ++row) {
            JBLOCKARRAY blocks = (*cinfo.mem->access_virt_barray)(reinterpret_cast<j_common_ptr>(&cinfo),
                                                                  arrays[c], row, 1, FALSE);
            for (JDIMENSION column = 0; column < component.width_in_blocks; ++column) {
                const JCOEF* block = blocks[0][column];
                survey->largestExactSample = std::max(survey->largestExactSample, LargestSampleOfBlock(block, quant));
                survey->lastCoefficientSet = survey->lastCoefficientSet || block[63] != 0;
            }
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

std::vector<uint8_t> CmykAsViewersShowIt(const ReferenceImage& cmyk) {
    const int32_t step = RowStep24(cmyk.width);
    std::vector<uint8_t> bgr(static_cast<size_t>(step) * cmyk.height);
    for (int32_t y = 0; y < cmyk.height; ++y) {
        for (int32_t x = 0; x < cmyk.width; ++x) {
            const uint8_t* p = cmyk.Row(y) + 4 * x;
            uint8_t* out = &bgr[static_cast<size_t>(y) * step + 3 * x];
            for (int c = 0; c < 3; ++c) out[2 - c] = static_cast<uint8_t>((p[c] * p[3] + 127) / 255);
        }
    }
    return bgr;
}

int LargestDifferenceOutsideBandEdges(const uint8_t* ours, const uint8_t* reference, int32_t width,
                                      int32_t height, int32_t rowStep, bool sequential420) {
    int largest = 0;
    for (int32_t y = 0; y < height; ++y) {
        if (IsBandEdgeRow(y, sequential420)) continue;
        const size_t at = static_cast<size_t>(y) * rowStep;
        largest = std::max(largest, CompareImages(ours + at, reference + at, width, 1, rowStep).maxAbs);
    }
    return largest;
}

}  // namespace wemb_test
