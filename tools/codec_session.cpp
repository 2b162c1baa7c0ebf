#include "tools/codec_session.h"

#include <cstdlib>

#include "driver/driver.h"
#include "tools/riff_file.h"

namespace {

LRESULT Send(DWORD_PTR instance, UINT message, LPARAM lParam1, LPARAM lParam2) {
    return DriverProc(instance, nullptr, message, lParam1, lParam2);
}

template <typename T>
LPARAM Arg(T* pointer) {
    return reinterpret_cast<LPARAM>(pointer);
}

DWORD_PTR OpenInstance() {
    ICOPEN open = {};
    open.dwSize = sizeof(open);
    open.fccType = ICTYPE_VIDEO;
    open.fccHandler = kWembFourcc;
    open.dwFlags = 0;
    const LRESULT instance = Send(0, DRV_OPEN, 0, Arg(&open));
    return instance != 0 && open.dwError == ICERR_OK ? static_cast<DWORD_PTR>(instance) : 0;
}

std::string Narrow(const WCHAR* text, size_t capacity) {
    std::string out;
    for (size_t i = 0; i < capacity && text[i] != 0; ++i) {
        out += text[i] < 0x80 ? static_cast<char>(text[i]) : '?';
    }
    return out;
}

}  // namespace

CodecLibrary::CodecLibrary()
    : m_loaded(Send(0, DRV_LOAD, 0, 0) == 1 && Send(0, DRV_ENABLE, 0, 0) == 1) {}

CodecLibrary::~CodecLibrary() {
    Send(0, DRV_DISABLE, 0, 0);
    Send(0, DRV_FREE, 0, 0);
}

bool CodecLibrary::Describe(std::string* name, std::string* description) const {
    const DWORD_PTR instance = OpenInstance();
    if (instance == 0) return false;
    ICINFO info = {};
    info.dwSize = sizeof(info);
    const LRESULT provided = Send(instance, ICM_GETINFO, Arg(&info), sizeof(info));
    Send(instance, DRV_CLOSE, 0, 0);
    if (provided != static_cast<LRESULT>(sizeof(info))) return false;
    *name = Narrow(info.szName, 16);
    *description = Narrow(info.szDescription, 128);
    return true;
}

CodecSession::~CodecSession() { End(); }

bool CodecSession::Begin(const BITMAPINFOHEADER& input, const PictureLayout& layout, std::string* error) {
    End();
    m_instance = OpenInstance();
    if (m_instance == 0) {
        *error = "the codec refused to open";
        return false;
    }
    m_input = input;
    if (Send(m_instance, ICM_DECOMPRESS_QUERY, Arg(&m_input), 0) != ICERR_OK) {
        // The codec refuses other compressions, and wemb pictures it could
        // not describe; for those, say why in this host's terms.
        uint64_t bytes = 0;
        if (input.biCompression != kWembFourcc ||
            PictureBytes(input.biWidth, input.biHeight, &bytes, error, layout.bitCount)) {
            *error = "the codec does not accept input of type '" +
                     FourccText(input.biCompression) + "'";
        }
        return false;
    }
    if (Send(m_instance, ICM_DECOMPRESS_GET_FORMAT, Arg(&m_input), 0) !=
        static_cast<LRESULT>(sizeof(BITMAPINFOHEADER))) {
        *error = "the codec proposes an output format of unexpected size";
        return false;
    }
    if (Send(m_instance, ICM_DECOMPRESS_GET_FORMAT, Arg(&m_input), Arg(&m_output)) != ICERR_OK) {
        *error = "the codec proposes no output format for this input";
        return false;
    }
    // The codec trusts the buffer the host gives it to hold the whole
    // picture, and its biSizeImage is a 32-bit product that wraps for large
    // pictures: the size is checked here, not taken on trust.
    if (!OutputBufferFits(m_output, error)) return false;
    uint64_t bytes = 0;
    if (!PictureBytes(m_output.biWidth, m_output.biHeight, &bytes, error, layout.bitCount)) return false;
    m_output.biBitCount = layout.bitCount;
    if (layout.topDown) m_output.biHeight = -m_output.biHeight;
    m_output.biSizeImage = static_cast<DWORD>(bytes);
    if (Send(m_instance, ICM_DECOMPRESS_QUERY, Arg(&m_input), Arg(&m_output)) != ICERR_OK) {
        *error = "the codec does not write " + std::to_string(layout.bitCount) + "-bit " +
                 (layout.topDown ? "top-down" : "bottom-up") + " pictures";
        return false;
    }
    if (Send(m_instance, ICM_DECOMPRESS_BEGIN, Arg(&m_input), Arg(&m_output)) != ICERR_OK) {
        *error = "the codec refused to begin decompression";
        return false;
    }
    m_begun = true;
    return true;
}

