// The entropy decoder's refill rules (when FillBits is called, and with what
// `need`) replayed over the public byte-wise FillBits: given the reads a
// BitWriter noted (code lengths and value bit counts), it tracks where
// position, marker and the bit buffer must stand, independently of the block
// decoders' inline reader.
#pragma once

#include <cstdint>
#include <vector>

#include "primitives/huffman.h"

namespace testing_support {

class RefillModel {
public:
    explicit RefillModel(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}

    // Replays reads [from, to) of `reads`.
    void Replay(const std::vector<int>& reads, size_t from, size_t to) {
        for (size_t i = from; i < to; ++i) {
            if (reads[i] > 0) {
                Code(reads[i]);
            } else {
                Fill(-reads[i], -reads[i]);
                state.bitCount += reads[i];
            }
        }
    }

    int32_t position = 0;
    int32_t marker = 0;
    HuffmanState state{};

private:
    // DECODE: refill below 8 bits; codes of up to 8 bits come from the
    // lookup; longer ones take 9 bits (or 1 bit when fewer than 8 are held)
    // and then one bit at a time.
    void Code(int length) {
        Fill(8, 0);
        if (state.bitCount >= 8 && length <= 8) {
            state.bitCount -= length;
            return;
        }
        const int first = state.bitCount >= 8 ? 9 : 1;
        Fill(first, first);
        state.bitCount -= first;
        for (int taken = first; taken < length; ++taken) {
            Fill(1, 1);
            state.bitCount -= 1;
        }
    }

    // FillBits(need) when fewer than `below` bits are held.
    void Fill(int below, int need) {
        if (state.bitCount < below) {
            FillBits(bytes_.data(), static_cast<int32_t>(bytes_.size()), &position, &marker, need, &state);
        }
    }

    const std::vector<uint8_t>& bytes_;
};

}  // namespace testing_support
