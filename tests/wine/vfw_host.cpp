// vfw_host: drives the installed wemb.dll through the Video Compression
// Manager (msvfw32) the way a player does, and reports each finding on a
// line of its own: "ok <what>" or "FAIL <what>: <why>". The exit status is 0
// when every check passed, 1 otherwise.
//
// The codec must already be registered as the handler of `wemb` (vidc.wemb
// under Drivers32); scripts/wine-test.sh does that in a fresh Wine prefix.
//
// Usage: vfw_host [FILE...]
// Every check receives the file arguments. The checks here need none; a
// check that compares decoded pictures with expected bytes takes its inputs
// from them (see kChecks at the end) and reports a failure when they are
// missing, so that a wrong command line cannot pass unnoticed.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// (after windows.h, which they build on)
#include <mmsystem.h>
#include <vfw.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// Reporting

class Report {
public:
    // Prints "ok <what>" or "FAIL <what>".
    bool Expect(bool passed, const char* what) { return Expectf(passed, what, "%s", ""); }

    // As Expect, with printf-style details after a failure: "FAIL <what>: <details>".
    __attribute__((format(printf, 4, 5))) bool Expectf(bool passed, const char* what,
                                                       const char* detailFormat, ...) {
        if (passed) {
            std::printf("ok %s\n", what);
            ++passed_;
        } else {
            va_list details;
            va_start(details, detailFormat);
            char text[512];
            std::vsnprintf(text, sizeof(text), detailFormat, details);
            va_end(details);
            std::printf("FAIL %s%s%s\n", what, text[0] != '\0' ? ": " : "", text);
            ++failed_;
        }
        std::fflush(stdout);
        return passed;
    }

    // Compares two results of ICSendMessage and friends.
    bool ExpectResult(LRESULT actual, LRESULT expected, const char* what) {
        return Expectf(actual == expected, what, "got %lld, want %lld",
                       static_cast<long long>(actual), static_cast<long long>(expected));
    }

    int passed() const { return passed_; }
    int failed() const { return failed_; }

private:
    int passed_ = 0;
    int failed_ = 0;
};

using Files = std::vector<std::string>;

// ---------------------------------------------------------------------------
// Helpers

const DWORD kWemb = mmioFOURCC('w', 'e', 'm', 'b');

// An open codec instance, closed when it goes out of scope.
class Codec {
public:
    Codec() : handle_(ICOpen(ICTYPE_VIDEO, kWemb, ICMODE_DECOMPRESS)) {}
    ~Codec() {
        if (handle_ != nullptr) ICClose(handle_);
    }
    Codec(const Codec&) = delete;
    Codec& operator=(const Codec&) = delete;

    HIC handle() const { return handle_; }

    // Reports and returns whether the open succeeded; checks that need the
    // codec start with it.
    bool Opened(Report& report, const char* what) const {
        return report.Expectf(handle_ != nullptr, what, "ICOpen(vidc, wemb) returned null");
    }

private:
    HIC handle_;
};

BITMAPINFOHEADER WembFormat(LONG width, LONG height) {
    BITMAPINFOHEADER format = {};
    format.biSize = sizeof(format);
    format.biWidth = width;
    format.biHeight = height;
    format.biPlanes = 1;
    format.biBitCount = 24;
    format.biCompression = kWemb;
    return format;
}

BITMAPINFOHEADER RgbFormat(LONG width, LONG height, WORD bitCount) {
    BITMAPINFOHEADER format = {};
    format.biSize = sizeof(format);
    format.biWidth = width;
    format.biHeight = height;
    format.biPlanes = 1;
    format.biBitCount = bitCount;
    format.biCompression = BI_RGB;
    return format;
}

std::string Narrow(const WCHAR* text, size_t capacity) {
    std::string result;
    for (size_t i = 0; i < capacity && text[i] != 0; ++i) {
        result += text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
    }
    return result;
}

// Reads a whole file; false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::vector<BYTE>& bytes) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    bytes.clear();
    BYTE chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof(chunk), file)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

// ---------------------------------------------------------------------------
// Checks. Each takes the report and the file arguments.

// The registration is visible to the compression manager, and the module's
// export is reachable by its undecorated name.
void CheckInstallation(Report& report, const Files&) {
    ICINFO info = {};
    info.dwSize = sizeof(info);
    report.Expect(ICInfo(ICTYPE_VIDEO, kWemb, &info) != FALSE,
                  "ICInfo finds the registered handler vidc.wemb");

    HMODULE module = LoadLibraryA("wemb.dll");
    if (report.Expectf(module != nullptr, "wemb.dll loads from the system directory", "error %lu",
                       GetLastError())) {
        report.Expect(GetProcAddress(module, "DriverProc") != nullptr,
                      "wemb.dll exports DriverProc");
        report.Expect(FindResourceExA(module, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(101),
                                      MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT)) != nullptr,
                      "wemb.dll holds the Russian About dialog 101");
        FreeLibrary(module);
    }
}

