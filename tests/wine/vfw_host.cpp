// vfw_host: drives the installed wemb.dll through Wine's compression manager
// (msvfw32) and AVI reader (avifil32) the way a player does, and prints one
// line per check, "ok <what>" or "FAIL <what>: <details>". The exit status is
// 0 when every check passed, 1 otherwise, 2 for a wrong command line.
//
//   vfw_host [FRAME.jpg WIDTHxHEIGHT FRAME.raw CLIP.avi WIDTHxHEIGHT CLIP.raw]
//
// The codec must already be registered as the handler of `wemb` (vidc.wemb
// under Drivers32); scripts/wine-test.sh does that in a fresh Wine prefix.
// With the six arguments the JPEG frame is decoded through ICDecompress and
// the clip played through AVIStreamGetFrame, and every picture is compared
// bit for bit with the Linux host's: `wemb-decode --raw`, each frame's rows
// bottom-up with no padding. The frame is then also decoded through many
// instances opened and closed in turn, which must leave the process with
// the threads and handles it had before; when WEMB_THREADS is set, each
// open instance must hold WEMB_THREADS - 1 worker threads (the host's
// thread that decodes is the other one).
#include <windows.h>
#include <tlhelp32.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/bitmap_header.h"

namespace {

const DWORD kWemb = mmioFOURCC('w', 'e', 'm', 'b');
const BYTE kUntouched = 0xA5;  // fills an output buffer before the codec writes

int g_passed = 0;
int g_failed = 0;

__attribute__((format(printf, 1, 2))) std::string Printf(const char* format, ...) {
    char text[400];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof(text), format, arguments);
    va_end(arguments);
    return text;
}

// Prints and counts one finding; `details` say what went wrong.
bool Check(bool passed, const char* what, const std::string& details) {
    if (passed) {
        std::printf("ok %s\n", what);
    } else {
        std::printf("FAIL %s: %s\n", what, details.c_str());
    }
    std::fflush(stdout);
    ++(passed ? g_passed : g_failed);
    return passed;
}

std::string Narrow(const WCHAR* text, size_t capacity) {
    std::string result;
    for (size_t i = 0; i < capacity && text[i] != 0; ++i) {
        result += text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
    }
    return result;
}

std::string Describe(const BITMAPINFOHEADER& format) {
    return Printf("%ld x %ld, %u bits, compression 0x%08lx, image %lu bytes", format.biWidth,
                  format.biHeight, format.biBitCount, format.biCompression, format.biSizeImage);
}

size_t RowStep(LONG width) { return (static_cast<size_t>(width) * 3 + 3) & ~size_t{3}; }

// ---------------------------------------------------------------------------
// What the codec answers through the compression manager

void CheckDescription(HIC codec) {
    ICINFO info = {};
    info.dwSize = sizeof(info);
    const LRESULT size = ICGetInfo(codec, &info, sizeof(info));
    const std::string name = Narrow(info.szName, 16);
    const std::string description = Narrow(info.szDescription, 128);
    Check(size == sizeof(info) && info.fccType == ICTYPE_VIDEO && info.fccHandler == kWemb &&
              info.dwVersionICM == ICVERSION && name == "Wemb codec" &&
              description == "Torvane Wemb Video Codec",
          "ICGetInfo describes the codec",
          Printf("returned %lld: type 0x%08lx, handler 0x%08lx, ICM version 0x%lx, \"%s\", \"%s\"",
                 static_cast<long long>(size), info.fccType, info.fccHandler, info.dwVersionICM,
                 name.c_str(), description.c_str()));
}

