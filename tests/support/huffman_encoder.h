// Test-side Huffman encoding of entropy-coded data: a bit writer with the
// byte stuffing of T.81 F.1.2.3, the codes of a DHT-style table (Annex C)
// and the sequential block encoding of F.1.2. The writer also notes every
// read a decoder will make (+n for an n-bit code, -n for n value bits).
// Decoding tests hold a Stream and build their tables with BuildTable.
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <memory>
#include <vector>

#include "primitives/huffman.h"
#include "primitives/memory.h"
#include "support/jpeg_stream.h"

namespace wemb_test {

using wemb_test::HuffmanCodeLengths;
using wemb_test::kZigzagToNatural;

class BitWriter {
public:
    void PutBits(uint32_t value, int count) {
        if (count > 0) reads_.push_back(-count);
        Write(value, count);
    }
    void PutCode(uint32_t code, int length) {
        reads_.push_back(length);
        Write(code, length);
    }
    // Pads the last byte with 1 bits, then appends `raw` (markers, fill bytes) as it is.
    void PutRawBytes(std::initializer_list<uint8_t> raw) {
        while (filled_ != 0) Write(1, 1);
        bytes_.insert(bytes_.end(), raw);
    }
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    const std::vector<int>& reads() const { return reads_; }

private:
    void Write(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            current_ = static_cast<uint8_t>((current_ << 1) | ((value >> i) & 1u));
            if (++filled_ < 8) continue;
            bytes_.push_back(current_);
            if (current_ == 0xFF) bytes_.push_back(0x00);
            current_ = 0;
            filled_ = 0;
        }
    }

    std::vector<uint8_t> bytes_;
    std::vector<int> reads_;
    uint8_t current_ = 0;
    int filled_ = 0;
};

// SSSS of T.81 Table F.1 / F.2: bits needed for |value|.
inline int MagnitudeCategory(int value) {
    int size = 0;
    for (int magnitude = std::abs(value); magnitude != 0; magnitude >>= 1) ++size;
    return size;
}

// Codes counting up within a length and doubling from one length to the
// next (T.81 Figure C.2 in one loop).
class HuffmanCoder {
public:
    explicit HuffmanCoder(const HuffmanCodeLengths& table) {
        uint32_t code = 0;
        size_t next = 0;
        for (int length = 1; length <= 16; ++length, code <<= 1)
            for (int i = 0; i < table.counts[length - 1]; ++i) codes_[table.values[next++]] = {code++, length};
    }
    // The code of `symbol`, then the low `size` bits of `value` (value - 1 if
    // negative), size being the symbol's low four bits unless given.
    void Put(BitWriter& writer, int symbol, int value = 0, int size = -1) const {
        if (codes_[symbol].length == 0) std::abort();  // the test asked for a symbol the table lacks
        writer.PutCode(codes_[symbol].bits, codes_[symbol].length);
        if (size < 0) size = symbol & 0x0F;
        writer.PutBits(static_cast<uint32_t>(value < 0 ? value - 1 : value) & ((1u << size) - 1u), size);
    }
    // A DC difference: its category as the symbol.
    void PutDc(BitWriter& writer, int diff) const { Put(writer, MagnitudeCategory(diff), diff); }

private:
    struct Code {
        uint32_t bits = 0;
        int length = 0;  // 0: the symbol has no code
    };
    std::array<Code, 256> codes_{};
};

// T.81 F.1.2.1 and F.1.2.2 for one block in natural order.
inline void EncodeSequentialBlock(BitWriter& writer, const int16_t* block, int& predictor,
                                  const HuffmanCoder& dc, const HuffmanCoder& ac) {
    dc.PutDc(writer, block[0] - predictor);
    predictor = block[0];
    int run = 0;
    for (int k = 1; k < 64; ++k) {
        const int value = block[kZigzagToNatural[k]];
        if (value == 0) {
            ++run;
            continue;
        }
        for (; run > 15; run -= 16) ac.Put(writer, 0xF0);
        ac.Put(writer, (run << 4) | MagnitudeCategory(value), value);
        run = 0;
    }
    if (run > 0) ac.Put(writer, 0x00);
}

// An AC table for progressive scans, which need EOBn symbols (0x10 .. 0xE0)
// that the Annex K tables lack: every run/size of sizes 1..10, ZRL and
// EOB0..EOB14, 176 symbols with lengths 2 to 13 (Kraft sum below 1).
inline HuffmanCodeLengths ProgressiveAcTable() {
    HuffmanCodeLengths table{{0, 2, 1, 2, 2, 2, 2, 4, 8, 16, 32, 64, 41, 0, 0, 0}, {0x00}};
    for (int size = 1; size <= 10; ++size)
        for (int run = 0; run < 16; ++run) table.values.push_back(static_cast<uint8_t>((run << 4) | size));
    table.values.push_back(0xF0);
    for (int r = 1; r <= 14; ++r) table.values.push_back(static_cast<uint8_t>(r << 4));
    return table;
}

// The caller-held variables of one entropy-coded stream.
struct Stream {
    std::vector<uint8_t> bytes;
    int32_t position = 0, marker = 0;
    HuffmanState state{};
    int32_t length() const { return static_cast<int32_t>(bytes.size()); }
    // The bit buffer's unread bits only: those above them are not part of
    // the state.
    uint32_t unreadBits() const {
        return state.bitCount <= 0 ? 0 : state.bitBuffer & (0xFFFFFFFFu >> (32 - state.bitCount));
    }
    std::vector<int64_t> variables() const { return {position, marker, unreadBits(), state.bitCount, state.eobRun}; }
};

struct TableDeleter {
    void operator()(HuffmanDecodeTable* table) const { FreeChecked(table); }
};
using DecodeTablePtr = std::unique_ptr<HuffmanDecodeTable, TableDeleter>;

// A decode table that must build without error (aborts otherwise).
inline DecodeTablePtr BuildTable(const HuffmanCodeLengths& definition) {
    HuffmanDecodeTable* table = nullptr;
    if (BuildHuffmanDecodeTable(definition.counts.data(), definition.values.data(), &table) != PrimOk) std::abort();
    return DecodeTablePtr(table);
}

}  // namespace wemb_test
