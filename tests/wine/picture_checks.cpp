#include "picture_checks.h"

#include <string>
#include <vector>

#include "reference_picture.h"

namespace vfw_host {
namespace {

// The bundled clip, samples/forest-pan.avi.
constexpr LONG kClipWidth = 512;
constexpr LONG kClipHeight = 288;
constexpr LONG kClipFrames = 90;
constexpr DWORD kClipRate = 25;  // frames per second: dwRate / dwScale = 25 / 1
constexpr DWORD kClipScale = 1;

const BYTE kUntouched = 0xA5;  // fills an output buffer before the codec writes

// The last part of a path, for naming files in the report.
std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Whether a picture check is wanted and has its inputs; reports a failure
// when it is wanted and an input is missing.
bool Wanted(Report& report, const Inputs& inputs, bool given, const char* option) {
    if (inputs.noPictures) {
        report.Note("not run: --no-pictures");
        return false;
    }
    const std::string what = std::string("the command line gives ") + option;
    return report.Expect(given, what.c_str());
}

std::string FramePath(const std::string& directory, LONG frame) {
    char name[32];
    std::snprintf(name, sizeof(name), "frame-%06ld.bmp", static_cast<long>(frame));
    return directory + "\\" + name;
}

std::string Describe(const BITMAPINFOHEADER& format) {
    char text[200];
    std::snprintf(text, sizeof(text),
                  "size %lu, %ld x %ld, %u planes, %u bits, compression 0x%08lx, image %lu bytes, "
                  "%lu colours",
                  format.biSize, format.biWidth, format.biHeight, format.biPlanes,
                  format.biBitCount, format.biCompression, format.biSizeImage, format.biClrUsed);
    return text;
}

// ---------------------------------------------------------------------------
// One frame through ICDecompress

void DecodeFrame(Report& report, HIC hic, std::vector<BYTE>& jpeg, const ReferencePicture& expected,
                 const std::string& name) {
    BITMAPINFOHEADER input = WembFormat(expected.width, expected.height);
    input.biSizeImage = static_cast<DWORD>(jpeg.size());
    BITMAPINFOHEADER output = RgbFormat(expected.width, expected.height, 24);
    output.biSizeImage = static_cast<DWORD>(expected.rowStep * expected.height);

    report.ExpectResult(ICDecompressQuery(hic, &input, &output), ICERR_OK,
                        ("ICDecompressQuery for " + name + " -> RGB24").c_str());
    report.ExpectResult(ICDecompressBegin(hic, &input, &output), ICERR_OK,
                        "ICDecompressBegin for the frame");
    std::vector<BYTE> pixels(output.biSizeImage, kUntouched);
    // ICDecompress hands back the driver's LRESULT as a DWORD.
    const LONG result =
        static_cast<LONG>(ICDecompress(hic, 0, &input, jpeg.data(), &output, pixels.data()));
    if (report.ExpectResult(result, ICERR_OK, ("ICDecompress of " + name).c_str())) {
        const std::string difference = FirstDifference(expected, pixels.data(), expected.rowStep);
        report.Expectf(difference.empty(),
                       ("ICDecompress of " + name + " matches the Linux host bit for bit").c_str(),
                       "%s", difference.c_str());
        const size_t rowBytes = static_cast<size_t>(expected.width) * 3;
        bool paddingUntouched = true;
        for (size_t row = 0; row < static_cast<size_t>(expected.height); ++row) {
            for (size_t byte = rowBytes; byte < expected.rowStep; ++byte) {
                paddingUntouched =
                    paddingUntouched && pixels[row * expected.rowStep + byte] == kUntouched;
            }
        }
        report.Expectf(paddingUntouched, "the padding at the end of each row is left alone",
                       "%lu padding bytes per row",
                       static_cast<unsigned long>(expected.rowStep - rowBytes));
    }
    report.ExpectResult(ICDecompressEnd(hic), ICERR_OK, "ICDecompressEnd after the frame");
}

// ---------------------------------------------------------------------------
// The clip through AVIFile and AVIStreamGetFrame

// Compares a frame that AVIStreamGetFrame returned, a packed DIB (the
// BITMAPINFOHEADER, its colour table if any, then the pixels), with the Linux
// host's picture of the frame. Returns an empty string when they agree.
std::string CompareReturnedFrame(const void* dib, const std::string& referencePath) {
    if (dib == nullptr) return "AVIStreamGetFrame returned null";
    ReferencePicture expected;
    std::string error;
    if (!LoadReferencePicture(referencePath, &expected, &error)) return error;
    const BITMAPINFOHEADER& format = *static_cast<const BITMAPINFOHEADER*>(dib);
    if (format.biSize < sizeof(BITMAPINFOHEADER) || format.biCompression != BI_RGB ||
        format.biBitCount != 24 || format.biWidth != expected.width ||
        format.biHeight != expected.height) {
        return "the frame is not a 24-bit BI_RGB bottom-up DIB of the picture's size: " +
               Describe(format);
    }
    const BYTE* pixels =
        static_cast<const BYTE*>(dib) + format.biSize + format.biClrUsed * sizeof(RGBQUAD);
    return FirstDifference(expected, pixels, RowStep24(format.biWidth));
}

// Fetches one frame and compares it, reporting the result under `what`.
bool ExpectFrame(Report& report, PGETFRAME frames, LONG frame, const std::string& directory,
                 const std::string& what) {
    const void* dib = AVIStreamGetFrame(frames, frame);
    const std::string difference = CompareReturnedFrame(dib, FramePath(directory, frame));
    return report.Expectf(difference.empty(), what.c_str(), "frame %ld: %s",
                          static_cast<long>(frame), difference.c_str());
}

bool CheckStreamInfo(Report& report, PAVISTREAM stream) {
    AVISTREAMINFOA info = {};
    if (!report.ExpectResult(AVIStreamInfoA(stream, &info, sizeof(info)), AVIERR_OK,
                             "AVIStreamInfo")) {
        return false;
    }
    report.Expectf(info.fccType == streamtypeVIDEO, "the stream type is vids", "got 0x%08lx",
                   info.fccType);
    report.Expectf(info.fccHandler == kWemb, "the stream handler is wemb", "got 0x%08lx",
                   info.fccHandler);
    report.Expectf(info.dwStart == 0 && info.dwLength == static_cast<DWORD>(kClipFrames),
                   "the stream holds frames 0 to 89", "start %lu, length %lu", info.dwStart,
                   info.dwLength);
    report.Expectf(info.dwRate == kClipRate && info.dwScale == kClipScale,
                   "the stream runs at 25/1 frames per second", "rate %lu / scale %lu", info.dwRate,
                   info.dwScale);

    BITMAPINFOHEADER format = {};
    LONG formatSize = sizeof(format);
    if (!report.ExpectResult(AVIStreamReadFormat(stream, 0, &format, &formatSize), AVIERR_OK,
                             "AVIStreamReadFormat")) {
        return false;
    }
    return report.Expectf(format.biCompression == kWemb && format.biWidth == kClipWidth &&
                              format.biHeight == kClipHeight,
                          "the stream format is wemb 512 x 288", "%s", Describe(format).c_str());
}

// Compares every frame, in order, reporting each one that differs and then
// the whole clip.
void ExpectEveryFrame(Report& report, PGETFRAME frames, const std::string& directory) {
    int differing = 0;
    for (LONG frame = 0; frame < kClipFrames; ++frame) {
        const void* dib = AVIStreamGetFrame(frames, frame);
        const std::string difference = CompareReturnedFrame(dib, FramePath(directory, frame));
        if (!difference.empty()) {
            char what[64];
            std::snprintf(what, sizeof(what), "frame %ld matches the Linux host",
                          static_cast<long>(frame));
            report.Expectf(false, what, "%s", difference.c_str());
            ++differing;
        }
    }
    report.Expectf(differing == 0, "every frame of the clip, in order, matches the Linux host",
                   "%d of %ld frames differ", differing, static_cast<long>(kClipFrames));
}

// The reader's idea of the clip's key frames decides how much it decodes:
// AVIStreamGetFrame(n) decodes every frame from the key frame at or before n
// up to n. Wine counts a '00dc' chunk as a key frame only when the file does
// not set AVIF_TRUSTCKTYPE, which ffmpeg's AVI muxer always sets, so it sees
// frame 0 alone as a key frame and decodes frames 0 to n for frame n. Noted
// here, as it is the reader's doing, not the codec's.
void NoteKeyFrames(Report& report, PAVISTREAM stream) {
    LONG keys = 0;
    for (LONG frame = 0; frame < kClipFrames; ++frame) {
        if (AVIStreamIsKeyFrame(stream, frame)) ++keys;
    }
    report.Note("the reader counts %ld key frame(s); for frame %ld it starts decoding at frame %ld",
                static_cast<long>(keys), static_cast<long>(kClipFrames - 1),
                AVIStreamFindSample(stream, kClipFrames - 1, FIND_KEY | FIND_PREV));
}

// With no wanted format the reader asks the codec for its output format
// (ICM_DECOMPRESS_GET_FORMAT) and hands back each frame as one packed DIB:
// that header, then the pixels.
void PlayInOfferedFormat(Report& report, PAVISTREAM stream, const std::string& directory) {
    PGETFRAME frames = AVIStreamGetFrameOpen(stream, nullptr);
    if (!report.Expect(frames != nullptr, "AVIStreamGetFrameOpen with no wanted format")) {
        return;
    }
    const void* first = AVIStreamGetFrame(frames, 0);
    if (report.Expect(first != nullptr, "AVIStreamGetFrame(0) returns a frame")) {
        const BITMAPINFOHEADER& format = *static_cast<const BITMAPINFOHEADER*>(first);
        report.Note("the frame comes as a packed DIB: %s", Describe(format).c_str());
        const DWORD imageSize = static_cast<DWORD>(RowStep24(kClipWidth) * kClipHeight);
        report.Expectf(format.biSize == sizeof(BITMAPINFOHEADER) && format.biWidth == kClipWidth &&
                           format.biHeight == kClipHeight && format.biPlanes == 1 &&
                           format.biBitCount == 24 && format.biCompression == BI_RGB &&
                           format.biSizeImage == imageSize && format.biClrUsed == 0,
                       "the reader uses the codec's format: 24-bit BI_RGB 512 x 288, bottom-up",
                       "%s", Describe(format).c_str());
    }
    ExpectFrame(report, frames, 0, directory, "the first frame matches the Linux host");
    ExpectFrame(report, frames, kClipFrames - 1, directory,
                "the last frame, straight after the first, matches the Linux host");
    ExpectFrame(report, frames, 45, directory, "random access: frame 45 matches the Linux host");
    ExpectFrame(report, frames, 3, directory,
                "random access: frame 3, after 45, matches the Linux host");
    ExpectEveryFrame(report, frames, directory);
    report.ExpectResult(AVIStreamGetFrameClose(frames), AVIERR_OK, "AVIStreamGetFrameClose");
}

// A wanted format goes to the codec as the proposed output
// (ICM_DECOMPRESS_QUERY); the reader takes it as it is.
void PlayInWantedFormat(Report& report, PAVISTREAM stream, const std::string& directory) {
    BITMAPINFOHEADER rgb32 = RgbFormat(kClipWidth, kClipHeight, 32);
    PGETFRAME refused = AVIStreamGetFrameOpen(stream, &rgb32);
    report.Expect(refused == nullptr,
                  "AVIStreamGetFrameOpen finds no decompressor for a wanted 32-bit format");
    if (refused != nullptr) AVIStreamGetFrameClose(refused);

    BITMAPINFOHEADER rgb24 = RgbFormat(kClipWidth, kClipHeight, 24);
    rgb24.biSizeImage = static_cast<DWORD>(RowStep24(kClipWidth) * kClipHeight);
    PGETFRAME frames = AVIStreamGetFrameOpen(stream, &rgb24);
    if (!report.Expect(frames != nullptr,
                       "AVIStreamGetFrameOpen with a wanted 24-bit BI_RGB format")) {
        return;
    }
    ExpectFrame(report, frames, kClipFrames - 1, directory,
                "wanted 24-bit BI_RGB: the last frame matches the Linux host");
    ExpectFrame(report, frames, 3, directory,
                "wanted 24-bit BI_RGB: frame 3 matches the Linux host");
    report.ExpectResult(AVIStreamGetFrameClose(frames), AVIERR_OK,
                        "AVIStreamGetFrameClose of the wanted-format reader");
}

void PlayFile(Report& report, PAVIFILE file, const std::string& directory) {
    PAVISTREAM stream = nullptr;
    if (!report.ExpectResult(AVIFileGetStream(file, &stream, streamtypeVIDEO, 0), AVIERR_OK,
                             "AVIFileGetStream finds the video stream")) {
        return;
    }
    if (CheckStreamInfo(report, stream)) {
        NoteKeyFrames(report, stream);
        PlayInOfferedFormat(report, stream, directory);
        PlayInWantedFormat(report, stream, directory);
    }
    report.Note("AVIStreamRelease leaves %lu references", AVIStreamRelease(stream));
}

}  // namespace

void CheckDecodeFrame(Report& report, const Inputs& inputs) {
    if (!Wanted(report, inputs, !inputs.frameJpeg.empty(), "--frame FRAME.jpg EXPECTED.bmp")) {
        return;
    }
    const std::string name = BaseName(inputs.frameJpeg);
    std::vector<BYTE> jpeg;
    if (!report.Expectf(ReadWholeFile(inputs.frameJpeg, jpeg) && !jpeg.empty(),
                        ("read " + name).c_str(), "cannot read %s", inputs.frameJpeg.c_str())) {
        return;
    }
    ReferencePicture expected;
    std::string error;
    if (!report.Expectf(LoadReferencePicture(inputs.frameBmp, &expected, &error),
                        ("read the Linux host's picture of " + name).c_str(), "%s",
                        error.c_str())) {
        return;
    }
    Codec codec;
    if (!codec.Opened(report, "open for the real frame")) return;
    DecodeFrame(report, codec.handle(), jpeg, expected, name);
}

void CheckPlayClip(Report& report, const Inputs& inputs) {
    if (!Wanted(report, inputs, !inputs.clipAvi.empty(), "--clip CLIP.avi EXPECTED-DIR")) {
        return;
    }
    AVIFileInit();
    PAVIFILE file = nullptr;
    const std::string what = "AVIFileOpen " + BaseName(inputs.clipAvi);
    if (report.ExpectResult(
            AVIFileOpenA(&file, inputs.clipAvi.c_str(), OF_READ | OF_SHARE_DENY_WRITE, nullptr),
            AVIERR_OK, what.c_str())) {
        PlayFile(report, file, inputs.clipFrames);
        report.ExpectResult(AVIFileRelease(file), 0, "AVIFileRelease drops the last reference");
    }
    AVIFileExit();
}

}  // namespace vfw_host