void CheckNegotiation(HIC codec) {
    const BITMAPINFOHEADER wemb = BitmapHeader(640, 480, kWemb);
    const BITMAPINFOHEADER mjpg = BitmapHeader(640, 480, mmioFOURCC('M', 'J', 'P', 'G'));
    const BITMAPINFOHEADER rgb24 = BitmapHeader(640, 480, BI_RGB);
    const BITMAPINFOHEADER rgb32 = BitmapHeader(640, 480, BI_RGB, 32);
    const BITMAPINFOHEADER rgb16 = BitmapHeader(640, 480, BI_RGB, 16);
    const struct {
        const char* what;
        const BITMAPINFOHEADER* input;
        const BITMAPINFOHEADER* output;
        LRESULT answer;
    } queries[] = {
        {"ICDecompressQuery accepts wemb, no output named", &wemb, nullptr, ICERR_OK},
        {"ICDecompressQuery accepts wemb -> RGB24", &wemb, &rgb24, ICERR_OK},
        {"ICDecompressQuery accepts wemb -> RGB32", &wemb, &rgb32, ICERR_OK},
        {"ICDecompressQuery refuses RGB16 output", &wemb, &rgb16, ICERR_BADFORMAT},
        {"ICDecompressQuery refuses MJPG input", &mjpg, nullptr, ICERR_BADFORMAT},
    };
    for (const auto& query : queries) {
        const LRESULT answer = ICDecompressQuery(codec, query.input, query.output);
        Check(answer == query.answer, query.what,
              Printf("got %lld", static_cast<long long>(answer)));
    }

    // 641 pixels of 3 bytes take 1923 bytes, 1924 with the row padding.
    const BITMAPINFOHEADER input = BitmapHeader(641, 480, kWemb);
    BITMAPINFOHEADER expected = BitmapHeader(641, 480, BI_RGB);
    expected.biSizeImage = 1924 * 480;
    BITMAPINFOHEADER offered;
    std::memset(&offered, kUntouched, sizeof(offered));
    const LRESULT size = ICDecompressGetFormatSize(codec, &input);
    const LRESULT answer = ICDecompressGetFormat(codec, &input, &offered);
    Check(size == 40 && answer == ICERR_OK && std::memcmp(&offered, &expected, sizeof(offered)) == 0,
          "ICDecompressGetFormat offers 24-bit BI_RGB 641 x 480",
          Printf("size %lld, answer %lld: %s", static_cast<long long>(size),
                 static_cast<long long>(answer), Describe(offered).c_str()));
}

// What the watcher saw of the About box.
struct AboutWatch {
    DWORD hostThread = 0;
    HWND dialog = nullptr;
    char caption[64] = {};
};

BOOL CALLBACK FindDialog(HWND window, LPARAM watch) {
    char className[16] = {};
    GetClassNameA(window, className, sizeof(className));
    if (std::strcmp(className, "#32770") != 0) return TRUE;
    reinterpret_cast<AboutWatch*>(watch)->dialog = window;
    return FALSE;
}

// Waits for the About box on the host's thread, notes its caption and
// presses OK the way the dialog manager does: WM_COMMAND with IDOK. Should
// the box stay open, the host's thread would wait forever inside ICAbout,
// so the watcher ends the program with a failure instead.
DWORD WINAPI WatchAbout(LPVOID parameter) {
    AboutWatch* watch = static_cast<AboutWatch*>(parameter);
    for (int attempt = 0; attempt < 200 && watch->dialog == nullptr; ++attempt) {
        Sleep(50);
        EnumThreadWindows(watch->hostThread, FindDialog, reinterpret_cast<LPARAM>(watch));
    }
    if (watch->dialog == nullptr) return 0;
    GetWindowTextA(watch->dialog, watch->caption, sizeof(watch->caption));
    PostMessageA(watch->dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(watch->dialog, IDOK)));
    for (int attempt = 0; attempt < 100 && IsWindow(watch->dialog); ++attempt) Sleep(50);
    if (IsWindow(watch->dialog)) {
        Check(false, "the About box closes on OK", "still open after 5 s");
        ExitProcess(1);
    }
    return 0;
}

