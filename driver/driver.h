// The codec driver: DriverProc, the module's one export, and the handlers it
// routes the decompression messages to.
#pragma once

#include "platform/vfw.h"

// The module's instance handle, written by the DLL entry; read only to load
// the About dialog.
extern HINSTANCE g_module;

class CWorkerPool;

// The per-open record: the worker threads of the instance's frames. Its
// address is the driver id handed to the host, and DRV_CLOSE deletes it.
struct DriverInstance;

// Instances (instances.cpp). OpenDriverInstance returns null when the heap
// refuses. CloseDriverInstance deletes the open instance named by the
// driver id, joining its threads, and is false for an id that names none.
// InstanceWorkers gives the open instance's worker pool, or null for an id
// that names none (frames sent with it are decoded on the calling thread).
// StopInstanceWorkers joins the threads of every open instance; they start
// again with the next frame that needs them.
DriverInstance* OpenDriverInstance();
bool CloseDriverInstance(DWORD_PTR driverId);
CWorkerPool* InstanceWorkers(DWORD_PTR driverId);
void StopInstanceWorkers();

// Resource id of the About dialog.
constexpr int kAboutDialogId = 101;

extern "C" LRESULT WINAPI DriverProc(DWORD_PTR driverId, HDRVR driver, UINT message,
                                     LPARAM lParam1, LPARAM lParam2);

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Format negotiation and the per-frame work (decompress.cpp). DecompressFrame
// decodes with the instance's `workers`, or on the calling thread alone when
// it is null.
LRESULT DecompressQuery(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output);
LRESULT DecompressGetFormat(const BITMAPINFOHEADER* input, BITMAPINFOHEADER* output);
LRESULT DecompressFrame(const ICDECOMPRESS* decompress, CWorkerPool* workers);

// Bytes per row of the 24-bit output: width x 3 rounded up to a multiple of 4.
// Formed in unsigned 32-bit arithmetic, as the DWORD fields it feeds.
inline DWORD RowStep(LONG width) {
    return (static_cast<DWORD>(width) * 3u + 3u) & ~3u;
}

// The four-character code of the stream format, bytes 'w','e','m','b' in memory.
constexpr DWORD kWembFourcc = mmioFOURCC('w', 'e', 'm', 'b');
