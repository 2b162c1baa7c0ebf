// End-to-end runs of the wemb-decode program on AVI files built here from
// the test JPEG streams. Every picture it writes is compared with what the
// codec itself returns for that frame through DriverProc.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/avi_builder.h"
#include "support/host_picture.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

Bytes Testdata(const std::string& name) { return ReadFile(std::string(WEMB_TESTDATA_DIR) + "/" + name); }

// The BMP file the host should write for a frame: the codec's own picture.
Bytes ExpectedBmp(const Bytes& jpeg) {
    const wemb_test::CodecResult picture = wemb_test::HostPicture(jpeg);
    EXPECT_EQ(picture.status, ICERR_OK);
    return wemb_test::Bmp24File(picture.width, picture.height, picture.pixels);
}

struct HostRun {
    int status = -1;  // the exit status, or 128 + the signal that ended the program
    std::string out, err;
};

// Runs wemb-decode with `args`; standard input from `input` (or /dev/null),
// standard output to a file, or to a pipe nobody reads when `closedOutput`.
HostRun RunHost(const wemb_test::TempDir& dir, const std::vector<std::string>& args,
                const std::string& input = "/dev/null", bool closedOutput = false) {
    const std::string outPath = dir / "stdout", errPath = dir / "stderr";
    int ends[2] = {-1, -1};
    if (closedOutput && pipe(ends) != 0) return HostRun();
    const pid_t child = fork();
    if (child == 0) {
        const int in = open(input.c_str(), O_RDONLY);
        const int out = closedOutput ? ends[1] : open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0) _exit(126);
        dup2(in, 0), dup2(out, 1), dup2(err, 2);
        if (closedOutput) close(ends[0]);
        std::vector<char*> argv = {const_cast<char*>(WEMB_DECODE_PATH)};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (closedOutput) close(ends[0]), close(ends[1]);
    int status = 0;
    HostRun run;
    if (child < 0 || waitpid(child, &status, 0) != child) return run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    const Bytes out = ReadFile(outPath), err = ReadFile(errPath);
    run.out.assign(out.begin(), out.end());
    run.err.assign(err.begin(), err.end());
    return run;
}

// A 64 x 48 clip: four sampling modes, a progressive frame, a frame cut
// short (frame 2) and a dropped frame (frame 3).
std::vector<Bytes> ClipFrames() {
    std::vector<Bytes> frames = {Testdata("ycc420_64x48_q85.jpg"), Testdata("ycc422_64x48_q85.jpg"),
                                 Testdata("ycc420_64x48_q50.jpg"), Bytes(),
                                 Testdata("ycc444_64x48_q85.jpg"), Testdata("grey_64x48_q75.jpg"),
                                 Testdata("ycc444_prog_64x48_q85.jpg")};
    frames[2].resize(frames[2].size() / 2);
    return frames;
}

std::string WriteAvi(const wemb_test::TempDir& dir, const std::string& name, const std::vector<Bytes>& frames,
                     uint32_t compression = 0x626D6577, int32_t width = 64, int32_t height = 48) {
    avi_test::AviOptions options;
    options.frames = frames, options.compression = compression, options.width = width, options.height = height;
    WriteFile(dir / name, avi_test::BuildAvi(options).Bytes());
    return dir / name;
}

TEST(WembDecode, WritesEveryFrameAsTheCodecDecodesItAndReportsTheDamagedOne) {
    wemb_test::TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::vector<Bytes> frames = ClipFrames();
    const std::string clip = WriteAvi(dir, "clip.avi", frames);
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
        // The dropped frame 3 repeats the last picture shown: frame 1's.
        for (size_t i : {0, 1, 3, 4, 5, 6}) {
            const std::string name = out + "frame-00000" + std::to_string(i) + ".bmp";
            EXPECT_EQ(ReadFile(name), ExpectedBmp(frames[i == 3 ? 1 : i])) << name;
        }
        EXPECT_FALSE(Exists(out + "frame-000002.bmp"));
    }
}