// ICM_ABOUT shows the dialog modally from the module's own resources, which
// needs the instance handle the DLL entry keeps; OK ends it.
void CheckAboutBox(HIC codec) {
    AboutWatch watch;
    watch.hostThread = GetCurrentThreadId();
    HANDLE watcher = CreateThread(nullptr, 0, WatchAbout, &watch, 0, nullptr);
    if (!Check(watcher != nullptr, "start the About box watcher", Printf("error %lu", GetLastError()))) {
        return;
    }
    const LRESULT answer = ICAbout(codec, nullptr);
    WaitForSingleObject(watcher, INFINITE);
    CloseHandle(watcher);
    Check(answer == ICERR_OK && watch.dialog != nullptr && std::strcmp(watch.caption, "Torvane") == 0,
          "ICAbout shows the box \"Torvane\" until OK",
          Printf("answer %lld, %s \"%s\"", static_cast<long long>(answer),
                 watch.dialog != nullptr ? "caption" : "no dialog", watch.caption));
}

// ---------------------------------------------------------------------------
// Pictures compared with the Linux host's

bool LoadFile(const char* path, std::vector<BYTE>* bytes) {
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    BYTE chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof(chunk), file)) > 0) {
        bytes->insert(bytes->end(), chunk, chunk + got);
    }
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

// The Linux host's pictures of one input: `count` frames of width x height.
struct Reference {
    LONG width = 0, height = 0, count = 0;
    std::vector<BYTE> raw;

    size_t FrameBytes() const { return static_cast<size_t>(width) * height * 3; }
};

bool LoadReference(const char* size, const char* path, Reference* reference) {
    const bool ok = std::sscanf(size, "%ldx%ld", &reference->width, &reference->height) == 2 &&
                    reference->width > 0 && reference->height > 0 && LoadFile(path, &reference->raw) &&
                    !reference->raw.empty() && reference->raw.size() % reference->FrameBytes() == 0;
    if (ok) reference->count = static_cast<LONG>(reference->raw.size() / reference->FrameBytes());
    return Check(ok, "read the Linux host's pictures",
                 Printf("%s: unreadable, or not whole %s frames", path, size));
}

// Compares the bottom-up rows at `rows`, RowStep(width) bytes apart, with
// the reference's frame `frame`; the padding at the end of each row must
// hold `padding`, or anything when it is negative. Returns where they first
// differ, or nothing when they agree.
std::string FirstDifference(const Reference& reference, LONG frame, const BYTE* rows, int padding) {
    const size_t rowBytes = static_cast<size_t>(reference.width) * 3, step = RowStep(reference.width);
    const BYTE* want = reference.raw.data() + frame * reference.FrameBytes();
    for (LONG row = 0; row < reference.height; ++row) {
        for (size_t at = 0; at < step; ++at) {
            const BYTE got = rows[row * step + at];
            if (at < rowBytes ? got == want[row * rowBytes + at] : padding < 0 || got == padding) continue;
            return Printf("frame %ld, stored row %ld, byte %lu: got %u, want %d", frame, row,
                          static_cast<unsigned long>(at), got,
                          at < rowBytes ? want[row * rowBytes + at] : padding);
        }
    }
    return std::string();
}

// One JPEG frame through ICDecompress into a buffer whose row padding the
// codec leaves alone.
void CheckFrame(HIC codec, const char* jpegPath, const Reference& reference) {
    std::vector<BYTE> jpeg;
    if (!Check(LoadFile(jpegPath, &jpeg), "read the JPEG frame", jpegPath)) return;
    BITMAPINFOHEADER input = BitmapHeader(reference.width, reference.height, kWemb);
    input.biSizeImage = static_cast<DWORD>(jpeg.size());
    BITMAPINFOHEADER output = BitmapHeader(reference.width, reference.height, BI_RGB);
    output.biSizeImage = static_cast<DWORD>(RowStep(reference.width) * reference.height);
    std::vector<BYTE> pixels(output.biSizeImage, kUntouched);
    const LRESULT begin = ICDecompressBegin(codec, &input, &output);
    // ICDecompress hands back the driver's LRESULT as a DWORD.
    const LONG answer =
        static_cast<LONG>(ICDecompress(codec, 0, &input, jpeg.data(), &output, pixels.data()));
    const LRESULT end = ICDecompressEnd(codec);
    const std::string difference = FirstDifference(reference, 0, pixels.data(), kUntouched);
    Check(begin == ICERR_OK && answer == ICERR_OK && end == ICERR_OK && difference.empty(),
          "ICDecompress of the frame matches the Linux host bit for bit",
          Printf("begin %lld, decompress %ld, end %lld; %s", static_cast<long long>(begin), answer,
                 static_cast<long long>(end), difference.c_str()));
}

