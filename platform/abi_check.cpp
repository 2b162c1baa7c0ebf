// Compile-time proof that platform/vfw_linux.h describes the same interface
// as the Windows SDK headers: every constant it defines has the SDK's value,
// every type it defines has the SDK's size and signedness, and the four
// structures the codec exchanges with its host have the SDK's size and the
// SDK's offset for every field.
//
// Built in both Windows builds and never linked: it holds only static
// assertions. The 64-bit build shows that the Linux layout (LP64, which
// vfw_linux.h targets) equals the Win64 one, since both keep LONG at 32
// bits and make handles, LPARAM and LRESULT pointer-sized. The 32-bit build
// shows the header also lays out correctly for a 32-bit target.
//
// Our header goes first, inside a namespace, and every constant is copied
// into a variable there. <windows.h> and <vfw.h> then define macros of the
// same names (FALSE, ICM_GETINFO, ...), which would turn any later mention
// of ours::ICM_GETINFO into nonsense; the copies are reached by token
// pasting (ours_ICM_GETINFO), which the preprocessor does not expand.
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace ours {
#include "platform/vfw_linux.h"
}  // namespace ours

// vfw_linux.h defines these two as empty macros for the calling convention
// that Linux does not have; the SDK headers define them for real.
#undef WINAPI
#undef CALLBACK

// Every constant vfw_linux.h defines.
#define WEMB_VFW_CONSTANTS(X)                                                           \
    X(FALSE) X(TRUE)                                                                    \
    X(WM_INITDIALOG) X(WM_COMMAND) X(IDOK) X(IDCANCEL)                                  \
    X(DRV_LOAD) X(DRV_ENABLE) X(DRV_OPEN) X(DRV_CLOSE) X(DRV_DISABLE) X(DRV_FREE)      \
    X(DRV_CONFIGURE) X(DRV_QUERYCONFIGURE) X(DRV_INSTALL) X(DRV_REMOVE)                \
    X(DRV_EXITSESSION) X(DRV_POWER) X(DRV_USER)                                         \
    X(ICM_USER) X(ICM_RESERVED_LOW) X(ICM_RESERVED)                                     \
    X(ICM_GETSTATE) X(ICM_SETSTATE) X(ICM_GETINFO) X(ICM_CONFIGURE) X(ICM_ABOUT)        \
    X(ICM_GETERRORTEXT) X(ICM_GETFORMATNAME) X(ICM_ENUMFORMATS)                         \
    X(ICM_GETDEFAULTQUALITY) X(ICM_GETQUALITY) X(ICM_SETQUALITY) X(ICM_SET) X(ICM_GET)  \
    X(ICM_COMPRESS_GET_FORMAT) X(ICM_COMPRESS_GET_SIZE) X(ICM_COMPRESS_QUERY)           \
    X(ICM_COMPRESS_BEGIN) X(ICM_COMPRESS) X(ICM_COMPRESS_END)                           \
    X(ICM_DECOMPRESS_GET_FORMAT) X(ICM_DECOMPRESS_QUERY) X(ICM_DECOMPRESS_BEGIN)        \
    X(ICM_DECOMPRESS) X(ICM_DECOMPRESS_END)                                             \
    X(ICM_DRAW_BEGIN) X(ICM_DRAW_END)                                                   \
    X(ICM_DECOMPRESS_SET_PALETTE) X(ICM_DECOMPRESS_GET_PALETTE)                         \
    X(ICM_DRAW_QUERY) X(ICM_DRAW)                                                       \
    X(ICM_GETBUFFERSWANTED) X(ICM_GETDEFAULTKEYFRAMERATE)                               \
    X(ICM_DECOMPRESSEX_BEGIN) X(ICM_DECOMPRESSEX_QUERY) X(ICM_DECOMPRESSEX)             \
    X(ICM_DECOMPRESSEX_END)                                                             \
    X(ICM_COMPRESS_FRAMES_INFO) X(ICM_COMPRESS_FRAMES) X(ICM_SET_STATUS_PROC)           \
    X(ICERR_OK) X(ICERR_UNSUPPORTED) X(ICERR_BADFORMAT) X(ICERR_MEMORY)                 \
    X(ICERR_INTERNAL) X(ICERR_BADFLAGS) X(ICERR_BADPARAM) X(ICERR_BADSIZE)              \
    X(ICERR_ERROR)                                                                      \
    X(ICVERSION) X(ICTYPE_VIDEO) X(ICDECOMPRESS_HURRYUP) X(BI_RGB) X(BI_BITFIELDS)

// Every type vfw_linux.h defines that carries data across the interface.
#define WEMB_VFW_SCALAR_TYPES(X)                                                        \
    X(BYTE) X(WORD) X(DWORD) X(LONG) X(BOOL) X(UINT) X(INT_PTR) X(LONG_PTR)             \
    X(UINT_PTR) X(DWORD_PTR) X(LRESULT) X(LPARAM) X(WPARAM) X(LPVOID) X(LPCSTR)         \
    X(WCHAR) X(FOURCC) X(HWND) X(HINSTANCE) X(HMODULE) X(HDRVR) X(DLGPROC)

