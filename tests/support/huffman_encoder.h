// Test-side Huffman encoding: the example tables of ITU-T T.81 Annex K.3,
// code assignment from a DHT-style table, and encoders for sequential blocks
// and for progressive first scans (DC, and AC bands with EOB runs).
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "primitives/huffman.h"
#include "primitives/memory.h"
#include "support/bit_writer.h"

namespace testing_support {

// Code counts for lengths 1..16 and the symbols in code order.
struct HuffmanTable {
    std::array<uint8_t, 16> bits;
    std::vector<uint8_t> values;
};

// Table K.3: luminance DC.
inline const HuffmanTable kLuminanceDc = {{0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0},
                                         {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}};
// Table K.4: chrominance DC.
inline const HuffmanTable kChrominanceDc = {{0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0},
                                           {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}};
// Table K.5: luminance AC.
inline const HuffmanTable kLuminanceAc = {
    {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d},
    {0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61,
     0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52,
     0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25,
     0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45,
     0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63, 0x64,
     0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
     0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99,
     0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6,
     0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3,
     0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8,
     0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa}};
// Table K.6: chrominance AC.
inline const HuffmanTable kChrominanceAc = {
    {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77},
    {0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61,
     0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33,
     0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1, 0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18,
     0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36, 0x37, 0x38, 0x39, 0x3a, 0x43, 0x44,
     0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5a, 0x63,
     0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
     0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97,
     0x98, 0x99, 0x9a, 0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4,
     0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca,
     0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7,
     0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa}};

// An AC table for progressive first scans, which need EOBn symbols (0x10 ..
// 0xE0) that the Annex K tables lack: every run/size of sizes 1..10, ZRL and
// EOB0..EOB14, 176 symbols with lengths 2 to 13 (Kraft sum below 1).
inline HuffmanTable ProgressiveAcTable() {
    HuffmanTable table{{0, 2, 1, 2, 2, 2, 2, 4, 8, 16, 32, 64, 41, 0, 0, 0}, {0x00}};
    for (int size = 1; size <= 10; ++size) {
        for (int run = 0; run < 16; ++run) {
            table.values.push_back(static_cast<uint8_t>((run << 4) | size));
        }
    }
    table.values.push_back(0xF0);
    for (int r = 1; r <= 14; ++r) {
        table.values.push_back(static_cast<uint8_t>(r << 4));
    }
    return table;
}

struct Code {
    uint32_t bits = 0;
    int length = 0;  // 0: the symbol has no code
};

// Codes of a table: counting up within a length, doubling from one length to
// the next (T.81 Figure C.2 in one loop).
class HuffmanCoder {
public:
    explicit HuffmanCoder(const HuffmanTable& table) {
        uint32_t code = 0;
        size_t next = 0;
        for (int length = 1; length <= 16; ++length, code <<= 1) {
            for (int i = 0; i < table.bits[length - 1]; ++i) {
                codes_[table.values[next++]] = Code{code++, length};
            }
        }
    }
    const Code& CodeOf(int symbol) const { return codes_[symbol]; }
    void Put(BitWriter& writer, int symbol) const {
        const Code& code = codes_[symbol];
        if (code.length == 0) {
            std::abort();  // the test asked for a symbol the table lacks
        }
        writer.PutCode(code.bits, code.length);
    }

private:
    std::array<Code, 256> codes_{};
};

// SSSS of T.81 Table F.1 / F.2: bits needed for |value|.
inline int MagnitudeCategory(int value) {
    int magnitude = std::abs(value);
    int size = 0;
    while (magnitude != 0) {
        ++size;
        magnitude >>= 1;
    }
    return size;
}

// The low `size` bits that follow a code: value, or value - 1 if negative.
inline void PutValueBits(BitWriter& writer, int value, int size) {
    writer.PutBits(static_cast<uint32_t>(value < 0 ? value - 1 : value) & ((1u << size) - 1u), size);
}

// Natural positions in zig-zag order, walked along the anti-diagonals.
inline std::array<int, 64> ZigZagOrder() {
    std::array<int, 64> order{};
    int next = 0;
    for (int diagonal = 0; diagonal < 15; ++diagonal) {
        for (int j = 0; j <= diagonal; ++j) {
            const int row = diagonal % 2 == 0 ? diagonal - j : j;
            const int column = diagonal - row;
            if (row < 8 && column < 8) {
                order[next++] = row * 8 + column;
            }
        }
    }
    return order;
}

// T.81 F.1.2.1 and F.1.2.2 for one block in natural order.
inline void EncodeSequentialBlock(BitWriter& writer, const int16_t* block, int& predictor,
                                  const HuffmanCoder& dc, const HuffmanCoder& ac) {
    static const std::array<int, 64> zigzag = ZigZagOrder();
    const int diff = block[0] - predictor;
    predictor = block[0];
    dc.Put(writer, MagnitudeCategory(diff));
    PutValueBits(writer, diff, MagnitudeCategory(diff));
    int run = 0;
    for (int k = 1; k < 64; ++k) {
        const int value = block[zigzag[k]];
        if (value == 0) {
            ++run;
            continue;
        }
        for (; run > 15; run -= 16) {
            ac.Put(writer, 0xF0);
        }
        const int size = MagnitudeCategory(value);
        ac.Put(writer, (run << 4) | size);
        PutValueBits(writer, value, size);
        run = 0;
    }
    if (run > 0) {
        ac.Put(writer, 0x00);
    }
}

// T.81 G.1.2.2: first scans of an AC band, blocks whose band ends in zeros
// gathered into EOB runs. Values are in units of the scan (already divided
// by 2^Al).
class ProgressiveAcEncoder {
public:
    ProgressiveAcEncoder(BitWriter& writer, const HuffmanCoder& ac) : writer_(writer), ac_(ac) {}

    void EncodeBlock(const int16_t* bandInZigZag, int ss, int se) {
        int run = 0;
        for (int k = ss; k <= se; ++k) {
            const int value = bandInZigZag[k];
            if (value == 0) {
                ++run;
                continue;
            }
            FlushEobRun();
            for (; run > 15; run -= 16) {
                ac_.Put(writer_, 0xF0);
            }
            const int size = MagnitudeCategory(value);
            ac_.Put(writer_, (run << 4) | size);
            PutValueBits(writer_, value, size);
            run = 0;
        }
        if (run > 0 && ++eobRun_ == 0x7FFF) {
            FlushEobRun();
        }
    }

    void FlushEobRun() {
        if (eobRun_ == 0) {
            return;
        }
        int r = 0;
        while ((eobRun_ >> (r + 1)) != 0) {
            ++r;
        }
        ac_.Put(writer_, r << 4);
        writer_.PutBits(static_cast<uint32_t>(eobRun_ - (1 << r)), r);
        eobRun_ = 0;
    }

private:
    BitWriter& writer_;
    const HuffmanCoder& ac_;
    int eobRun_ = 0;
};

struct TableDeleter {
    void operator()(HuffmanDecodeTable* table) const { FreeChecked(table); }
};
using DecodeTablePtr = std::unique_ptr<HuffmanDecodeTable, TableDeleter>;

// Builds a decode table that must build without error (aborts otherwise).
inline DecodeTablePtr BuildTable(const HuffmanTable& definition) {
    HuffmanDecodeTable* table = nullptr;
    if (BuildHuffmanDecodeTable(definition.bits.data(), definition.values.data(), &table) != PrimOk) {
        std::abort();
    }
    return DecodeTablePtr(table);
}

}  // namespace testing_support