// A buffer of exactly `size` bytes that ends where an inaccessible page
// begins: a byte written past it faults at once.
class GuardedBuffer {
public:
    explicit GuardedBuffer(size_t size) : m_size(size) {
        SYSTEM_INFO system;
        GetSystemInfo(&system);
        const size_t page = system.dwPageSize;
        const size_t usable = (size + page - 1) / page * page;
        m_region = static_cast<BYTE*>(VirtualAlloc(nullptr, usable + page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        DWORD old;
        if (m_region != nullptr && VirtualProtect(m_region + usable, page, PAGE_NOACCESS, &old)) {
            m_bytes = m_region + usable - size;
            std::memset(m_bytes, kUntouched, size);
        }
    }
    ~GuardedBuffer() {
        if (m_region != nullptr) VirtualFree(m_region, 0, MEM_RELEASE);
    }
    BYTE* Bytes() const { return m_bytes; }
    bool Untouched() const {
        for (size_t i = 0; i < m_size; ++i) {
            if (m_bytes[i] != kUntouched) return false;
        }
        return true;
    }

private:
    size_t m_size;
    BYTE* m_region = nullptr;
    BYTE* m_bytes = nullptr;
};

// Output formats the codec does not write: BEGIN refuses them and so does
// ICDecompress, which must leave the host's buffer, exactly as large as the
// host's header promises, untouched.
void CheckRefusedOutputs(HIC codec, const char* jpegPath, const Reference& reference) {
    std::vector<BYTE> jpeg;
    if (!Check(LoadFile(jpegPath, &jpeg), "read the JPEG frame", jpegPath)) return;
    const LONG width = reference.width, height = reference.height;
    BITMAPINFOHEADER input = BitmapHeader(width, height, kWemb);
    input.biSizeImage = static_cast<DWORD>(jpeg.size());
    BITMAPINFOHEADER shortBuffer = BitmapHeader(width, height, BI_RGB);
    shortBuffer.biSizeImage = static_cast<DWORD>(RowStep(width) * height - 1);
    const struct {
        const char* what;
        BITMAPINFOHEADER output;
    } refused[] = {
        {"16-bit", BitmapHeader(width, height, BI_RGB, 16)},
        {"8-bit", BitmapHeader(width, height, BI_RGB, 8)},
        {"48-bit", BitmapHeader(width, height, BI_RGB, 48)},
        {"top-down and half as high", BitmapHeader(width, -height / 2, BI_RGB)},
        {"half as wide", BitmapHeader(width / 2, height, BI_RGB)},
        {"half as high", BitmapHeader(width, height / 2, BI_RGB)},
        {"a buffer one byte short", shortBuffer},
    };
    for (const auto& format : refused) {
        BITMAPINFOHEADER output = format.output;
        const LONG rows = output.biHeight < 0 ? -output.biHeight : output.biHeight;
        const size_t promised = output.biSizeImage != 0
                                    ? output.biSizeImage
                                    : (static_cast<size_t>(output.biWidth) * output.biBitCount / 8 + 3) / 4 * 4 * rows;
        GuardedBuffer pixels(promised);
        if (pixels.Bytes() == nullptr) {
            Check(false, "allocate a guarded buffer", Printf("%lu bytes", static_cast<unsigned long>(promised)));
            return;
        }
        const LRESULT begin = ICDecompressBegin(codec, &input, &output);
        const LONG answer = static_cast<LONG>(ICDecompress(codec, 0, &input, jpeg.data(), &output, pixels.Bytes()));
        ICDecompressEnd(codec);
        Check(begin == ICERR_BADFORMAT && answer == ICERR_BADFORMAT && pixels.Untouched(),
              Printf("BEGIN and ICDecompress refuse %s output and write nothing", format.what).c_str(),
              Printf("begin %lld, decompress %ld, buffer %s", static_cast<long long>(begin), answer,
                     pixels.Untouched() ? "untouched" : "written"));
    }
}

// The layouts a host may ask for besides the offered one: 32 bits a pixel
// (the fourth byte 255) and top-down rows, each holding the Linux host's
// picture.
void CheckOtherLayouts(HIC codec, const char* jpegPath, const Reference& reference) {
    std::vector<BYTE> jpeg;
    if (!Check(LoadFile(jpegPath, &jpeg), "read the JPEG frame", jpegPath)) return;
    const LONG width = reference.width, height = reference.height;
    BITMAPINFOHEADER input = BitmapHeader(width, height, kWemb);
    input.biSizeImage = static_cast<DWORD>(jpeg.size());
    const struct {
        const char* what;
        WORD bitCount;
        bool topDown;
    } layouts[] = {{"32-bit bottom-up", 32, false}, {"24-bit top-down", 24, true}, {"32-bit top-down", 32, true}};
    for (const auto& layout : layouts) {
        BITMAPINFOHEADER output = BitmapHeader(width, layout.topDown ? -height : height, BI_RGB, layout.bitCount);
        const size_t pixelBytes = layout.bitCount / 8;
        const size_t step = (width * pixelBytes + 3) / 4 * 4;
        GuardedBuffer pixels(step * height);
        if (pixels.Bytes() == nullptr) {
            Check(false, "allocate a guarded buffer", layout.what);
            return;
        }
        const LRESULT query = ICDecompressQuery(codec, &input, &output);
        const LRESULT begin = ICDecompressBegin(codec, &input, &output);
        const LONG answer = static_cast<LONG>(ICDecompress(codec, 0, &input, jpeg.data(), &output, pixels.Bytes()));
        ICDecompressEnd(codec);
        std::string difference;
        const size_t rowBytes = static_cast<size_t>(width) * 3;
        for (LONG row = 0; row < height && difference.empty(); ++row) {
            // The reference's rows are bottom-up.
            const BYTE* want = reference.raw.data() + (layout.topDown ? height - 1 - row : row) * rowBytes;
            const BYTE* got = pixels.Bytes() + row * step;
            for (LONG x = 0; x < width && difference.empty(); ++x) {
                for (size_t c = 0; c < pixelBytes; ++c) {
                    const BYTE expected = c < 3 ? want[3 * x + c] : 255;
                    if (got[x * pixelBytes + c] != expected) {
                        difference = Printf("stored row %ld, pixel %ld, byte %u: got %u, want %u", row, x,
                                            static_cast<unsigned>(c), got[x * pixelBytes + c], expected);
                        break;
                    }
                }
            }
        }
        Check(query == ICERR_OK && begin == ICERR_OK && answer == ICERR_OK && difference.empty(),
              Printf("ICDecompress into %s matches the Linux host", layout.what).c_str(),
              Printf("query %lld, begin %lld, decompress %ld; %s", static_cast<long long>(query),
                     static_cast<long long>(begin), answer, difference.c_str()));
    }
}

// ---------------------------------------------------------------------------
// Instances leave no thread and no handle behind

// This process's threads, as a Toolhelp snapshot lists them; -1 on failure.
int ThreadCount() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry;
    entry.dwSize = sizeof(entry);
    int count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    }
    CloseHandle(snapshot);
    return count;
}

