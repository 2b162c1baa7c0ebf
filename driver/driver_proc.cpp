// DriverProc: answers every driver and codec message of the host.
//
// The codec only decompresses. Compression, drawing, palette, state and
// quality-setting messages are unsupported, and no message depends on the
// instance it is sent to.
#include <cstddef>
#include <cstring>

#include "driver/driver.h"
#include "driver/instance.h"

HINSTANCE g_module = nullptr;

namespace {

constexpr LRESULT kDriverOk = 1;  // what DRV_* messages answer on success
constexpr DWORD kDefaultQuality = 8000;
constexpr LPARAM kQueryForm = -1;  // lParam1 of the "does a dialog exist?" forms

const char16_t kCodecName[] = u"Wemb codec";
const char16_t kCodecDescription[] = u"Torvane Wemb Video Codec";

LRESULT OpenInstance(LPARAM lParam2) {
    ICOPEN* open = reinterpret_cast<ICOPEN*>(lParam2);
    if (open != nullptr && open->fccType != ICTYPE_VIDEO) {
        return 0;  // not a video open; dwError is left as the host set it
    }
    DriverInstance* instance = OpenDriverInstance();
    if (open != nullptr) {
        open->dwError = instance != nullptr ? ICERR_OK : ICERR_MEMORY;
    }
    return reinterpret_cast<LRESULT>(instance);
}

// The instance a message is for. Ids the codec did not hand out (tests and
// hosts that send codec messages without opening, with id 0 or 1), or whose
// instance is closed, have none.
DriverInstance* InstanceOf(DWORD_PTR driverId) { return FindDriverInstance(driverId); }

// An id that names no open instance is ignored.
LRESULT CloseInstance(DWORD_PTR driverId) {
    CloseDriverInstance(driverId);
    return kDriverOk;
}

// The module is about to be unloaded: no thread of it may be left running,
// even for an instance the host never closed.
LRESULT FreeDriver() {
    StopDriverWorkers();
    return kDriverOk;
}

// Writes `value` to the ICINFO field at `offset` when the field lies wholly
// inside the `provided` bytes the host says it gave us.
void PutField(ICINFO* info, LPARAM provided, size_t offset, const void* value, size_t size) {
    if (provided >= 0 && offset + size <= static_cast<size_t>(provided)) {
        std::memcpy(reinterpret_cast<unsigned char*>(info) + offset, value, size);
    }
}

void PutDword(ICINFO* info, LPARAM provided, size_t offset, DWORD value) {
    PutField(info, provided, offset, &value, sizeof(value));
}

// Copies a zero-terminated UTF-16 text into a WCHAR array of the ICINFO.
template <size_t N>
void PutText(ICINFO* info, LPARAM provided, size_t offset, const char16_t (&text)[N]) {
    WCHAR units[N];
    for (size_t i = 0; i < N; ++i) {
        units[i] = static_cast<WCHAR>(text[i]);
    }
    PutField(info, provided, offset, units, sizeof(units));
}

// ICM_GETINFO: describes the codec. dwSize and szDriver are the host's.
LRESULT GetInfo(LPARAM lParam1, LPARAM lParam2) {
    ICINFO* info = reinterpret_cast<ICINFO*>(lParam1);
    if (info == nullptr) {
        return 0;
    }
    PutDword(info, lParam2, offsetof(ICINFO, fccType), ICTYPE_VIDEO);
    PutDword(info, lParam2, offsetof(ICINFO, fccHandler), kWembFourcc);
    PutDword(info, lParam2, offsetof(ICINFO, dwFlags), 0);
    PutDword(info, lParam2, offsetof(ICINFO, dwVersion), 0);
    PutDword(info, lParam2, offsetof(ICINFO, dwVersionICM), ICVERSION);
    PutText(info, lParam2, offsetof(ICINFO, szName), kCodecName);
    PutText(info, lParam2, offsetof(ICINFO, szDescription), kCodecDescription);
    return lParam2;
}

LRESULT ShowAbout(LPARAM lParam1) {
    if (lParam1 == kQueryForm) {
        return ICERR_OK;  // yes, there is an About box
    }
    DialogBoxParamA(g_module, MAKEINTRESOURCEA(kAboutDialogId), reinterpret_cast<HWND>(lParam1),
                    AboutDialogProc, 0);
    return ICERR_OK;
}

LRESULT GetDefaultQuality(LPARAM lParam1) {
    DWORD* quality = reinterpret_cast<DWORD*>(lParam1);
    if (quality == nullptr) {
        return ICERR_BADPARAM;
    }
    *quality = kDefaultQuality;
    return ICERR_OK;
}

bool IsUnsupportedCodecMessage(UINT message) {
    if (message >= ICM_COMPRESS_GET_FORMAT && message <= ICM_COMPRESS_END) return true;
    if (message >= ICM_DECOMPRESSEX_BEGIN && message <= ICM_DECOMPRESSEX_END) return true;
    switch (message) {
        case ICM_DECOMPRESS_SET_PALETTE:
        case ICM_DECOMPRESS_GET_PALETTE:
        case ICM_GETBUFFERSWANTED:
        case ICM_GETDEFAULTKEYFRAMERATE:
        case ICM_COMPRESS_FRAMES_INFO:
        case ICM_GETSTATE:
        case ICM_SETSTATE:
        case ICM_CONFIGURE:
        case ICM_GETQUALITY:
        case ICM_SETQUALITY:
            return true;
        default:
            return false;
    }
}

}  // namespace

