// vfw_host: drives the installed wemb.dll through the Video Compression
// Manager (msvfw32) the way a player does, and reports each finding on a
// line of its own: "ok <what>" or "FAIL <what>: <why>". The exit status is 0
// when every check passed, 1 otherwise, 2 for a wrong command line.
//
// The codec must already be registered as the handler of `wemb` (vidc.wemb
// under Drivers32); scripts/wine-test.sh does that in a fresh Wine prefix.
//
// Usage: vfw_host [--frame FRAME.jpg EXPECTED.bmp] [--clip CLIP.avi EXPECTED-DIR]
//                 [--no-pictures]
// The picture checks (picture_checks.cpp) decode the JPEG frame and play the
// AVI clip through the codec and compare the pictures with the Linux host's
// (host.h describes the arguments); the other checks need no inputs.
#include <cstring>
#include <string>
#include <vector>

#include "host.h"
#include "picture_checks.h"

namespace {

using namespace vfw_host;

// ---------------------------------------------------------------------------
// Helpers

std::string Narrow(const WCHAR* text, size_t capacity) {
    std::string result;
    for (size_t i = 0; i < capacity && text[i] != 0; ++i) {
        result += text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
    }
    return result;
}

// ---------------------------------------------------------------------------
// Checks. Each takes the report and the command line's inputs.

// The registration is visible to the compression manager, and the module's
// export is reachable by its undecorated name.
void CheckInstallation(Report& report, const Inputs&) {
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

void CheckOpenAndClose(Report& report, const Inputs&) {
    HIC codec = ICOpen(ICTYPE_VIDEO, kWemb, ICMODE_DECOMPRESS);
    if (!report.Expect(codec != nullptr, "ICOpen(vidc, wemb, ICMODE_DECOMPRESS)")) return;
    report.ExpectResult(ICClose(codec), ICERR_OK, "ICClose");
}

void CheckGetInfo(Report& report, const Inputs&) {
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

void CheckDialogQueries(Report& report, const Inputs&) {
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

void CheckDecompressQuery(Report& report, const Inputs&) {
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
void CheckLocate(Report& report, const Inputs&) {
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

void CheckDecompressGetFormat(Report& report, const Inputs&) {
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

void CheckDecompressGarbage(Report& report, const Inputs&) {
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
void CheckAboutBox(Report& report, const Inputs&) {
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
    void (*run)(Report&, const Inputs&);
};

// Add new checks here; checks that need inputs take them from Inputs.
const Check kChecks[] = {
    {"installation", CheckInstallation},
    {"open and close", CheckOpenAndClose},
    {"codec description", CheckGetInfo},
    {"dialog queries", CheckDialogQueries},
    {"about box", CheckAboutBox},
    {"decompress query", CheckDecompressQuery},
    {"locate by format", CheckLocate},
    {"decompress get format", CheckDecompressGetFormat},
    {"decompress a bad frame", CheckDecompressGarbage},
    {"decompress a real frame", CheckDecodeFrame},
    {"play the clip through AVIFile", CheckPlayClip},
};

const char kUsage[] =
    "usage: vfw_host [--frame FRAME.jpg EXPECTED.bmp] [--clip CLIP.avi EXPECTED-DIR]\n"
    "                [--no-pictures]\n";

// Reads the command line into `inputs`; false, with a message, when it is wrong.
bool ParseCommandLine(int argc, char** argv, Inputs* inputs) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        std::string* first = nullptr;
        std::string* second = nullptr;
        if (option == "--frame") {
            first = &inputs->frameJpeg;
            second = &inputs->frameBmp;
        } else if (option == "--clip") {
            first = &inputs->clipAvi;
            second = &inputs->clipFrames;
        } else if (option == "--no-pictures") {
            inputs->noPictures = true;
            continue;
        } else {
            std::fprintf(stderr, "vfw_host: unknown argument %s\n", option.c_str());
            return false;
        }
        if (i + 2 >= argc || !first->empty()) {
            std::fprintf(stderr, "vfw_host: %s takes two paths, once\n", option.c_str());
            return false;
        }
        *first = argv[++i];
        *second = argv[++i];
    }
    if (inputs->noPictures && (!inputs->frameJpeg.empty() || !inputs->clipAvi.empty())) {
        std::fprintf(stderr, "vfw_host: --no-pictures contradicts --frame and --clip\n");
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Inputs inputs;
    if (!ParseCommandLine(argc, argv, &inputs)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    Report report;
    for (const Check& check : kChecks) {
        std::printf("# %s\n", check.name);
        check.run(report, inputs);
    }
    std::printf("vfw_host: %d passed, %d failed\n", report.passed(), report.failed());
    return report.failed() == 0 && report.passed() > 0 ? 0 : 1;
}