// The thread count once it is `expected`, or whatever it is after two
// seconds: a thread can stay listed for a moment after its wait returned.
int ThreadCountSettlingAt(int expected) {
    int count = ThreadCount();
    for (int attempt = 0; attempt < 200 && count != expected; ++attempt) {
        Sleep(10);
        count = ThreadCount();
    }
    return count;
}

// The thread count once it has stayed the same for 20 ms (at most two
// seconds), after threads were joined.
int SettledThreadCount() {
    int count = ThreadCount();
    for (int attempt = 0; attempt < 100; ++attempt) {
        Sleep(20);
        const int again = ThreadCount();
        if (again == count) break;
        count = again;
    }
    return count;
}

// The handle table as NtQuerySystemInformation(SystemHandleInformation)
// returns it: a count, then one entry per handle in the system.
struct SystemHandleEntry {
    ULONG ownerProcessId;
    BYTE objectType;
    BYTE flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
};
struct SystemHandleTable {
    ULONG count;
    SystemHandleEntry entries[1];
};
using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
constexpr ULONG kSystemHandleInformation = 16;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);

// This process's entries in the system's handle table; -1 on failure.
long HandlesInSystemTable() {
    const auto query = reinterpret_cast<QuerySystemInformation>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) return -1;
    std::vector<BYTE> buffer(1 << 16);
    LONG status;
    while ((status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
                           nullptr)) == kInfoLengthMismatch &&
           buffer.size() < (size_t{1} << 28)) {
        buffer.resize(buffer.size() * 2);
    }
    if (status != 0) return -1;
    const auto* table = reinterpret_cast<const SystemHandleTable*>(buffer.data());
    long count = 0;
    for (ULONG i = 0; i < table->count; ++i) {
        if (table->entries[i].ownerProcessId == GetCurrentProcessId()) ++count;
    }
    return count;
}

