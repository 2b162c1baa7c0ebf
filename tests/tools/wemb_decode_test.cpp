// End-to-end runs of the wemb-decode program on AVI files built here from
// the test JPEG streams. Every picture it writes is compared with what the
// codec itself returns for that frame through DriverProc.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <png.h>

#include "support/avi_builder.h"
#include "support/host_picture.h"
#include "support/hostile_avi.h"
#include "support/temp_dir.h"
#include "support/testdata_files.h"

namespace {

using Bytes = std::vector<uint8_t>;
using wemb_test::Testdata;

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::string ReadText(const std::string& path) {
    const Bytes bytes = ReadFile(path);
    return std::string(bytes.begin(), bytes.end());
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The BMP file the host should write for a frame: the codec's own picture.
Bytes ExpectedBmp(const Bytes& jpeg) {
    const wemb_test::CodecResult picture = wemb_test::HostPicture(jpeg);
    EXPECT_EQ(picture.status, ICERR_OK);
    return wemb_test::Bmp24File(picture.width, picture.height, picture.pixels);
}

// The picture of `jpeg` as raw video: rows top-down without padding, 3
// bytes a pixel (B, G, R) or 4 (B, G, R, 255), from the codec's own
// bottom-up 24-bit picture.
Bytes RawPicture(const Bytes& jpeg, int bytesPerPixel = 3) {
    const wemb_test::CodecResult picture = wemb_test::HostPicture(jpeg);
    EXPECT_EQ(picture.status, ICERR_OK);
    const size_t step = (size_t(picture.width) * 3 + 3) & ~size_t(3);
    Bytes raw;
    for (int32_t row = picture.height - 1; row >= 0; --row) {
        for (int32_t x = 0; x < picture.width; ++x) {
            const auto pixel = picture.pixels.begin() + row * step + x * 3;
            raw.insert(raw.end(), pixel, pixel + 3);
            if (bytesPerPixel == 4) raw.push_back(255);
        }
    }
    return raw;
}

// The pixels of a 24-bit BMP file as raw video (rows top-down, no padding).
Bytes BmpAsRaw(const Bytes& bmp) {
    if (bmp.size() < 54) return {};
    const auto field = [&](size_t at) { return uint32_t(bmp[at] | bmp[at + 1] << 8 | bmp[at + 2] << 16 | bmp[at + 3] << 24); };
    const int32_t width = int32_t(field(18)), height = int32_t(field(22));
    const size_t step = (size_t(width) * 3 + 3) & ~size_t(3);
    if (width <= 0 || height <= 0 || bmp.size() < 54 + step * height) return {};
    Bytes raw;
    for (int32_t row = height - 1; row >= 0; --row) {
        const auto start = bmp.begin() + 54 + row * step;
        raw.insert(raw.end(), start, start + width * 3);
    }
    return raw;
}

// A PNG file read back by libpng's own reader, as B, G, R rows top-down;
// empty when libpng cannot read it or it is not 8-bit RGB.
Bytes PngAsRaw(const std::string& path, int32_t* width, int32_t* height) {
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return {};
    if (image.format != PNG_FORMAT_RGB) {
        png_image_free(&image);
        return {};
    }
    image.format = PNG_FORMAT_BGR;
    Bytes raw(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, raw.data(), 0, nullptr)) return {};
    *width = int32_t(image.width), *height = int32_t(image.height);
    return raw;
}

// Each frame's rows in the opposite order.
Bytes FlipFrames(const std::string& raw, size_t rowBytes, size_t rows) {
    Bytes flipped;
    for (size_t frame = 0; frame + rowBytes * rows <= raw.size(); frame += rowBytes * rows) {
        for (size_t row = rows; row-- > 0;) {
            flipped.insert(flipped.end(), raw.begin() + frame + row * rowBytes, raw.begin() + frame + (row + 1) * rowBytes);
        }
    }
    return flipped;
}

Bytes AsBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

struct HostRun {
    int status = -1;  // the exit status, or 128 + the signal that ended the program
    std::string out, err;
    uint64_t peakBytes = 0;  // the largest resident set the program had
};

// Where the program's standard output goes.
enum class Output {
    File,        // `dir`/stdout, read back into HostRun::out
    Discarded,   // /dev/null
    ClosedPipe,  // a pipe whose reader is gone before the program starts
};

// Runs wemb-decode with `args`: standard input from `input`, standard error
// to `dir`/stderr, with `environment` added to the test's own. A pipe made
// by a shell (`... | :`) would not do for ClosedPipe: its reader may still be
// alive when the program writes, and then output that fits in the pipe is
// taken without an error.
HostRun RunHost(const wemb_test::TempDir& dir, const std::vector<std::string>& args,
                const std::string& input = "/dev/null", Output output = Output::File,
                const std::vector<std::string>& environment = {}) {
    std::vector<std::string> argv = {WEMB_DECODE_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argvPointers;
    for (std::string& arg : argv) argvPointers.push_back(arg.data());
    argvPointers.push_back(nullptr);
    std::vector<std::string> variables = environment;
    for (char** variable = environ; *variable != nullptr; ++variable) variables.push_back(*variable);
    std::vector<char*> environmentPointers;
    for (std::string& variable : variables) environmentPointers.push_back(variable.data());
    environmentPointers.push_back(nullptr);

    HostRun run;
    int pipeEnds[2] = {-1, -1};
    if (output == Output::ClosedPipe) {
        if (pipe2(pipeEnds, O_CLOEXEC) != 0) return run;
        close(pipeEnds[0]);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, input.c_str(), O_RDONLY, 0);
    if (output == Output::ClosedPipe) {
        posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    } else {
        const std::string out = output == Output::File ? dir / "stdout" : "/dev/null";
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, (dir / "stderr").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int spawned =
        posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, argvPointers.data(), environmentPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    if (pipeEnds[1] >= 0) close(pipeEnds[1]);
    if (spawned != 0) return run;
    int status = 0;
    struct rusage usage = {};
    if (wait4(pid, &status, 0, &usage) != pid) return run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.peakBytes = uint64_t(usage.ru_maxrss) * 1024;  // kilobytes on Linux
    if (output == Output::File) run.out = ReadText(dir / "stdout");
    run.err = ReadText(dir / "stderr");
    return run;
}

// A quiet run whose output is discarded, for its status, messages and
// memory.
HostRun RunHostMeasured(const wemb_test::TempDir& dir, const std::vector<std::string>& args) {
    std::vector<std::string> quiet = {"-q"};
    quiet.insert(quiet.end(), args.begin(), args.end());
    return RunHost(dir, quiet, "/dev/null", Output::Discarded);
}

std::string WriteAvi(const wemb_test::TempDir& dir, const std::string& name, const std::vector<Bytes>& frames,
                     uint32_t compression = 0x626D6577) {
    wemb_test::AviOptions options;
    options.frames = frames, options.compression = compression, options.width = 33, options.height = 17;
    WriteFile(dir / name, wemb_test::BuildAvi(options).Bytes());
    return dir / name;
}

class WembDecode : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.ok());
        frames[2].resize(frames[2].size() / 2);
        clip = WriteAvi(dir, "clip.avi", frames);
    }

