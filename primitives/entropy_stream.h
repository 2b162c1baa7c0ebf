// The compressed frame as one stream object: the source bytes, the read
// position, the marker met and not yet handled, and the entropy decoder's bit
// buffer. The decoder owns one; its marker loop reads segments through it and
// its scans decode entropy-coded data from it, so that every rule about the
// bytes (byte stuffing, fill bytes, markers, the end of the data) lives here
// and in the bit reader built on it (bit_reader.h), once.
//
// Entropy-coded data is read ahead into a 64-bit buffer, several bytes at a
// time where no 0xFF byte lies in the way. What a scan decodes, and where it
// fails, depends only on the bits before the next marker or the end of the
// data and on how many bits each read asks for, never on how far ahead the
// buffer was filled, with one exception: a source whose last byte is 0xFF
// fails the moment a refill reaches that byte, whatever the bits asked for.
// Such a source is read byte by byte into 25 to 32 bits, the refill the
// block primitives of huffman.h define, so that it fails where they do.
#pragma once

#include <cstdint>

#include "primitives/status.h"

// How far a refill reads ahead.
enum ReadAhead : int32_t {
    ReadAheadWide = 0,      // up to 64 bits, several bytes at a time
    ReadAheadByteWise = 1,  // up to 32 bits: byte by byte to at least 25
};

struct EntropyStream {
    const uint8_t* m_source;  // the whole compressed frame; not owned
    int32_t m_sourceSize;
    int32_t m_position;       // offset of the next byte to read
    int32_t m_pendingMarker;  // code of a marker read and not yet handled; 0 = none
    int32_t m_bitCount;       // unread bits in m_bitBuffer, 0..64
    // The top m_bitCount bits are unread, the next one in bit 63; the bits
    // below them are zero. Bits are taken by shifting the buffer left.
    uint64_t m_bitBuffer;
    int32_t m_eobRun;         // progressive AC scans: blocks an EOB run still covers
    // No byte in [m_position, m_plainEnd) is 0xFF, and m_plainEnd is at
    // most m_sourceSize - 7, so that eight bytes can be loaded from any
    // position before it. Nothing is known when m_plainEnd <= m_position.
    // Moving m_position forward keeps it true.
    int32_t m_plainEnd;
    ReadAhead m_readAhead;
    // Bytes read so far that carry no bits of entropy-coded data: the 0x00
    // of a stuffed 0xFF, fill bytes and markers. With it, DataBitPosition
    // names a place in the data whatever the reads ahead have buffered.
    int32_t m_skippedBytes;

    // The bits of entropy-coded data taken so far (skipped bytes left out),
    // counted from the start of the source: two streams reading the same
    // data that stand at the same position read the same bits next.
    int64_t DataBitPosition() const {
        return int64_t{m_position - m_skippedBytes} * 8 - m_bitCount;
    }

    // Reads `size` bytes from `source` (null reads as empty) from the first
    // byte on, with no marker pending and the bit buffer empty.
    void Attach(const uint8_t* source, int32_t size);

    // Byte access for marker segments. TakeByte and TakeWord do not test
    // the end of the data; HasBytes does.
    bool HasBytes(int32_t count) const {
        return m_position >= 0 && m_position <= m_sourceSize && m_sourceSize - m_position >= count;
    }
    int32_t TakeByte() { return m_source[m_position++]; }
    int32_t TakeWord() {
        const int32_t word = (m_source[m_position] << 8) | m_source[m_position + 1];
        m_position += 2;
        return word;
    }
    // Moves back by `count` bytes (0 <= count <= m_position).
    void StepBack(int32_t count);

    // Searches from m_position for the next marker (0xFF, any fill bytes,
    // then a code other than 0x00) and stores its code in m_pendingMarker;
    // false when the data ends first. A stuffed 0xFF 0x00 is passed over.
    bool FindMarker();
    void ClearMarker() { m_pendingMarker = 0; }

    // Takes the marker that ends a restart interval: the one pending, or else
    // the next in the data, whatever its code. False when the data ends first.
    bool TakeIntervalEndMarker() {
        if (m_pendingMarker == 0 && !FindMarker()) return false;
        ClearMarker();
        return true;
    }

    // Drops every buffered bit and the EOB run: the start of a scan or of a
    // restart interval.
    void ResetBits() {
        m_bitBuffer = 0;
        m_bitCount = 0;
        m_eobRun = 0;
    }

    // Goes on at `position`, a byte of entropy-coded data found earlier, with
    // `marker` pending (0 for none) and no bits buffered.
    void JumpTo(int32_t position, int32_t marker = 0) {
        m_position = position;
        m_pendingMarker = marker;
        m_plainEnd = -1;
        ResetBits();
    }

    // From a place in entropy-coded data where no bits are buffered (the
    // start of a scan), moves on to the first byte at or after `target`
    // that starts a data byte, with no bits buffered and the stuffing passed
    // over counted in m_skippedBytes. False when a marker or the end of the
    // data comes first.
    bool SkipDataTo(int32_t target);

    // The rule after a 0xFF byte, m_position just past it: passes over fill
    // bytes (further 0xFF) and takes the byte after them. Returns 0 for a
    // stuffed 0xFF 0x00, the code of a marker, or -1 when the data ends first.
    int32_t TakeAfterFF() {
        for (;;) {
            if (m_position >= m_sourceSize) return -1;
            const int32_t next = m_source[m_position++];
            if (next != 0xFF) return next;
        }
    }
};
