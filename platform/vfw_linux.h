// Video for Windows definitions for builds that have no <windows.h>.
//
// The codec talks to its host through the installable-driver protocol of the
// Video Compression Manager. On Windows those names come from <windows.h> and
// <vfw.h>; everywhere else this header supplies the subset the codec and its
// host program use, with the same names, values, sizes and field order as the
// Windows SDK (64-bit Linux matches 64-bit Windows: LONG stays 32 bits,
// handles and LPARAM/LRESULT are pointer-sized). platform/abi_check.cpp
// verifies that claim against the real headers in the Windows build.
//
// Constants are constexpr values rather than macros so that they obey scope;
// the few Windows function-like macros become inline functions of the same
// name and call syntax.
#pragma once

#include <cstdint>

#define WINAPI
#define CALLBACK

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int BOOL;
typedef unsigned int UINT;
typedef intptr_t INT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t UINT_PTR;
typedef uintptr_t DWORD_PTR;
typedef intptr_t LRESULT;
typedef intptr_t LPARAM;
typedef uintptr_t WPARAM;
typedef void* LPVOID;
typedef const char* LPCSTR;
typedef char16_t WCHAR;  // UTF-16 code unit, as on Windows
typedef DWORD FOURCC;

struct HWND__ { int unused; };
typedef HWND__* HWND;
struct HINSTANCE__ { int unused; };
typedef HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
struct HDRVR__ { int unused; };
typedef HDRVR__* HDRVR;

typedef INT_PTR (*DLGPROC)(HWND, UINT, WPARAM, LPARAM);

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;

constexpr DWORD mmioFOURCC(char c0, char c1, char c2, char c3) {
    return static_cast<DWORD>(static_cast<BYTE>(c0)) |
           (static_cast<DWORD>(static_cast<BYTE>(c1)) << 8) |
           (static_cast<DWORD>(static_cast<BYTE>(c2)) << 16) |
           (static_cast<DWORD>(static_cast<BYTE>(c3)) << 24);
}

constexpr WORD LOWORD(UINT_PTR value) { return static_cast<WORD>(value & 0xFFFF); }

inline LPCSTR MAKEINTRESOURCEA(UINT_PTR id) {
    return reinterpret_cast<LPCSTR>(static_cast<UINT_PTR>(static_cast<WORD>(id)));
}

// Window messages and dialog results used by the About box.
constexpr UINT WM_INITDIALOG = 0x0110;
constexpr UINT WM_COMMAND = 0x0111;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// Installable-driver messages.
constexpr UINT DRV_LOAD = 0x0001;
constexpr UINT DRV_ENABLE = 0x0002;
constexpr UINT DRV_OPEN = 0x0003;
constexpr UINT DRV_CLOSE = 0x0004;
constexpr UINT DRV_DISABLE = 0x0005;
constexpr UINT DRV_FREE = 0x0006;
constexpr UINT DRV_CONFIGURE = 0x0007;
constexpr UINT DRV_QUERYCONFIGURE = 0x0008;
constexpr UINT DRV_INSTALL = 0x0009;
constexpr UINT DRV_REMOVE = 0x000A;
constexpr UINT DRV_EXITSESSION = 0x000B;
constexpr UINT DRV_POWER = 0x000F;
constexpr UINT DRV_USER = 0x4000;