    wemb_test::TempDir dir;
    // A 33 x 17 clip (rows of 99 bytes, which the codec pads to 100): four
    // sampling modes, restart markers, a progressive frame, a frame cut short
    // (frame 2) and a dropped frame (frame 3).
    std::vector<Bytes> frames = {Testdata("ycc420_33x17_q85.jpg"), Testdata("ycc422_33x17_q85.jpg"),
                                 Testdata("rgb_33x17_q90.jpg"),    Bytes(),
                                 Testdata("ycc444_rst3mcu_33x17_q85.jpg"), Testdata("grey_opt_33x17_q90.jpg"),
                                 Testdata("ycc420_prog_33x17_q85.jpg")};
    std::string clip;
};

// The damaged frame writes nothing; the dropped frame 3 repeats the last
// picture shown, frame 1's. Raw output is the frames' rows, top row first,
// without padding.
TEST_F(WembDecode, WritesEveryFrameAsTheCodecDecodesItAndReportsTheDamagedOne) {
    const size_t shown[] = {0, 1, 1, 4, 5, 6};
    for (const char* threads : {"1", "3"}) {
        SCOPED_TRACE(threads);
        const std::string out = dir / (std::string("new-") + threads + "/frames/");
        const HostRun run = RunHost(dir, {clip, "-o", out, "-j", threads});
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_TRUE(Has(run.err, "clip.avi: frame 2: ")) << run.err;
        EXPECT_FALSE(Has(run.err, "frame 3")) << run.err;  // dropped is not damaged
        EXPECT_TRUE(Has(run.err, "5 frames decoded, 1 failed, 1 dropped")) << run.err;
        EXPECT_FALSE(Has(run.err, "\r")) << "a progress bar on a file";
        EXPECT_TRUE(run.out.empty());
        for (size_t i : {0, 1, 3, 4, 5, 6}) {
            const std::string name = out + "frame-00000" + std::to_string(i) + ".bmp";
            EXPECT_EQ(ReadFile(name), ExpectedBmp(frames[i == 3 ? 1 : i])) << name;
        }
        EXPECT_FALSE(Exists(out + "frame-000002.bmp"));
    }
    const HostRun run = RunHost(dir, {"--raw", clip, "-j", "2"});
    EXPECT_EQ(run.status, 1) << run.err;
    ASSERT_EQ(run.out.size(), 6u * 99 * 17);
    for (size_t at = 0; at < 6; ++at) {
        EXPECT_TRUE(AsBytes(run.out.substr(at * 99 * 17, 99 * 17)) == RawPicture(frames[shown[at]])) << "frame " << at;
    }
}

