// The host side of the codec: drives DriverProc with the messages and in the
// order a Video Compression Manager uses.
//
//   DRV_LOAD, DRV_ENABLE                      once per process (CodecLibrary)
//   DRV_OPEN with an ICOPEN of type 'vidc'   once per session
//   ICM_DECOMPRESS_QUERY, ICM_DECOMPRESS_GET_FORMAT, ICM_DECOMPRESS_BEGIN
//   ICM_DECOMPRESS per frame, biSizeImage = the frame's byte count
//   ICM_DECOMPRESS_END, DRV_CLOSE
//   DRV_DISABLE, DRV_FREE                     when the library goes
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/vfw.h"

// Loads and enables the driver for the lifetime of the object.
class CodecLibrary {
public:
    CodecLibrary();
    ~CodecLibrary();
    CodecLibrary(const CodecLibrary&) = delete;
    CodecLibrary& operator=(const CodecLibrary&) = delete;

    bool Loaded() const { return m_loaded; }

    // ICM_GETINFO through a short-lived instance: the codec's name and
    // description.
    bool Describe(std::string* name, std::string* description) const;

private:
    bool m_loaded;
};

// The bitmap the host asks the codec to write: 24 bits a pixel (B, G, R) or
// 32 (B, G, R, 255), rows bottom-up as in a DIB of positive height (what the
// codec offers) or top-down (a negative biHeight). The codec writes any of
// them straight into the host's buffer, so the host converts nothing.
struct PictureLayout {
    uint16_t bitCount = 24;
    bool topDown = false;
};

// One open instance of the codec, negotiated for one input format.
class CodecSession {
public:
    CodecSession() = default;
    ~CodecSession();
    CodecSession(const CodecSession&) = delete;
    CodecSession& operator=(const CodecSession&) = delete;

    // Opens an instance and negotiates `input` (its biCompression is what
    // the codec checks): the codec proposes its output format
    // (ICM_DECOMPRESS_GET_FORMAT), the host changes it to `layout` and asks
    // whether the codec writes that (ICM_DECOMPRESS_QUERY), then begins. On
    // failure `error` says which step refused.
    bool Begin(const BITMAPINFOHEADER& input, const PictureLayout& layout, std::string* error);
    bool Begin(const BITMAPINFOHEADER& input, std::string* error) { return Begin(input, PictureLayout(), error); }

    // The output format agreed on: biHeight negative for top-down rows,
    // biSizeImage the picture's bytes.
    const BITMAPINFOHEADER& OutputFormat() const { return m_output; }

    // Decodes one frame into a buffer of the output's biSizeImage bytes that
    // the caller owns and keeps as it is before the call, as a host's frame
    // buffer is. Returns the codec's ICM_DECOMPRESS result.
    LRESULT Decompress(const uint8_t* frame, uint32_t size, uint8_t* pixels);

    // ICM_DECOMPRESS_END, which makes the instance give back the decoder
    // and the buffers it keeps from frame to frame, then
    // ICM_DECOMPRESS_BEGIN again. False when the codec refuses to begin.
    bool ReleaseKeptBuffers();

    // ICM_DECOMPRESS_END and DRV_CLOSE; also run by the destructor.
    void End();

private:
    DWORD_PTR m_instance = 0;
    bool m_begun = false;
    BITMAPINFOHEADER m_input = {};
    BITMAPINFOHEADER m_output = {};
};

// The largest picture the host decodes, in bytes of output (about 18000 x
// 18000 pixels of 24 bits), whatever the memory budget
// (tools/memory_budget.h) would allow.
constexpr uint64_t kMaxPictureBytes = uint64_t(1) << 30;

// Whether an output format describes a buffer the host can hand the codec:
// a positive width, a height of either sign, 24 or 32 bits, biSizeImage
// equal to the bytes the codec will write (rows of width x 3 or 4 bytes
// rounded up to 4, 64-bit arithmetic), and no more than kMaxPictureBytes.
// False with the reason otherwise.
bool OutputBufferFits(const BITMAPINFOHEADER& output, std::string* error);

// The byte count of a picture of this size (both positive) in `bitCount`
// bits a pixel; false, with the reason, for a size that is not positive or
// more than this host accepts.
bool PictureBytes(int32_t width, int32_t height, uint64_t* bytes, std::string* error,
                  uint16_t bitCount = 24);

// A `wemb` input format for a frame of the given size.
BITMAPINFOHEADER WembFormat(int32_t width, int32_t height);
