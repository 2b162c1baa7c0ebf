#include "support/reference_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
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

std::vector<uint8_t> Testdata(const std::string& name) {
    const std::string path = std::string(WEMB_TESTDATA_DIR) + "/" + name;
    std::ifstream in(path, std::ios::binary);
    if (!in) ADD_FAILURE() << "cannot read " << path;
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> ListTestdata() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(WEMB_TESTDATA_DIR)) {
        if (entry.path().extension() == ".jpg") names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace wemb_test