// PNG files hold the pictures of the BMP files; raw video comes in bgra as
// bgr24 with a fourth byte of 255, and bottom-up on request; and standard
// error says how ffmpeg reads it. The clip's rate is 30000/1001 here.
TEST_F(WembDecode, WritesPngAndRawVideoInEveryLayout) {
    wemb_test::AviOptions options;
    options.frames = frames, options.width = 33, options.height = 17;
    wemb_test::AviImage image = wemb_test::BuildAvi(options);
    image.Patch32(image.videoStrh + 8 + 20, 1001);   // dwScale
    image.Patch32(image.videoStrh + 8 + 24, 30000);  // dwRate
    WriteFile(dir / "ntsc.avi", image.Bytes());
    const std::string jpeg = std::string(WEMB_TESTDATA_DIR) + "/ycc420_227x149_q85.jpg";  // rows padded

    for (const char* threads : {"1", "3"}) {
        SCOPED_TRACE(threads);
        const std::string bmp = dir / (std::string("bmp-") + threads + "/");
        const std::string png = dir / (std::string("png-") + threads + "/");
        EXPECT_EQ(RunHost(dir, {clip, "-o", bmp, "-j", threads}).status, 1);
        const HostRun run = RunHost(dir, {clip, "-o", png, "--format", "png", "-j", threads});
        EXPECT_EQ(run.status, 1) << run.err;
        for (size_t i : {0, 1, 3, 4, 5, 6}) {
            const std::string name = "frame-00000" + std::to_string(i);
            int32_t width = 0, height = 0;
            const Bytes pixels = PngAsRaw(png + name + ".png", &width, &height);
            EXPECT_EQ(width, 33) << name;
            EXPECT_EQ(height, 17) << name;
            EXPECT_TRUE(!pixels.empty() && pixels == BmpAsRaw(ReadFile(bmp + name + ".bmp"))) << name;
        }
        EXPECT_FALSE(Exists(png + "frame-000002.png"));
    }
    EXPECT_EQ(RunHost(dir, {jpeg, "-o", dir / "one.bmp"}).status, 0);
    EXPECT_EQ(RunHost(dir, {jpeg, "-o", dir / "one.png"}).status, 0);
    int32_t width = 0, height = 0;
    EXPECT_TRUE(PngAsRaw(dir / "one.png", &width, &height) == BmpAsRaw(ReadFile(dir / "one.bmp")));
    EXPECT_EQ(width, 227);
    EXPECT_EQ(height, 149);

    const HostRun bgr = RunHost(dir, {"--raw", dir / "ntsc.avi"});
    const HostRun bgra = RunHost(dir, {"--raw", "--pix-fmt", "bgra", dir / "ntsc.avi"});
    const HostRun bottomUp = RunHost(dir, {"--raw", "--bottom-up", dir / "ntsc.avi"});
    EXPECT_EQ(bgr.status, 1);
    ASSERT_EQ(bgr.out.size(), 6u * 99 * 17);
    ASSERT_EQ(bgra.out.size(), 6u * 132 * 17);
    for (size_t pixel = 0; pixel < 6 * 33 * 17; ++pixel) {
        if (bgra.out.compare(pixel * 4, 3, bgr.out, pixel * 3, 3) != 0 || uint8_t(bgra.out[pixel * 4 + 3]) != 255) {
            ADD_FAILURE() << "bgra pixel " << pixel << " is not the bgr24 pixel and 255";
            break;
        }
    }
    EXPECT_TRUE(AsBytes(bottomUp.out) == FlipFrames(bgr.out, 99, 17));
    EXPECT_TRUE(Has(bgr.err, "ffmpeg -f rawvideo -pixel_format bgr24 -video_size 33x17 -framerate 30000/1001 -i -\n"))
        << bgr.err;
    EXPECT_TRUE(Has(bgra.err, "ffmpeg -f rawvideo -pixel_format bgra -video_size 33x17 -framerate 30000/1001 -i -\n"))
        << bgra.err;
    EXPECT_TRUE(Has(bottomUp.err, "-framerate 30000/1001 -i - (rows bottom-up: add -vf vflip)")) << bottomUp.err;
    // JPEG files have no rate: ffmpeg's default is stated.
    const HostRun frame = RunHost(dir, {"--raw", jpeg});
    EXPECT_EQ(frame.status, 0);
    EXPECT_TRUE(AsBytes(frame.out) == RawPicture(ReadFile(jpeg)));
    EXPECT_TRUE(Has(frame.err, "-pixel_format bgr24 -video_size 227x149 -framerate 25 -i -")) << frame.err;
}