LRESULT CodecSession::Decompress(const uint8_t* frame, uint32_t size, uint8_t* pixels) {
    BITMAPINFOHEADER input = m_input;
    input.biSizeImage = size;
    BITMAPINFOHEADER output = m_output;
    ICDECOMPRESS job = {};
    job.dwFlags = 0;
    job.lpbiInput = &input;
    job.lpInput = const_cast<uint8_t*>(frame);
    job.lpbiOutput = &output;
    job.lpOutput = pixels;
    job.ckid = 0;
    return Send(m_instance, ICM_DECOMPRESS, Arg(&job), sizeof(job));
}

bool CodecSession::ReleaseKeptBuffers() {
    if (!m_begun) return false;
    Send(m_instance, ICM_DECOMPRESS_END, 0, 0);
    m_begun = Send(m_instance, ICM_DECOMPRESS_BEGIN, Arg(&m_input), Arg(&m_output)) == ICERR_OK;
    return m_begun;
}

void CodecSession::End() {
    if (m_instance == 0) return;
    if (m_begun) Send(m_instance, ICM_DECOMPRESS_END, 0, 0);
    Send(m_instance, DRV_CLOSE, 0, 0);
    m_instance = 0;
    m_begun = false;
}

bool PictureBytes(int32_t width, int32_t height, uint64_t* bytes, std::string* error, uint16_t bitCount) {
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    if (width <= 0 || height <= 0) {
        *error = "a " + size + " picture cannot be decoded (the size must be positive)";
        return false;
    }
    *bytes = RowStep(width, bitCount) * uint32_t(height);
    if (*bytes > kMaxPictureBytes) {
        *error = "a " + size + " picture needs " + std::to_string(*bytes) +
                 " bytes, more than the " + std::to_string(kMaxPictureBytes) + " this host accepts";
        return false;
    }
    return true;
}

bool OutputBufferFits(const BITMAPINFOHEADER& output, std::string* error) {
    if (output.biBitCount != 24 && output.biBitCount != 32) {
        *error = "the codec's output format has " + std::to_string(output.biBitCount) +
                 " bits a pixel; this host takes 24 or 32";
        return false;
    }
    const int32_t height = output.biHeight == INT32_MIN ? 0 : std::abs(output.biHeight);
    uint64_t bytes = 0;
    if (!PictureBytes(output.biWidth, height, &bytes, error, output.biBitCount)) return false;
    if (bytes != output.biSizeImage) {
        *error = "the codec's output format gives " + std::to_string(output.biSizeImage) +
                 " bytes for a " + std::to_string(output.biWidth) + " x " +
                 std::to_string(height) + " picture, which needs " + std::to_string(bytes);
        return false;
    }
    return true;
}

BITMAPINFOHEADER WembFormat(int32_t width, int32_t height) {
    BITMAPINFOHEADER format = {};
    format.biSize = sizeof(format);
    format.biWidth = width;
    format.biHeight = height;
    format.biPlanes = 1;
    format.biBitCount = 24;
    format.biCompression = kWembFourcc;
    return format;
}
