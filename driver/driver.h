// The codec driver: DriverProc, the module's one export, and the handlers it
// routes the decompression messages to.
#pragma once

#include "platform/vfw.h"

// The module's instance handle, written by the DLL entry; read only to load
// the About dialog.
extern HINSTANCE g_module;

// The per-open record. It holds nothing any message uses: its address is the
// driver id handed to the host, and DRV_CLOSE deletes it.
struct DriverInstance;

// Resource id of the About dialog.
constexpr int kAboutDialogId = 101;

extern "C" LRESULT WINAPI DriverProc(DWORD_PTR driverId, HDRVR driver, UINT message,
                                     LPARAM lParam1, LPARAM lParam2);

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Format negotiation and the per-frame work (decompress.cpp).
LRESULT DecompressQuery(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output);
LRESULT DecompressGetFormat(const BITMAPINFOHEADER* input, BITMAPINFOHEADER* output);
LRESULT DecompressFrame(const ICDECOMPRESS* decompress);

// Bytes per row of the 24-bit output: width x 3 rounded up to a multiple of 4.
// Formed in unsigned 32-bit arithmetic, as the DWORD fields it feeds.
inline DWORD RowStep(LONG width) {
    return (static_cast<DWORD>(width) * 3u + 3u) & ~3u;
}

// The four-character code of the stream format, bytes 'w','e','m','b' in memory.
constexpr DWORD kWembFourcc = mmioFOURCC('w', 'e', 'm', 'b');