// The options wemb-decode prints, given to ffmpeg as they are, read the raw
// video it writes to a pipe: ffmpeg's own conversion to rgb24 gives the
// codec's pictures with red and blue exchanged.
// ffmpeg is not among the packages the build installs (scripts/
// install-deps.sh): the test needs it only to confirm what the options
// already state, and is skipped without it.
TEST_F(WembDecode, FfmpegReadsTheRawVideoWithThePrintedOptions) {
    if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) GTEST_SKIP() << "ffmpeg is not installed";
    const size_t shown[] = {0, 1, 1, 4, 5, 6};
    for (const char* format : {"bgr24", "bgra"}) {
        SCOPED_TRACE(format);
        const HostRun described = RunHost(dir, {"--raw", "--pix-fmt", format, clip, "-f", "0"});
        const size_t at = described.err.find("ffmpeg -f rawvideo");
        ASSERT_NE(at, std::string::npos) << described.err;
        const std::string arguments = described.err.substr(at + 7, described.err.find('\n', at) - at - 7);
        const std::string command = "'" WEMB_DECODE_PATH "' -q --raw --pix-fmt " + std::string(format) + " '" + clip +
                                    "' 2>/dev/null | ffmpeg -nostdin -v error " + arguments +
                                    " -f rawvideo -pix_fmt rgb24 -y '" + dir / "rgb" + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
        const Bytes rgb = ReadFile(dir / "rgb");
        ASSERT_EQ(rgb.size(), 6u * 99 * 17);
        for (size_t i = 0; i < 6; ++i) {
            Bytes expected = RawPicture(frames[shown[i]]);
            for (size_t pixel = 0; pixel < expected.size(); pixel += 3) std::swap(expected[pixel], expected[pixel + 2]);
            EXPECT_TRUE(Bytes(rgb.begin() + i * 99 * 17, rgb.begin() + (i + 1) * 99 * 17) == expected) << "frame " << i;
        }
    }
}