// Every file named on the command line can be read, so that a mistyped path
// fails the run instead of quietly skipping what it was meant for.
void CheckFileArguments(Report& report, const Files& files) {
    for (const std::string& path : files) {
        std::vector<BYTE> bytes;
        const std::string what = "file argument " + path + " can be read";
        report.Expect(ReadWholeFile(path, bytes), what.c_str());
    }
}

void CheckOpenAndClose(Report& report, const Files&) {
    HIC codec = ICOpen(ICTYPE_VIDEO, kWemb, ICMODE_DECOMPRESS);
    if (!report.Expect(codec != nullptr, "ICOpen(vidc, wemb, ICMODE_DECOMPRESS)")) return;
    report.ExpectResult(ICClose(codec), ICERR_OK, "ICClose");
}

void CheckGetInfo(Report& report, const Files&) {
    Codec codec;
    if (!codec.Opened(report, "open for ICGetInfo")) return;
    ICINFO info = {};
    info.dwSize = sizeof(info);
    report.ExpectResult(ICGetInfo(codec.handle(), &info, sizeof(info)), sizeof(info),
                        "ICGetInfo returns the size it was given");
    report.Expectf(info.fccType == ICTYPE_VIDEO, "ICINFO.fccType is vidc", "got 0x%08lx",
                   info.fccType);
    report.Expectf(info.fccHandler == kWemb, "ICINFO.fccHandler is wemb", "got 0x%08lx",
                   info.fccHandler);
    report.Expectf(info.dwFlags == 0, "ICINFO.dwFlags is 0", "got 0x%lx", info.dwFlags);
    report.Expectf(info.dwVersion == 0, "ICINFO.dwVersion is 0", "got 0x%lx", info.dwVersion);
    report.Expectf(info.dwVersionICM == 0x104, "ICINFO.dwVersionICM is 0x104", "got 0x%lx",
                   info.dwVersionICM);
    const std::string name = Narrow(info.szName, 16);
    report.Expectf(name == "Wemb codec", "ICINFO.szName is \"Wemb codec\"", "got \"%s\"",
                   name.c_str());
    const std::string description = Narrow(info.szDescription, 128);
    report.Expectf(description == "Torvane Wemb Video Codec",
                   "ICINFO.szDescription is \"Torvane Wemb Video Codec\"", "got \"%s\"",
                   description.c_str());
    std::printf("# ICINFO.szDriver as the manager left it: \"%s\"\n",
                Narrow(info.szDriver, 128).c_str());
}

void CheckDialogQueries(Report& report, const Files&) {
    Codec codec;
    if (!codec.Opened(report, "open for the dialog queries")) return;
    report.Expect(ICQueryAbout(codec.handle()), "ICQueryAbout: there is an About box");
    report.Expect(!ICQueryConfigure(codec.handle()),
                  "ICQueryConfigure: there is no configuration dialog");
    DWORD quality = 0;
    report.ExpectResult(ICSendMessage(codec.handle(), ICM_GETDEFAULTQUALITY,
                                      reinterpret_cast<DWORD_PTR>(&quality), sizeof(quality)),
                        ICERR_OK, "ICM_GETDEFAULTQUALITY succeeds");
    report.Expectf(quality == 8000, "default quality is 8000", "got %lu", quality);
}

void CheckDecompressQuery(Report& report, const Files&) {
    Codec codec;
    if (!codec.Opened(report, "open for ICDecompressQuery")) return;
    HIC hic = codec.handle();
    BITMAPINFOHEADER input = WembFormat(640, 480);

    report.ExpectResult(ICDecompressQuery(hic, &input, nullptr), ICERR_OK,
                        "ICDecompressQuery wemb 640x480, no output format");
    BITMAPINFOHEADER rgb24 = RgbFormat(640, 480, 24);
    report.ExpectResult(ICDecompressQuery(hic, &input, &rgb24), ICERR_OK,
                        "ICDecompressQuery wemb 640x480 -> RGB24 640x480");
    BITMAPINFOHEADER rgb32 = RgbFormat(640, 480, 32);
    report.ExpectResult(ICDecompressQuery(hic, &input, &rgb32), ICERR_BADFORMAT,
                        "ICDecompressQuery refuses a 32-bit output");
    BITMAPINFOHEADER topDown = RgbFormat(640, -480, 24);
    report.ExpectResult(ICDecompressQuery(hic, &input, &topDown), ICERR_BADFORMAT,
                        "ICDecompressQuery refuses a top-down (negative height) output");
    BITMAPINFOHEADER mjpg = WembFormat(640, 480);
    mjpg.biCompression = mmioFOURCC('M', 'J', 'P', 'G');
    report.ExpectResult(ICDecompressQuery(hic, &mjpg, nullptr), ICERR_BADFORMAT,
                        "ICDecompressQuery refuses input compression MJPG");
}

