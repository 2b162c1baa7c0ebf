#include "tools/png_writer.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace {

// zlib's level 1 and the Up filter on every row: decoded video frames are
// grainy, and on them libpng's defaults (level 6, the filter chosen row by
// row) took 4.5 times as long for files 1 % smaller or even larger (the
// 720p and sample clips).
constexpr int kCompressionLevel = 1;
constexpr int kRowFilters = PNG_FILTER_UP;

// libpng reports errors through a function that must not return: it keeps
// the message and jumps back to WriteRows.
struct PngErrors {
    char message[200];
};

void OnPngError(png_structp png, png_const_charp message) {
    PngErrors* errors = static_cast<PngErrors*>(png_get_error_ptr(png));
    std::snprintf(errors->message, sizeof errors->message, "%s", message);
    png_longjmp(png, 1);
}

void OnPngWarning(png_structp, png_const_charp) {}

// The part of the work libpng may jump out of: nothing here has a
// destructor to skip. False with `errors` filled in.
bool WriteRows(std::FILE* file, int32_t width, int32_t height, const uint8_t* topRow, ptrdiff_t step,
               PngErrors* errors) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, errors, OnPngError, OnPngWarning);
    if (png == nullptr) {
        std::snprintf(errors->message, sizeof errors->message, "libpng could not start");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
        if (info == nullptr) std::snprintf(errors->message, sizeof errors->message, "libpng could not start");
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, kCompressionLevel);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, kRowFilters);
    png_write_info(png, info);
    png_set_bgr(png);
    for (int32_t row = 0; row < height; ++row) png_write_row(png, topRow + row * step);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

bool WritePng(const std::string& path, int32_t width, int32_t height, const uint8_t* topRow, ptrdiff_t step,
              std::string* error) {
    if (width <= 0 || height <= 0 || width > PNG_USER_WIDTH_MAX || height > PNG_USER_HEIGHT_MAX) {
        *error = "cannot write a " + std::to_string(width) + " x " + std::to_string(height) +
                 " picture as PNG";
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        *error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    PngErrors errors = {};
    errno = 0;
    const bool written = WriteRows(file, width, height, topRow, step, &errors) && std::fflush(file) == 0;
    const int writeErrno = errno;
    if (std::fclose(file) != 0 || !written) {
        // libpng names a failed write "Write Error"; the system's reason says more.
        const int reason = written ? errno : writeErrno;
        *error = "cannot write " + path + ": " +
                 (reason != 0 || errors.message[0] == '\0' ? std::strerror(reason) : std::string(errors.message));
        std::remove(path.c_str());
        return false;
    }
    return true;
}
