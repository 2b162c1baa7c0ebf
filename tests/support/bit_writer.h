// Test-side writer of entropy-coded data: bits most significant first, a
// 0x00 stuffed after every 0xFF data byte, 1 bits as padding, and raw bytes
// (markers, fill bytes) appended as they are. It also notes every read a
// decoder will make: +n for an n-bit Huffman code, -n for n value bits.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace testing_support {

class BitWriter {
public:
    void PutBits(uint32_t value, int count) {
        if (count > 0) {
            reads_.push_back(-count);
        }
        WriteBits(value, count);
    }

    void PutCode(uint32_t code, int length) {
        reads_.push_back(length);
        WriteBits(code, length);
    }

    // Pads the last byte with 1 bits.
    void Flush() {
        while (bitsInCurrent_ != 0) {
            current_ = static_cast<uint8_t>((current_ << 1) | 1u);
            if (++bitsInCurrent_ == 8) {
                EmitDataByte();
            }
        }
    }

    void PutRawBytes(std::initializer_list<uint8_t> raw) {
        Flush();
        bytes_.insert(bytes_.end(), raw);
    }

    // Data bits written so far, padding excluded.
    int64_t bitsWritten() const { return bitsWritten_; }
    const std::vector<uint8_t>& bytes() const { return bytes_; }
    const std::vector<int>& reads() const { return reads_; }

private:
    void WriteBits(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            current_ = static_cast<uint8_t>((current_ << 1) | ((value >> i) & 1u));
            ++bitsInCurrent_;
            ++bitsWritten_;
            if (bitsInCurrent_ == 8) {
                EmitDataByte();
            }
        }
    }

    void EmitDataByte() {
        bytes_.push_back(current_);
        if (current_ == 0xFF) {
            bytes_.push_back(0x00);
        }
        current_ = 0;
        bitsInCurrent_ = 0;
    }

    std::vector<uint8_t> bytes_;
    std::vector<int> reads_;
    uint8_t current_ = 0;
    int bitsInCurrent_ = 0;
    int64_t bitsWritten_ = 0;
};

}  // namespace testing_support