// A player that knows only the stream format finds the codec by asking
// every registered decompressor.
void CheckLocate(Report& report, const Files&) {
    BITMAPINFOHEADER input = WembFormat(640, 480);
    BITMAPINFOHEADER rgb24 = RgbFormat(640, 480, 24);
    HIC found = ICLocate(ICTYPE_VIDEO, 0, &input, &rgb24, ICMODE_DECOMPRESS);
    if (!report.Expect(found != nullptr, "ICLocate finds a decompressor for wemb -> RGB24")) {
        return;
    }
    ICINFO info = {};
    info.dwSize = sizeof(info);
    ICGetInfo(found, &info, sizeof(info));
    report.Expectf(info.fccHandler == kWemb, "ICLocate's decompressor is wemb", "got 0x%08lx",
                   info.fccHandler);
    ICClose(found);
}

void CheckDecompressGetFormat(Report& report, const Files&) {
    Codec codec;
    if (!codec.Opened(report, "open for ICDecompressGetFormat")) return;
    // 641 pixels of 3 bytes are 1923 bytes, padded to 1924 per row.
    BITMAPINFOHEADER input = WembFormat(641, 480);
    report.ExpectResult(ICDecompressGetFormatSize(codec.handle(), &input), 40,
                        "ICDecompressGetFormatSize is 40");

    BITMAPINFOHEADER output;
    std::memset(&output, 0xA5, sizeof(output));
    report.ExpectResult(ICDecompressGetFormat(codec.handle(), &input, &output), ICERR_OK,
                        "ICDecompressGetFormat wemb 641x480");
    const bool fields = output.biSize == 40 && output.biWidth == 641 && output.biHeight == 480 &&
                        output.biPlanes == 1 && output.biBitCount == 24 &&
                        output.biCompression == BI_RGB && output.biXPelsPerMeter == 0 &&
                        output.biYPelsPerMeter == 0 && output.biClrUsed == 0 &&
                        output.biClrImportant == 0;
    report.Expectf(fields, "the offered format is 24-bit BI_RGB 641x480, no palette",
                   "size %lu, %ldx%ld, planes %u, bits %u, compression 0x%lx", output.biSize,
                   output.biWidth, output.biHeight, output.biPlanes, output.biBitCount,
                   output.biCompression);
    report.Expectf(output.biSizeImage == 1924u * 480u, "biSizeImage is 1924 x 480", "got %lu",
                   output.biSizeImage);
}

void CheckDecompressGarbage(Report& report, const Files&) {
    Codec codec;
    if (!codec.Opened(report, "open for ICDecompress")) return;
    HIC hic = codec.handle();
    const LONG width = 16, height = 8;
    BITMAPINFOHEADER input = WembFormat(width, height);
    BITMAPINFOHEADER output = RgbFormat(width, height, 24);
    output.biSizeImage = 48 * height;  // 16 pixels of 3 bytes fill a row exactly

    // Not a JPEG stream: it does not even start with a marker.
    std::vector<BYTE> frame(256);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<BYTE>(i * 37 + 11);
    input.biSizeImage = static_cast<DWORD>(frame.size());
    std::vector<BYTE> pixels(output.biSizeImage, 0x5A);

    report.ExpectResult(ICDecompressBegin(hic, &input, &output), ICERR_OK, "ICDecompressBegin");
    // ICDecompress hands back the driver's LRESULT as a DWORD.
    const LONG result =
        static_cast<LONG>(ICDecompress(hic, 0, &input, frame.data(), &output, pixels.data()));
    report.ExpectResult(result, ICERR_BADFORMAT, "ICDecompress of a frame that is not JPEG");
    bool untouched = true;
    for (BYTE value : pixels) untouched = untouched && value == 0x5A;
    report.Expect(untouched, "the refused frame left the output buffer alone");
    report.ExpectResult(ICDecompressEnd(hic), ICERR_OK, "ICDecompressEnd");
}

// What the About box watcher saw of the dialog window.
struct AboutWatch {
    DWORD hostThread = 0;
    HWND dialog = nullptr;
    char caption[64] = {};
    char okText[16] = {};
    char firstLine[64] = {};
    int controls = 0;
    bool closed = false;
};