#define WEMB_BITMAPINFOHEADER_FIELDS(X)                                                 \
    X(biSize) X(biWidth) X(biHeight) X(biPlanes) X(biBitCount) X(biCompression)         \
    X(biSizeImage) X(biXPelsPerMeter) X(biYPelsPerMeter) X(biClrUsed) X(biClrImportant)

#define WEMB_ICOPEN_FIELDS(X)                                                           \
    X(dwSize) X(fccType) X(fccHandler) X(dwVersion) X(dwFlags) X(dwError)               \
    X(pV1Reserved) X(pV2Reserved) X(dnDevNode)

#define WEMB_ICINFO_FIELDS(X)                                                           \
    X(dwSize) X(fccType) X(fccHandler) X(dwFlags) X(dwVersion) X(dwVersionICM)          \
    X(szName) X(szDescription) X(szDriver)

#define WEMB_ICDECOMPRESS_FIELDS(X)                                                     \
    X(dwFlags) X(lpbiInput) X(lpInput) X(lpbiOutput) X(lpOutput) X(ckid)

// Our values and types, captured while no SDK macro can interfere. Values
// are widened to long long so that signed and unsigned constants compare by
// value alone.
#define WEMB_CAPTURE_CONSTANT(name) \
    constexpr long long ours_##name = static_cast<long long>(ours::name);
WEMB_VFW_CONSTANTS(WEMB_CAPTURE_CONSTANT)

#define WEMB_CAPTURE_TYPE(name) using ours_##name = ours::name;
WEMB_VFW_SCALAR_TYPES(WEMB_CAPTURE_TYPE)
using ours_BITMAPINFOHEADER = ours::BITMAPINFOHEADER;
using ours_ICOPEN = ours::ICOPEN;
using ours_ICINFO = ours::ICINFO;
using ours_ICDECOMPRESS = ours::ICDECOMPRESS;

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <mmsystem.h>
#include <vfw.h>

#define WEMB_CHECK_CONSTANT(name)                                           \
    static_assert(ours_##name == static_cast<long long>(name),              \
                  "vfw_linux.h gives " #name " another value than the SDK");
WEMB_VFW_CONSTANTS(WEMB_CHECK_CONSTANT)

#define WEMB_CHECK_TYPE(name)                                                         \
    static_assert(sizeof(ours_##name) == sizeof(name),                                \
                  "vfw_linux.h gives " #name " another size than the SDK");          \
    static_assert(std::is_signed<ours_##name>::value == std::is_signed<name>::value,  \
                  "vfw_linux.h gives " #name " another signedness than the SDK");
WEMB_VFW_SCALAR_TYPES(WEMB_CHECK_TYPE)

#define WEMB_CHECK_FIELD(type, field)                                                  \
    static_assert(offsetof(ours_##type, field) == offsetof(type, field),               \
                  "vfw_linux.h places " #type "::" #field " elsewhere than the SDK");  \
    static_assert(sizeof(ours_##type::field) == sizeof(type::field),                   \
                  "vfw_linux.h gives " #type "::" #field " another size than the SDK");
#define WEMB_CHECK_BITMAPINFOHEADER_FIELD(field) WEMB_CHECK_FIELD(BITMAPINFOHEADER, field)
#define WEMB_CHECK_ICOPEN_FIELD(field) WEMB_CHECK_FIELD(ICOPEN, field)
#define WEMB_CHECK_ICINFO_FIELD(field) WEMB_CHECK_FIELD(ICINFO, field)
#define WEMB_CHECK_ICDECOMPRESS_FIELD(field) WEMB_CHECK_FIELD(ICDECOMPRESS, field)
WEMB_BITMAPINFOHEADER_FIELDS(WEMB_CHECK_BITMAPINFOHEADER_FIELD)
WEMB_ICOPEN_FIELDS(WEMB_CHECK_ICOPEN_FIELD)
WEMB_ICINFO_FIELDS(WEMB_CHECK_ICINFO_FIELD)
WEMB_ICDECOMPRESS_FIELDS(WEMB_CHECK_ICDECOMPRESS_FIELD)

#define WEMB_CHECK_STRUCT(type)                                                   \
    static_assert(sizeof(ours_##type) == sizeof(type),                            \
                  "vfw_linux.h gives " #type " another size than the SDK");       \
    static_assert(alignof(ours_##type) == alignof(type),                          \
                  "vfw_linux.h gives " #type " another alignment than the SDK");
WEMB_CHECK_STRUCT(BITMAPINFOHEADER)
WEMB_CHECK_STRUCT(ICOPEN)
WEMB_CHECK_STRUCT(ICINFO)
WEMB_CHECK_STRUCT(ICDECOMPRESS)

// The function-like helpers agree with the SDK macros they stand in for
// (the parentheses around our names keep the SDK macros from expanding).
static_assert((ours::mmioFOURCC)('w', 'e', 'm', 'b') == mmioFOURCC('w', 'e', 'm', 'b'),
              "mmioFOURCC packs the letters in another order than the SDK");
static_assert((ours::mmioFOURCC)('\xff', 0, '\x80', 1) == mmioFOURCC('\xff', 0, '\x80', 1),
              "mmioFOURCC treats bytes above 0x7F differently from the SDK");
static_assert((ours::LOWORD)(0x12345678u) == LOWORD(0x12345678u),
              "LOWORD takes other bits than the SDK");
