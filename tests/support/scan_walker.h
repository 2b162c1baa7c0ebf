// Test-side driver of the entropy primitives over a whole one-component JPEG
// stream (as libjpeg writes it: no restart intervals): reads the DHT and SOS
// segments, and runs the block primitive each scan calls for.
#pragma once

#include <cstdint>
#include <vector>

#include "primitives/huffman.h"
#include "primitives/progressive_huffman.h"
#include "support/huffman_encoder.h"

namespace testing_support {

// A Huffman table as a DHT segment defines it: class 0 DC, 1 AC.
struct DefinedTable {
    int tableClass;
    int id;
    HuffmanTable definition;
};

struct WalkResult {
    std::vector<DefinedTable> tables;    // every DHT table, in stream order
    std::vector<int16_t> coefficients;
    int32_t firstFailure = PrimOk;   // status of the first failing block primitive
};

inline WalkResult WalkGreyStream(const std::vector<uint8_t>& jpeg, int blocksWide, int blocksHigh) {
    WalkResult result;
    result.coefficients.assign(static_cast<size_t>(blocksWide) * blocksHigh * 64, 0);
    DecodeTablePtr tables[2][4];
    HuffmanState state{};
    size_t at = 2;  // after SOI
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xD9) {
        const uint8_t code = jpeg[at + 1];
        const size_t length = (size_t{jpeg[at + 2]} << 8) | jpeg[at + 3];
        const uint8_t* segment = &jpeg[at + 4];
        at += 2 + length;
        if (code == 0xC4) {
            for (const uint8_t* p = segment; p < segment + length - 2;) {
                DefinedTable table{*p >> 4, *p & 15, {}};
                size_t count = 0;
                for (int i = 0; i < 16; ++i) {
                    table.definition.bits[i] = p[1 + i];
                    count += p[1 + i];
                }
                table.definition.values.assign(p + 17, p + 17 + count);
                p += 17 + count;
                tables[table.tableClass][table.id] = BuildTable(table.definition);
                result.tables.push_back(table);
            }
        }
        if (code != 0xDA) {
            continue;
        }
        const HuffmanDecodeTable* dc = tables[0][segment[2] >> 4].get();
        const HuffmanDecodeTable* ac = tables[1][segment[2] & 15].get();
        const int ss = segment[3], se = segment[4], ah = segment[5] >> 4, al = segment[5] & 15;
        int32_t position = static_cast<int32_t>(at);
        int32_t marker = 0;
        int16_t predictor = 0;
        ResetHuffmanState(&state);
        const uint8_t* src = jpeg.data();
        const int32_t size = static_cast<int32_t>(jpeg.size());
        for (int b = 0; b < blocksWide * blocksHigh && result.firstFailure == PrimOk; ++b) {
            int16_t* block = &result.coefficients[static_cast<size_t>(b) * 64];
            PrimitiveStatus status;
            if (ss == 0 && se == 63) {
                status = DecodeSequentialBlock(src, size, &position, block, &predictor, &marker, dc, ac, &state);
            } else if (ss == 0) {
                status = ah == 0 ? DecodeProgressiveDcBlock(src, size, &position, block, &predictor, &marker, al, dc, &state)
                                 : RefineProgressiveDcBlock(src, size, &position, block, &marker, al, &state);
            } else {
                status = ah == 0 ? DecodeProgressiveAcBlock(src, size, &position, block, &marker, ss, se, al, ac, &state)
                                 : RefineProgressiveAcBlock(src, size, &position, block, &marker, ss, se, al, ac, &state);
            }
            result.firstFailure = status;
        }
        // The refill may have consumed the marker after the scan already.
        at = static_cast<size_t>(marker != 0 ? position - 2 : position);
        while (marker == 0 && at + 1 < jpeg.size() && !(jpeg[at] == 0xFF && jpeg[at + 1] != 0 && jpeg[at + 1] != 0xFF)) {
            ++at;
        }
    }
    return result;
}

}  // namespace testing_support
