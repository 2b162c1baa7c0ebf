// Where the host's frames come from: the video stream of an AVI file, or a
// list of JPEG files (or standard input), each frame with the input format
// the codec is given for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/vfw.h"
#include "tools/avi_reader.h"

class FrameSource {
public:
    virtual ~FrameSource() = default;

    virtual size_t Count() const = 0;
    // Reads frame `index` and the format to decode it with. Safe to call from
    // several threads. An empty `bytes` with success is a dropped frame.
    virtual bool Load(size_t index, std::vector<uint8_t>* bytes, BITMAPINFOHEADER* format,
                      std::string* error) const = 0;
    // How messages name the frame: "clip.avi: frame 17" or the JPEG file's
    // name.
    virtual std::string Label(size_t index) const = 0;
    // The output file's name for JPEG inputs ("photo" for photo.jpg); empty
    // for numbered video frames.
    virtual std::string Stem(size_t index) const { (void)index; return std::string(); }
    // Whether the frame is known, without reading it, to be dropped (to
    // load as no bytes).
    virtual bool Dropped(size_t index) const { (void)index; return false; }
    // The frames' rate, `rate` / `scale` frames a second; false when the
    // source has none (JPEG files).
    virtual bool FrameRate(uint32_t* rate, uint32_t* scale) const {
        (void)rate, (void)scale;
        return false;
    }
};

class AviVideoSource : public FrameSource {
public:
    // Opens the file; `forceWemb` presents any compression to the codec as wemb.
    bool Open(const std::string& path, bool forceWemb, std::string* error);

    const AviReader& Reader() const { return m_reader; }
    const BITMAPINFOHEADER& Format() const { return m_format; }

    size_t Count() const override { return m_reader.FrameCount(); }
    bool Load(size_t index, std::vector<uint8_t>* bytes, BITMAPINFOHEADER* format,
              std::string* error) const override;
    std::string Label(size_t index) const override;
    bool Dropped(size_t index) const override { return m_reader.Frame(index).size == 0; }
    bool FrameRate(uint32_t* rate, uint32_t* scale) const override;

private:
    std::string m_path;
    AviReader m_reader;
    BITMAPINFOHEADER m_format = {};
};

class JpegFileSource : public FrameSource {
public:
    // Paths of JPEG files; "-" stands for the bytes read from standard
    // input, which the caller reads once (null when no path is "-").
    JpegFileSource(std::vector<std::string> paths,
                   std::shared_ptr<const std::vector<uint8_t>> stdinBytes = nullptr);

    size_t Count() const override { return m_paths.size(); }
    bool Load(size_t index, std::vector<uint8_t>* bytes, BITMAPINFOHEADER* format,
              std::string* error) const override;
    std::string Label(size_t index) const override;
    std::string Stem(size_t index) const override;

private:
    std::vector<std::string> m_paths;
    std::shared_ptr<const std::vector<uint8_t>> m_stdin;
};

// Reads a whole file (or all of standard input for "-").
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);
