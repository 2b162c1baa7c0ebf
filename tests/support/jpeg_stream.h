// Builder of hand-made JPEG byte streams for tests, and the example tables of
// ITU-T T.81 Annex K.
//
// The builder writes what it is told and checks nothing, so tests can make
// malformed streams as easily as good ones:
//
//   JpegStream s;
//   s.Soi().Dqt(0, AnnexKLuminanceQuant())
//    .Sof0(16, 8, {{1, 1, 1, 0}})
//    .Dht(kDcClass, 0, AnnexKLuminanceDc()).Dht(kAcClass, 0, AnnexKLuminanceAc())
//    .WithLength(9).Sos({{1, 0, 0}})     // Ls one too large
//    .Raw({0x12, 0x34}).Eoi();
//   const std::vector<uint8_t>& bytes = s.Bytes();
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace wemb_test {

// kZigzagToNatural[k] is the row-major index of the k-th coefficient in the
// zig-zag order of T.81 Figure A.6 (the order of DQT entries and of coded ACs).
inline constexpr std::array<uint8_t, 64> kZigzagToNatural = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

using QuantValues = std::array<uint16_t, 64>;  // natural (row-major) order

inline QuantValues UniformQuant(uint16_t value) {
    QuantValues q;
    q.fill(value);
    return q;
}

// A Huffman table as DHT carries it: the number of codes of each length 1..16
// (BITS) and the symbols in order of increasing code length (HUFFVAL).
struct HuffmanCodeLengths {
    std::array<uint8_t, 16> counts;
    std::vector<uint8_t> values;
};

// The example tables of T.81 Annex K (K.1 in natural order, K.3 to K.6), as
// libjpeg's compressor defaults hold them (libjpeg_reference.cpp).
const QuantValues& AnnexKLuminanceQuant();
const HuffmanCodeLengths& AnnexKLuminanceDc();
const HuffmanCodeLengths& AnnexKChrominanceDc();
const HuffmanCodeLengths& AnnexKLuminanceAc();
const HuffmanCodeLengths& AnnexKChrominanceAc();

// Marker codes (the byte after 0xFF).
enum : uint8_t {
    kSof0 = 0xC0, kSof2 = 0xC2, kSof3 = 0xC3, kDht = 0xC4, kRst0 = 0xD0, kSoi = 0xD8,
    kEoi = 0xD9, kSos = 0xDA, kDqt = 0xDB, kDri = 0xDD, kApp0 = 0xE0, kCom = 0xFE,
};

// Table classes of DHT (Tc).
enum : uint8_t { kDcClass = 0, kAcClass = 1 };

struct FrameComponent {
    uint8_t id;
    uint8_t h;   // horizontal sampling factor
    uint8_t v;   // vertical sampling factor
    uint8_t tq;  // quantization table selector
};

struct ScanComponent {
    uint8_t id;
    uint8_t td;  // DC table selector
    uint8_t ta;  // AC table selector
};

struct QuantTable {
    uint8_t id;
    uint8_t precision;  // Pq: 0 for 8-bit entries, 1 for 16-bit entries
    QuantValues values;  // natural order; written in zig-zag order
};

struct HuffmanTable {
    uint8_t tableClass;  // kDcClass or kAcClass
    uint8_t id;
    HuffmanCodeLengths codes;
};

class JpegStream {
public:
    // Markers without a segment.
    JpegStream& Marker(uint8_t code) { return Raw({0xFF, code}); }
    JpegStream& Soi() { return Marker(kSoi); }
    JpegStream& Eoi() { return Marker(kEoi); }
    JpegStream& Rst(int n) { return Marker(static_cast<uint8_t>(kRst0 + (n & 7))); }

    // Bytes as they are: entropy-coded data, garbage, truncated segments.
    JpegStream& Raw(const std::vector<uint8_t>& bytes) {
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
        return *this;
    }
    // `count` 0xFF fill bytes (T.81 B.1.1.2 allows them before any marker).
    JpegStream& Fill(int count) { return Raw(std::vector<uint8_t>(static_cast<size_t>(count), 0xFF)); }

    // The next segment gets this value in its length field instead of the true one.
    JpegStream& WithLength(uint16_t length) {
        lengthOverride_ = length;
        return *this;
    }

    // Any segment: marker, length (payload size + 2 unless overridden), payload.
    JpegStream& Segment(uint8_t code, const std::vector<uint8_t>& payload) {
        Marker(code);
        PutWord(bytes_, static_cast<uint16_t>(lengthOverride_ >= 0 ? lengthOverride_ : payload.size() + 2));
        lengthOverride_ = -1;
        return Raw(payload);
    }

    JpegStream& Dqt(const std::vector<QuantTable>& tables) {
        std::vector<uint8_t> p;
        for (const QuantTable& t : tables) {
            p.push_back(static_cast<uint8_t>((t.precision << 4) | t.id));
            for (uint8_t natural : kZigzagToNatural) {
                if (t.precision != 0) p.push_back(static_cast<uint8_t>(t.values[natural] >> 8));
                p.push_back(static_cast<uint8_t>(t.values[natural]));
            }
        }
        return Segment(kDqt, p);
    }
    JpegStream& Dqt(uint8_t id, const QuantValues& values, uint8_t precision = 0) {
        return Dqt({QuantTable{id, precision, values}});
    }

    JpegStream& Dht(const std::vector<HuffmanTable>& tables) {
        std::vector<uint8_t> p;
        for (const HuffmanTable& t : tables) {
            p.push_back(static_cast<uint8_t>((t.tableClass << 4) | t.id));
            p.insert(p.end(), t.codes.counts.begin(), t.codes.counts.end());
            p.insert(p.end(), t.codes.values.begin(), t.codes.values.end());
        }
        return Segment(kDht, p);
    }
    JpegStream& Dht(uint8_t tableClass, uint8_t id, const HuffmanCodeLengths& table) {
        return Dht({HuffmanTable{tableClass, id, table}});
    }

    // Frame header of any SOFn: P, Y, X, Nf and the components.
    JpegStream& Sof(uint8_t code, uint16_t width, uint16_t height,
                    const std::vector<FrameComponent>& components, uint8_t precision = 8) {
        std::vector<uint8_t> p = {precision};
        PutWord(p, height);
        PutWord(p, width);
        p.push_back(static_cast<uint8_t>(components.size()));
        for (const FrameComponent& c : components) p.insert(p.end(), {c.id, static_cast<uint8_t>((c.h << 4) | (c.v & 0x0F)), c.tq});
        return Segment(code, p);
    }
    JpegStream& Sof0(uint16_t w, uint16_t h, const std::vector<FrameComponent>& c) { return Sof(kSof0, w, h, c); }
    JpegStream& Sof2(uint16_t w, uint16_t h, const std::vector<FrameComponent>& c) { return Sof(kSof2, w, h, c); }

    JpegStream& Sos(const std::vector<ScanComponent>& components, uint8_t ss = 0, uint8_t se = 63,
                    uint8_t ah = 0, uint8_t al = 0) {
        std::vector<uint8_t> p = {static_cast<uint8_t>(components.size())};
        for (const ScanComponent& c : components) p.insert(p.end(), {c.id, static_cast<uint8_t>((c.td << 4) | (c.ta & 0x0F))});
        p.insert(p.end(), {ss, se, static_cast<uint8_t>((ah << 4) | (al & 0x0F))});
        return Segment(kSos, p);
    }

    JpegStream& Dri(uint16_t ri) { return Segment(kDri, {static_cast<uint8_t>(ri >> 8), static_cast<uint8_t>(ri)}); }

    JpegStream& App(int n, const std::vector<uint8_t>& payload) {
        return Segment(static_cast<uint8_t>(kApp0 + (n & 15)), payload);
    }
    // APP0 "JFIF" version 1.01, no density, no thumbnail.
    JpegStream& Jfif() { return App(0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0}); }
    // APP14 "Adobe": version 100, flags 0 and 0, then the colour transform
    // (0 none: RGB or CMYK, 1 YCbCr, 2 YCCK).
    JpegStream& Adobe(uint8_t transform) { return App(14, {'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, transform}); }
    JpegStream& Com(const std::vector<uint8_t>& payload) { return Segment(kCom, payload); }
    JpegStream& Com(const std::string& text) { return Com(std::vector<uint8_t>(text.begin(), text.end())); }

    const std::vector<uint8_t>& Bytes() const { return bytes_; }

private:
    static void PutWord(std::vector<uint8_t>& out, uint16_t value) {
        out.push_back(static_cast<uint8_t>(value >> 8));
        out.push_back(static_cast<uint8_t>(value & 0xFF));
    }

    std::vector<uint8_t> bytes_;
    int lengthOverride_ = -1;
};

}  // namespace wemb_test
