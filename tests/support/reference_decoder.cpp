#include "support/reference_decoder.h"

#include <dirent.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    if (level >= 0) {
        return;  // trace messages
    }
    // A warning: corrupt data that libjpeg would otherwise patch over.
    cinfo->err->num_warnings++;
    if (err->warningsAreErrors) {
        ErrorExit(cinfo);
    }
}

int32_t ChannelsOf(ReferenceLayout layout, int components) {
    switch (layout) {
        case ReferenceLayout::kBgrBottomUp:
        case ReferenceLayout::kBgrTopDown:
            return 3;
        case ReferenceLayout::kCmykTopDown:
            return 4;
        case ReferenceLayout::kNativeTopDown:
            return components;
    }
    return 0;
}

J_COLOR_SPACE OutputSpaceOf(ReferenceLayout layout, J_COLOR_SPACE streamSpace) {
    switch (layout) {
        case ReferenceLayout::kBgrBottomUp:
        case ReferenceLayout::kBgrTopDown:
            return JCS_EXT_BGR;
        case ReferenceLayout::kCmykTopDown:
            return JCS_CMYK;
        case ReferenceLayout::kNativeTopDown:
            return streamSpace;
    }
    return JCS_UNKNOWN;
}

}  // namespace

bool DecodeReference(const uint8_t* data, size_t size, const ReferenceOptions& options,
                     ReferenceImage* image, std::string* error) {
    *image = ReferenceImage();
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = ErrorExit;
    err.base.emit_message = EmitMessage;
    err.warningsAreErrors = options.warningsAreErrors;
    err.message[0] = '\0';

    if (setjmp(err.jump) != 0) {
        jpeg_destroy_decompress(&cinfo);
        image->pixels.clear();
        image->pixels.shrink_to_fit();
        if (error != nullptr) {
            *error = err.message;
        }
        return false;
    }

    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.dct_method = JDCT_ISLOW;
    cinfo.do_fancy_upsampling = TRUE;
    cinfo.out_color_space = OutputSpaceOf(options.layout, cinfo.jpeg_color_space);
    jpeg_start_decompress(&cinfo);

    image->width = static_cast<int32_t>(cinfo.output_width);
    image->height = static_cast<int32_t>(cinfo.output_height);
    image->components = cinfo.num_components;
    image->progressive = cinfo.progressive_mode != 0;
    image->channels = ChannelsOf(options.layout, cinfo.num_components);
    if (image->channels != cinfo.output_components) {
        std::snprintf(err.message, sizeof err.message, "libjpeg gives %d channels, expected %d",
                      cinfo.output_components, image->channels);
        std::longjmp(err.jump, 1);
    }
    image->rowStep = (image->width * image->channels + 3) & ~3;
    image->pixels.assign(static_cast<size_t>(image->rowStep) * image->height, 0);

    const bool bottomUp = options.layout == ReferenceLayout::kBgrBottomUp;
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
            if (diff == 0) {
                continue;
            }
            if (d.differingSamples == 0) {
                d.firstX = i / channels;
                d.firstY = y;
            }
            ++d.differingSamples;
            d.maxAbs = std::max(d.maxAbs, diff);
            squares += static_cast<double>(diff) * diff;
        }
    }
    const double samples = static_cast<double>(rowBytes) * height;
    if (squares == 0.0 || samples == 0.0) {
        d.psnr = std::numeric_limits<double>::infinity();
    } else {
        d.psnr = 10.0 * std::log10(255.0 * 255.0 / (squares / samples));
    }
    return d;
}

int MaxAbsDifference(const uint8_t* a, const uint8_t* b, int32_t width, int32_t height,
                     int32_t rowStep, int32_t channels) {
    return CompareImages(a, b, width, height, rowStep, channels).maxAbs;
}

double Psnr(const uint8_t* a, const uint8_t* b, int32_t width, int32_t height, int32_t rowStep,
            int32_t channels) {
    return CompareImages(a, b, width, height, rowStep, channels).psnr;
}

bool ReadFile(const std::string& path, std::vector<uint8_t>* out) {
    out->clear();
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

std::string TestdataPath(const std::string& name) {
    return std::string(WEMB_TESTDATA_DIR) + "/" + name;
}

std::vector<std::string> ListTestdata(const std::string& suffix) {
    std::vector<std::string> names;
    DIR* dir = opendir(WEMB_TESTDATA_DIR);
    if (dir == nullptr) {
        return names;
    }
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() >= suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
            names.push_back(name);
        }
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace wemb_test