// Runs judged by their exit status and what they print; the pictures some of
// them write are compared after.
TEST_F(WembDecode, ExitStatusesMessagesAndSingleFrames) {
    const std::vector<Bytes> sound = {frames[0], frames[5]};
    const std::string wemb = WriteAvi(dir, "wemb.avi", sound);
    const std::string mjpg = WriteAvi(dir, "mjpg.avi", sound, 0x47504A4D);  // 'MJPG'
    const Bytes cut(sound[0].begin(), sound[0].begin() + 300);
    const std::string broken = WriteAvi(dir, "broken.avi", {cut, cut, cut});
    const std::string jpeg = std::string(WEMB_TESTDATA_DIR) + "/ycc420_227x149_q85.jpg";  // rows padded
    // Inputs that are neither an AVI file nor a JPEG stream.
    WriteFile(dir / "empty.jpg", {});
    const Bytes avi = ReadFile(wemb);
    Bytes wave = avi;
    std::copy_n("WAVE", 4, wave.begin() + 8);
    WriteFile(dir / "sound.wav", wave);
    WriteFile(dir / "cut.avi", Bytes(avi.begin(), avi.begin() + 11));
    WriteFile(dir / "riff5.avi", Bytes(avi.begin(), avi.begin() + 5));
    WriteFile(dir / "image.png", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A});
    for (const std::string sub : {"a", "b"}) {  // two inputs of the same name
        mkdir((dir / sub).c_str(), 0700);
        WriteFile(dir / sub + "/x.jpg", Testdata("grey_8x8_q90.jpg"));
    }
    struct Case {
        std::vector<std::string> args;
        int status;
        std::vector<const char*> printed;  // parts of standard error, or of standard output for --info
        std::string input = "/dev/null";   // standard input
    };
    const Case cases[] = {
        // One JPEG frame: one file of exactly the name given; from standard input too.
        {{jpeg, "-o", dir / "out.bmp"}, 0, {"1 frame decoded, 0 failed"}},
        {{"-", "-o", dir / "stdin.bmp"}, 0, {}, jpeg},
        {{"-", "-o", dir / "none.bmp"}, 2, {"standard input: an empty file"}},
        {{dir / "empty.jpg", jpeg, "-o", dir / "e/"}, 2, {"empty.jpg: an empty file", "1 frame decoded, 0 failed"}},
        {{dir / "sound.wav"}, 2, {"sound.wav: a RIFF file of form 'WAVE', not an AVI file"}},
        {{dir / "cut.avi"}, 2, {"cut.avi: only 11 bytes, too short to tell"}},
        {{dir / "riff5.avi"}, 2, {"riff5.avi: only 5 bytes"}},
        {{dir / "image.png"}, 2, {"image.png: neither an AVI file nor a JPEG stream (it begins with 89 50 4E 47"}},
        {{"-"}, 2, {"standard input: an AVI file; AVI files are read by name"}, wemb},
        {{"--info", wemb}, 0, {"Wemb codec", "Torvane Wemb Video Codec", "33 x 17", "'wemb'", "frames:   2",
                               "25.000 frames/s", "accepts the stream"}},
        {{mjpg}, 2, {"'MJPG'", "--force-wemb"}},
        {{"--info", mjpg}, 2, {"refuses the stream"}},
        {{"--force-wemb", mjpg, "-o", dir / "forced/"}, 0, {}},
        {{clip, "-f", "7-"}, 2, {"no frame in the range 7-; its frames are 0-6"}},
        {{broken}, 1, {"none of its 3 frames decoded"}},
        {{dir / "missing.jpg", clip, "-f", "0"}, 2, {"missing.jpg: cannot open"}},
        {{dir / "a/x.jpg", dir / "b/x.jpg", "-o", dir / "same/"}, 2, {"would both be written to"}},
        {{clip, clip, "-f", "0", "-o", dir / "same.bmp"}, 2, {"would both be written to"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args.back());
        const HostRun run = RunHost(dir, c.args, c.input);
        EXPECT_EQ(run.status, c.status) << run.err;
        for (const char* part : c.printed) EXPECT_TRUE(Has(c.args[0] == "--info" ? run.out : run.err, part)) << part;
    }
    const Bytes expected = ExpectedBmp(ReadFile(jpeg));
    EXPECT_EQ(ReadFile(dir / "out.bmp"), expected);
    EXPECT_EQ(ReadFile(dir / "stdin.bmp"), expected);
    EXPECT_EQ(ReadFile(dir / "forced/frame-000001.bmp"), ExpectedBmp(sound[1]));
    EXPECT_FALSE(Exists(dir / "same"));  // refused before anything was written
    EXPECT_FALSE(Exists(dir / "same-000000.bmp"));

    // A reader that goes away: a message and status 3, not a silent SIGPIPE.
    const HostRun run = RunHost(dir, {"--raw", clip}, "/dev/null", Output::ClosedPipe);
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_TRUE(Has(run.err, "standard output was closed by its reader")) << run.err;
}