// This process's open handles: GetProcessHandleCount, or where that is a
// stub that says 0 (Wine's), the system's handle table.
long HandleCount() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) return static_cast<long>(count);
    return HandlesInSystemTable();
}

// The worker threads each open instance should hold: WEMB_THREADS - 1, or
// -1 (not checked) when the variable is not a number from 1 to 32.
int WorkersPerInstance() {
    char setting[16] = {};
    const DWORD length = GetEnvironmentVariableA("WEMB_THREADS", setting, sizeof(setting));
    char* end = nullptr;
    const long threads = std::strtol(setting, &end, 10);
    if (length == 0 || length >= sizeof(setting) || *end != '\0' || threads < 1 || threads > 32) {
        return -1;
    }
    return static_cast<int>(threads) - 1;
}

// Opens an instance and decodes the frame through it; the codec, or null
// when the open failed. `*difference` says what went wrong, if anything.
HIC OpenAndDecode(const std::vector<BYTE>& jpeg, const Reference& reference, std::string* difference) {
    HIC codec = ICOpen(ICTYPE_VIDEO, kWemb, ICMODE_DECOMPRESS);
    if (codec == nullptr) {
        *difference = "ICOpen returned null";
        return nullptr;
    }
    BITMAPINFOHEADER input = BitmapHeader(reference.width, reference.height, kWemb);
    input.biSizeImage = static_cast<DWORD>(jpeg.size());
    BITMAPINFOHEADER output = BitmapHeader(reference.width, reference.height, BI_RGB);
    std::vector<BYTE> pixels(RowStep(reference.width) * reference.height, kUntouched);
    const LONG answer = static_cast<LONG>(
        ICDecompress(codec, 0, &input, const_cast<BYTE*>(jpeg.data()), &output, pixels.data()));
    *difference = answer != ICERR_OK ? Printf("ICDecompress returned %ld", answer)
                                     : FirstDifference(reference, 0, pixels.data(), kUntouched);
    return codec;
}

// What rounds of opening, decoding and closing left behind.
struct Rounds {
    std::string failure;         // a frame or close that went wrong
    int threadsBefore = 0;
    int threadsAfter = 0;
    int unexpectedThreads = -1;  // the thread count with instances open, when wrong
    long handlesBefore = 0;
    long handlesAfter = 0;
    bool unloaded = true;        // the module was gone after every round
};

