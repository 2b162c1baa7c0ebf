// The codec driver: DriverProc, the module's one export, and the handlers it
// routes the decompression messages to.
#pragma once

#include <cstdint>

#include "platform/vfw.h"

// The module's instance handle, written by the DLL entry; read only to load
// the About dialog.
extern HINSTANCE g_module;

// The per-open record: its address is the driver id handed to the host, and
// DRV_CLOSE deletes it (instance.cpp).
struct DriverInstance;

// Resource id of the About dialog.
constexpr int kAboutDialogId = 101;

extern "C" LRESULT WINAPI DriverProc(DWORD_PTR driverId, HDRVR driver, UINT message,
                                     LPARAM lParam1, LPARAM lParam2);

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Format negotiation and the per-frame work (decompress.cpp). QUERY and
// BEGIN answer alike: both accept exactly the formats DECOMPRESS writes.
LRESULT DecompressQuery(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output);
LRESULT DecompressBegin(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output);
LRESULT DecompressGetFormat(const BITMAPINFOHEADER* input, BITMAPINFOHEADER* output);
LRESULT DecompressFrame(DriverInstance* instance, const ICDECOMPRESS* decompress);
LRESULT DecompressEnd(DriverInstance* instance);

// The largest width or height a JPEG frame header can state: no picture the
// codec writes is larger, so no size formed from these wraps in 64 bits.
constexpr LONG kMaxFrameDimension = 65535;

// Bytes per row of a bitmap of `bitCount` bits per pixel: rounded up to a
// multiple of 4. 64-bit arithmetic, so that any LONG width is safe.
inline uint64_t RowStep(LONG width, WORD bitCount) {
    return (static_cast<uint64_t>(static_cast<uint32_t>(width)) * bitCount / 8 + 3) & ~uint64_t{3};
}

// The four-character code of the stream format, bytes 'w','e','m','b' in memory.
constexpr DWORD kWembFourcc = mmioFOURCC('w', 'e', 'm', 'b');