// Codec messages.
constexpr UINT ICM_USER = DRV_USER;
constexpr UINT ICM_RESERVED_LOW = DRV_USER + 0x1000;
constexpr UINT ICM_RESERVED = ICM_RESERVED_LOW;
constexpr UINT ICM_GETSTATE = ICM_RESERVED + 0;
constexpr UINT ICM_SETSTATE = ICM_RESERVED + 1;
constexpr UINT ICM_GETINFO = ICM_RESERVED + 2;
constexpr UINT ICM_CONFIGURE = ICM_RESERVED + 10;
constexpr UINT ICM_ABOUT = ICM_RESERVED + 11;
constexpr UINT ICM_GETERRORTEXT = ICM_RESERVED + 12;
constexpr UINT ICM_GETFORMATNAME = ICM_RESERVED + 20;
constexpr UINT ICM_ENUMFORMATS = ICM_RESERVED + 21;
constexpr UINT ICM_GETDEFAULTQUALITY = ICM_RESERVED + 30;
constexpr UINT ICM_GETQUALITY = ICM_RESERVED + 31;
constexpr UINT ICM_SETQUALITY = ICM_RESERVED + 32;
constexpr UINT ICM_SET = ICM_RESERVED + 40;
constexpr UINT ICM_GET = ICM_RESERVED + 41;
constexpr UINT ICM_COMPRESS_GET_FORMAT = ICM_USER + 4;
constexpr UINT ICM_COMPRESS_GET_SIZE = ICM_USER + 5;
constexpr UINT ICM_COMPRESS_QUERY = ICM_USER + 6;
constexpr UINT ICM_COMPRESS_BEGIN = ICM_USER + 7;
constexpr UINT ICM_COMPRESS = ICM_USER + 8;
constexpr UINT ICM_COMPRESS_END = ICM_USER + 9;
constexpr UINT ICM_DECOMPRESS_GET_FORMAT = ICM_USER + 10;
constexpr UINT ICM_DECOMPRESS_QUERY = ICM_USER + 11;
constexpr UINT ICM_DECOMPRESS_BEGIN = ICM_USER + 12;
constexpr UINT ICM_DECOMPRESS = ICM_USER + 13;
constexpr UINT ICM_DECOMPRESS_END = ICM_USER + 14;
constexpr UINT ICM_DRAW_BEGIN = ICM_USER + 15;
constexpr UINT ICM_DRAW_END = ICM_USER + 21;
constexpr UINT ICM_DECOMPRESS_SET_PALETTE = ICM_USER + 29;
constexpr UINT ICM_DECOMPRESS_GET_PALETTE = ICM_USER + 30;
constexpr UINT ICM_DRAW_QUERY = ICM_USER + 31;
constexpr UINT ICM_DRAW = ICM_USER + 33;
constexpr UINT ICM_GETBUFFERSWANTED = ICM_USER + 41;
constexpr UINT ICM_GETDEFAULTKEYFRAMERATE = ICM_USER + 42;
constexpr UINT ICM_DECOMPRESSEX_BEGIN = ICM_USER + 60;
constexpr UINT ICM_DECOMPRESSEX_QUERY = ICM_USER + 61;
constexpr UINT ICM_DECOMPRESSEX = ICM_USER + 62;
constexpr UINT ICM_DECOMPRESSEX_END = ICM_USER + 63;
constexpr UINT ICM_COMPRESS_FRAMES_INFO = ICM_USER + 70;
constexpr UINT ICM_COMPRESS_FRAMES = ICM_USER + 71;
constexpr UINT ICM_SET_STATUS_PROC = ICM_USER + 72;

// Codec results.
constexpr LONG ICERR_OK = 0;
constexpr LONG ICERR_UNSUPPORTED = -1;
constexpr LONG ICERR_BADFORMAT = -2;
constexpr LONG ICERR_MEMORY = -3;
constexpr LONG ICERR_INTERNAL = -4;
constexpr LONG ICERR_BADFLAGS = -5;
constexpr LONG ICERR_BADPARAM = -6;
constexpr LONG ICERR_BADSIZE = -7;
constexpr LONG ICERR_ERROR = -100;

constexpr DWORD ICVERSION = 0x0104;
constexpr DWORD ICTYPE_VIDEO = mmioFOURCC('v', 'i', 'd', 'c');
constexpr DWORD ICDECOMPRESS_HURRYUP = 0x80000000u;
constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_BITFIELDS = 3;

struct BITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight;
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
};
typedef BITMAPINFOHEADER* LPBITMAPINFOHEADER;

struct ICOPEN {
    DWORD dwSize;
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwVersion;
    DWORD dwFlags;
    LRESULT dwError;
    LPVOID pV1Reserved;
    LPVOID pV2Reserved;
    DWORD dnDevNode;
};

struct ICINFO {
    DWORD dwSize;
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwFlags;
    DWORD dwVersion;
    DWORD dwVersionICM;
    WCHAR szName[16];
    WCHAR szDescription[128];
    WCHAR szDriver[128];
};

struct ICDECOMPRESS {
    DWORD dwFlags;
    LPBITMAPINFOHEADER lpbiInput;
    LPVOID lpInput;
    LPBITMAPINFOHEADER lpbiOutput;
    LPVOID lpOutput;
    DWORD ckid;
};

static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER is 40 bytes");
static_assert(sizeof(ICINFO) == 568, "ICINFO is 568 bytes");

// Platform functions the codec calls. On Linux they are the observable
// stand-ins of platform/stand_ins.h.
LRESULT DefDriverProc(DWORD_PTR driverId, HDRVR driver, UINT message, LPARAM lParam1,
                      LPARAM lParam2);
INT_PTR DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND parent,
                        DLGPROC dialogProc, LPARAM initParam);
BOOL EndDialog(HWND dialog, INT_PTR result);