// Rounds of two instances open at once, each decoding the frame, then both
// closed. A first round, not counted, lets the compression manager and the
// system set up whatever they keep for the process. `workers` is what each
// open instance should hold (-1: not checked).
Rounds RunRounds(const std::vector<BYTE>& jpeg, const Reference& reference, int workers) {
    constexpr int kRounds = 25, kOpenAtOnce = 2;
    Rounds rounds;
    for (int round = 0; round <= kRounds && rounds.failure.empty(); ++round) {
        if (round == 1) {
            rounds.threadsBefore = SettledThreadCount();
            rounds.handlesBefore = HandleCount();
        }
        HIC codecs[kOpenAtOnce] = {};
        for (HIC& codec : codecs) {
            std::string difference;
            codec = OpenAndDecode(jpeg, reference, &difference);
            if (!difference.empty()) rounds.failure = Printf("round %d: %s", round, difference.c_str());
        }
        const int threadsOpen = ThreadCount();
        if (round >= 1 && workers >= 0 && threadsOpen != rounds.threadsBefore + kOpenAtOnce * workers) {
            rounds.unexpectedThreads = threadsOpen;
        }
        for (HIC codec : codecs) {
            if (codec != nullptr && ICClose(codec) != ICERR_OK) {
                rounds.failure = Printf("round %d: ICClose", round);
            }
        }
        rounds.unloaded = rounds.unloaded && GetModuleHandleA("wemb.dll") == nullptr;
    }
    rounds.threadsAfter = ThreadCountSettlingAt(rounds.threadsBefore);
    rounds.handlesAfter = HandleCount();
    return rounds;
}

// The rounds twice: with another instance open throughout, so that the
// module stays loaded, where neither a thread nor a handle may be left; and
// alone, so that the compression manager unloads the module after every
// round (after DRV_FREE), where no thread may be left. Wine's compression
// manager itself keeps one handle for every time it loads a driver, so the
// handles are counted in the first run only.
void CheckInstanceLifecycle(const char* jpegPath, const Reference& reference) {
    std::vector<BYTE> jpeg;
    if (!Check(LoadFile(jpegPath, &jpeg), "read the JPEG frame", jpegPath)) return;
    const int workers = WorkersPerInstance();
    if (workers < 0) {
        std::printf("note: WEMB_THREADS is not set to 1 .. 32; the worker threads were not counted\n");
    }

    HIC keeper = ICOpen(ICTYPE_VIDEO, kWemb, ICMODE_DECOMPRESS);
    if (!Check(keeper != nullptr, "ICOpen of an instance that keeps the module loaded", "null")) return;
    const Rounds loaded = RunRounds(jpeg, reference, workers);
    ICClose(keeper);
    Check(loaded.failure.empty(), "instances opened and closed in turn decode as the Linux host",
          loaded.failure);
    Check(loaded.unexpectedThreads < 0, "each open instance holds WEMB_THREADS - 1 worker threads",
          Printf("%d threads with two instances open, %d before", loaded.unexpectedThreads,
                 loaded.threadsBefore));
    Check(loaded.threadsAfter == loaded.threadsBefore && loaded.handlesBefore > 0 &&
              loaded.handlesAfter == loaded.handlesBefore,
          "instances closed leave no thread and no handle behind",
          Printf("threads %d -> %d, handles %ld -> %ld", loaded.threadsBefore, loaded.threadsAfter,
                 loaded.handlesBefore, loaded.handlesAfter));

    const Rounds unloading = RunRounds(jpeg, reference, workers);
    Check(unloading.failure.empty() && unloading.unexpectedThreads < 0 && unloading.unloaded &&
              unloading.threadsAfter == unloading.threadsBefore,
          "the module unloaded after every round leaves no thread behind",
          Printf("%s; %d threads with two instances open; threads %d -> %d; %s",
                 unloading.failure.c_str(), unloading.unexpectedThreads, unloading.threadsBefore,
                 unloading.threadsAfter, unloading.unloaded ? "unloaded" : "the module stayed loaded"));
}