TEST(WembDecode, RawOutputIsEveryFramesRowsWithoutPadding) {
    wemb_test::TempDir dir;
    ASSERT_TRUE(dir.ok());
    // 33 pixels: rows of 99 bytes, padded to 100 by the codec. The dropped
    // frame 2 repeats frame 1.
    const std::vector<Bytes> frames = {Testdata("rgb_33x17_q90.jpg"), Testdata("ycc420_33x17_q85.jpg"),
                                       Bytes(), Testdata("ycc422_33x17_q85.jpg"),
                                       Testdata("grey_opt_33x17_q90.jpg")};
    const std::string clip = WriteAvi(dir, "raw.avi", frames, 0x626D6577, 33, 17);
    const HostRun run = RunHost(dir, {"--raw", clip, "-j", "2"});
    EXPECT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(run.out.size(), 5u * 33 * 3 * 17);
    for (size_t i = 0; i < frames.size(); ++i) {
        const wemb_test::CodecResult decoded = wemb_test::DecodeWithCodec(frames[i == 2 ? 1 : i]);
        for (size_t row = 0; row < 17; ++row) {
            const std::string expected(&decoded.pixels[row * 100], &decoded.pixels[row * 100] + 99);
            EXPECT_EQ(run.out.substr((i * 17 + row) * 99, 99), expected) << "frame " << i << " row " << row;
        }
    }
}

// Runs judged by their exit status and what they print; the pictures some of
// them write are compared after.
TEST(WembDecode, ExitStatusesMessagesAndSingleFrames) {
    wemb_test::TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string clip = WriteAvi(dir, "clip.avi", ClipFrames());
    const std::vector<Bytes> sound = {Testdata("ycc420_64x48_q85.jpg"), Testdata("grey_64x48_q75.jpg")};
    const std::string wemb = WriteAvi(dir, "wemb.avi", sound);
    const std::string mjpg = WriteAvi(dir, "mjpg.avi", sound, 0x47504A4D);  // 'MJPG'
    const Bytes cut(sound[0].begin(), sound[0].begin() + 300);
    const std::string broken = WriteAvi(dir, "broken.avi", {cut, cut, cut});
    const std::string jpeg = std::string(WEMB_TESTDATA_DIR) + "/ycc420_227x149_q85.jpg";  // rows padded
    mkdir((dir / "a").c_str(), 0700);
    mkdir((dir / "b").c_str(), 0700);
    WriteFile(dir / "a/x.jpg", Testdata("grey_8x8_q90.jpg"));
    WriteFile(dir / "b/x.jpg", Testdata("grey_8x8_q90.jpg"));
    // A frame header claiming 40000 x 40000: the codec's 32-bit biSizeImage
    // says 505 MB for the 4.8 GB it would write.
    Bytes huge = Testdata("grey_8x8_q90.jpg");
    const uint8_t sof0[] = {0xFF, 0xC0};
    const size_t sof = std::search(huge.begin(), huge.end(), sof0, sof0 + 2) - huge.begin();
    ASSERT_LT(sof + 9, huge.size());
    for (size_t at : {sof + 5, sof + 7}) huge[at] = 40000 >> 8, huge[at + 1] = 40000 & 0xFF;
    WriteFile(dir / "huge.jpg", huge);
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
        {{"-", "-o", dir / "none.bmp"}, 1, {"standard input: "}},  // empty standard input
        {{"--info", wemb}, 0, {"Wemb codec", "Torvane Wemb Video Codec", "64 x 48", "'wemb'", "frames:   2",
                               "25.000 frames/s", "accepts the stream"}},
        {{mjpg}, 2, {"'MJPG'", "--force-wemb"}},
        {{"--info", mjpg}, 2, {"refuses the stream"}},
        {{"--force-wemb", mjpg, "-o", dir / "forced/"}, 0, {}},
        {{clip, "-f", "7-"}, 2, {"no frame in the range 7-; its frames are 0-6"}},
        {{broken}, 1, {"none of its 3 frames decoded"}},
        {{dir / "missing.jpg", clip, "-f", "0"}, 2, {"missing.jpg: cannot open"}},
        {{dir / "huge.jpg"}, 1, {"a 40000 x 40000 picture needs 4800000000 bytes"}},
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
    const HostRun run = RunHost(dir, {"--raw", clip}, "/dev/null", true);
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_TRUE(Has(run.err, "standard output was closed by its reader")) << run.err;
}

}  // namespace