// Frames whose headers declare pictures of hundreds of megabytes in a few
// bytes. Resident sizes mean little under AddressSanitizer, whose shadow
// memory and quarantine hold on to what the program freed.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
constexpr bool kAddressSanitizer = __has_feature(address_sanitizer);
#else
constexpr bool kAddressSanitizer = false;
#endif

TEST(WembDecodeMemory, HostileFramesStayWithinTheBudgetOnAnyThreadCount) {
    if (kAddressSanitizer) GTEST_SKIP() << "resident sizes under AddressSanitizer say nothing";
    wemb_test::TempDir dir;
    ASSERT_TRUE(dir.ok());
    constexpr uint64_t kMiB = 1 << 20;
    // Sixteen 4096 x 4096 progressive frames: 48 MiB of picture each, and
    // the codec works through coefficients and planes of the whole frame.
    // Costed at 146 MiB each, one fits in the budget at a time; decoded
    // side by side, or with every thread's codec instance keeping the
    // buffers of its last frame, they would take several hundred megabytes.
    const std::string clip = dir / "hostile.avi";
    ASSERT_TRUE(wemb_test::WriteImage(
        clip, wemb_test::HostileAvi(wemb_test::BrokenProgressiveFrame(4096, 4096), 16, 4096, 4096)));
    for (const char* threads : {"1", "8"}) {
        const HostRun run = RunHostMeasured(dir, {"--max-memory", "200M", "-j", threads, clip});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(Has(run.err, "16 frames decoded, 0 failed")) << run.err;
        EXPECT_LT(run.peakBytes, 200 * kMiB) << threads << " threads";
    }
    // A frame larger than the whole budget fails alone, with the reason.
    const HostRun tight = RunHostMeasured(dir, {"--max-memory", "100M", "-j", "8", clip});
    EXPECT_EQ(tight.status, 1);
    EXPECT_TRUE(Has(tight.err, "hostile.avi: frame 15: a 4096 x 4096 progressive frame needs about "
                               "146.0 MiB to decode, more than the memory budget of 100.0 MiB")) << tight.err;
    EXPECT_LT(tight.peakBytes, 32 * kMiB);

    // Frames the codec refuses in their headers: no picture buffer is ever
    // allocated for them (768 MiB each).
    const std::string refused = dir / "refused.avi";
    ASSERT_TRUE(wemb_test::WriteImage(
        refused, wemb_test::HostileAvi(wemb_test::RefusedHeaderFrame(16000, 16000), 4, 16000, 16000)));
    const HostRun run = RunHostMeasured(dir, {"-j", "4", refused});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Has(run.err, "refused.avi: frame 3: the codec refused the frame's headers")) << run.err;
    EXPECT_LT(run.peakBytes, 32 * kMiB);
}

}  // namespace