// Every frame of the clip, in order, as AVIStreamGetFrame returns it: a
// packed DIB (the codec's offered format, then the pixels).
std::string FirstDifferentFrame(PGETFRAME frames, const Reference& reference) {
    for (LONG frame = 0; frame < reference.count; ++frame) {
        const auto* dib = static_cast<const BITMAPINFOHEADER*>(AVIStreamGetFrame(frames, frame));
        if (dib == nullptr) return Printf("frame %ld: AVIStreamGetFrame returned null", frame);
        if (dib->biWidth != reference.width || dib->biHeight != reference.height ||
            dib->biBitCount != 24 || dib->biCompression != BI_RGB || dib->biClrUsed != 0) {
            return Printf("frame %ld: %s", frame, Describe(*dib).c_str());
        }
        const std::string difference =
            FirstDifference(reference, frame, reinterpret_cast<const BYTE*>(dib) + dib->biSize, -1);
        if (!difference.empty()) return difference;
    }
    return std::string();
}

// The clip through Wine's AVI reader: AVIFile opens it, and the compression
// manager finds the codec by the stream's handler and decodes each frame in
// the format the codec offers.
void CheckClip(const char* aviPath, const Reference& reference) {
    AVIFileInit();
    PAVIFILE file = nullptr;
    PAVISTREAM stream = nullptr;
    PGETFRAME frames = nullptr;
    if (Check(AVIFileOpenA(&file, aviPath, OF_READ | OF_SHARE_DENY_WRITE, nullptr) == AVIERR_OK,
              "AVIFileOpen", aviPath) &&
        Check(AVIFileGetStream(file, &stream, streamtypeVIDEO, 0) == AVIERR_OK,
              "AVIFileGetStream finds the video stream", "none") &&
        Check(AVIStreamLength(stream) == reference.count, "the reader sees every frame",
              Printf("%ld frames, the Linux host decoded %ld", AVIStreamLength(stream), reference.count)) &&
        Check((frames = AVIStreamGetFrameOpen(stream, nullptr)) != nullptr,
              "AVIStreamGetFrameOpen finds the codec", "null")) {
        const std::string difference = FirstDifferentFrame(frames, reference);
        Check(difference.empty(), "every frame of the clip matches the Linux host bit for bit",
              difference);
        AVIStreamGetFrameClose(frames);
    }
    if (stream != nullptr) AVIStreamRelease(stream);
    if (file != nullptr) AVIFileRelease(file);
    AVIFileExit();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 1 && argc != 7) {
        std::fputs("usage: vfw_host [FRAME.jpg WIDTHxHEIGHT FRAME.raw CLIP.avi WIDTHxHEIGHT CLIP.raw]\n",
                   stderr);
        return 2;
    }
    Reference frame;
    const bool pictures = argc == 7 && LoadReference(argv[2], argv[3], &frame);
    HIC codec = ICOpen(ICTYPE_VIDEO, kWemb, ICMODE_DECOMPRESS);
    if (Check(codec != nullptr, "ICOpen(vidc, wemb, ICMODE_DECOMPRESS)", "null")) {
        CheckDescription(codec);
        CheckNegotiation(codec);
        CheckAboutBox(codec);
        if (pictures) {
            CheckFrame(codec, argv[1], frame);
            CheckRefusedOutputs(codec, argv[1], frame);
            CheckOtherLayouts(codec, argv[1], frame);
        }
        const LRESULT closed = ICClose(codec);
        Check(closed == ICERR_OK, "ICClose", Printf("got %lld", static_cast<long long>(closed)));
    }
    if (pictures) CheckInstanceLifecycle(argv[1], frame);
    Reference clip;
    if (argc == 7 && LoadReference(argv[5], argv[6], &clip)) CheckClip(argv[4], clip);
    std::printf("vfw_host: %d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 && g_passed > 0 ? 0 : 1;
}