BOOL CALLBACK CountChild(HWND, LPARAM count) {
    ++*reinterpret_cast<int*>(count);
    return TRUE;
}

BOOL CALLBACK FindDialog(HWND window, LPARAM watchParam) {
    AboutWatch* watch = reinterpret_cast<AboutWatch*>(watchParam);
    char className[16] = {};
    GetClassNameA(window, className, sizeof(className));
    if (std::strcmp(className, "#32770") != 0) return TRUE;
    watch->dialog = window;
    return FALSE;
}

// Waits for the About box on the host's thread, notes what it shows, and
// presses OK the way the dialog manager does: WM_COMMAND with IDOK. Should
// the box stay open, the host's thread would wait forever inside ICAbout,
// so the watcher ends the program with a failure instead.
DWORD WINAPI WatchAbout(LPVOID watchParam) {
    AboutWatch* watch = static_cast<AboutWatch*>(watchParam);
    for (int attempt = 0; attempt < 200 && watch->dialog == nullptr; ++attempt) {
        Sleep(50);
        EnumThreadWindows(watch->hostThread, FindDialog, reinterpret_cast<LPARAM>(watch));
    }
    if (watch->dialog == nullptr) return 1;
    GetWindowTextA(watch->dialog, watch->caption, sizeof(watch->caption));
    GetDlgItemTextA(watch->dialog, IDOK, watch->okText, sizeof(watch->okText));
    EnumChildWindows(watch->dialog, CountChild, reinterpret_cast<LPARAM>(&watch->controls));
    PostMessageA(watch->dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(watch->dialog, IDOK)));
    for (int attempt = 0; attempt < 100 && IsWindow(watch->dialog); ++attempt) Sleep(50);
    if (IsWindow(watch->dialog)) {
        std::printf("FAIL the About box closes on OK: still open after 5 s\n");
        std::fflush(stdout);
        ExitProcess(1);
    }
    watch->closed = true;
    return 0;
}

// ICM_ABOUT shows the dialog modally from the module's own resources; OK
// closes it and the message returns.
void CheckAboutBox(Report& report, const Files&) {
    Codec codec;
    if (!codec.Opened(report, "open for ICAbout")) return;
    AboutWatch watch;
    watch.hostThread = GetCurrentThreadId();
    HANDLE watcher = CreateThread(nullptr, 0, WatchAbout, &watch, 0, nullptr);
    if (!report.Expect(watcher != nullptr, "start the About box watcher")) return;
    report.ExpectResult(ICAbout(codec.handle(), nullptr), ICERR_OK, "ICAbout returns ICERR_OK");
    WaitForSingleObject(watcher, INFINITE);
    CloseHandle(watcher);
    if (!report.Expect(watch.dialog != nullptr, "ICAbout shows a dialog")) return;
    report.Expect(watch.closed, "the About box closes on OK");
    report.Expectf(std::strcmp(watch.caption, "Torvane") == 0, "the About box caption",
                   "got \"%s\"", watch.caption);
    report.Expectf(std::strcmp(watch.okText, "OK") == 0, "the About box OK button", "got \"%s\"",
                   watch.okText);
    report.Expectf(watch.controls == 3, "the About box has three controls", "got %d",
                   watch.controls);
}

struct Check {
    const char* name;
    void (*run)(Report&, const Files&);
};

// Add new checks here. A check that needs inputs reads them from `files`
// (e.g. a JPEG frame and its expected 24-bit picture, or an AVI file opened
// with AVIFileOpen/AVIStreamGetFrameOpen/AVIStreamGetFrame) with
// ReadWholeFile.
const Check kChecks[] = {
    {"file arguments", CheckFileArguments},
    {"installation", CheckInstallation},
    {"open and close", CheckOpenAndClose},
    {"codec description", CheckGetInfo},
    {"dialog queries", CheckDialogQueries},
    {"about box", CheckAboutBox},
    {"decompress query", CheckDecompressQuery},
    {"locate by format", CheckLocate},
    {"decompress get format", CheckDecompressGetFormat},
    {"decompress a bad frame", CheckDecompressGarbage},
};

}  // namespace

int main(int argc, char** argv) {
    const Files files(argv + 1, argv + argc);
    Report report;
    for (const Check& check : kChecks) {
        std::printf("# %s\n", check.name);
        check.run(report, files);
    }
    std::printf("vfw_host: %d passed, %d failed\n", report.passed(), report.failed());
    return report.failed() == 0 && report.passed() > 0 ? 0 : 1;
}