extern "C" LRESULT WINAPI DriverProc(DWORD_PTR driverId, HDRVR driver, UINT message,
                                     LPARAM lParam1, LPARAM lParam2) {
    switch (message) {
        case DRV_LOAD:
        case DRV_ENABLE:
        case DRV_DISABLE:
        case DRV_INSTALL:
        case DRV_REMOVE:
            return kDriverOk;
        case DRV_OPEN:
            return OpenInstance(lParam2);
        case DRV_CLOSE:
            return CloseInstance(driverId);
        case DRV_FREE:
            return FreeDriver();
        case DRV_CONFIGURE:
        case DRV_QUERYCONFIGURE:
            return 0;  // no configuration dialog
        case ICM_DECOMPRESS_GET_FORMAT:
            return DecompressGetFormat(reinterpret_cast<const BITMAPINFOHEADER*>(lParam1),
                                       reinterpret_cast<BITMAPINFOHEADER*>(lParam2));
        case ICM_DECOMPRESS_QUERY:
            return DecompressQuery(reinterpret_cast<const BITMAPINFOHEADER*>(lParam1),
                                   reinterpret_cast<const BITMAPINFOHEADER*>(lParam2));
        case ICM_DECOMPRESS_BEGIN:
            return DecompressBegin(reinterpret_cast<const BITMAPINFOHEADER*>(lParam1),
                                   reinterpret_cast<const BITMAPINFOHEADER*>(lParam2));
        case ICM_DECOMPRESS_END:
            return DecompressEnd(InstanceOf(driverId));
        case ICM_DECOMPRESS:
            return DecompressFrame(InstanceOf(driverId), reinterpret_cast<const ICDECOMPRESS*>(lParam1));
        case ICM_GETINFO:
            return GetInfo(lParam1, lParam2);
        case ICM_ABOUT:
            return ShowAbout(lParam1);
        case ICM_GETDEFAULTQUALITY:
            return GetDefaultQuality(lParam1);
        case ICM_SET:
        case ICM_GET:
            return 0;
        default:
            break;
    }
    if (IsUnsupportedCodecMessage(message)) {
        return ICERR_UNSUPPORTED;
    }
    return DefDriverProc(driverId, driver, message, lParam1, lParam2);
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    if (message != WM_COMMAND) {
        return FALSE;  // WM_INITDIALOG included: the default focus is fine
    }
    const WORD command = LOWORD(wParam);
    if (command == IDOK || command == IDCANCEL) {
        EndDialog(dialog, command);
    }
    return TRUE;
}
