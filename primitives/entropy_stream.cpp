#include "primitives/entropy_stream.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "primitives/bit_reader.h"
#include "primitives/huffman.h"

namespace {

// The offset of the first 0xFF byte in bytes[0, count), or count: sixteen
// bytes at a time where SSE2 is part of the target, since the bytes before
// the next 0xFF of entropy-coded data are a few hundred on average, too few
// for the C library's search to repay its start.
int32_t FindFF(const uint8_t* bytes, int32_t count) {
    int32_t i = 0;
#if defined(__SSE2__)
    const __m128i ff = _mm_set1_epi8(static_cast<char>(0xFF));
    for (; i + 16 <= count; i += 16) {
        const int mask = _mm_movemask_epi8(
            _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i)), ff));
        if (mask != 0) return i + __builtin_ctz(static_cast<unsigned>(mask));
    }
#endif
    for (; i < count; ++i) {
        if (bytes[i] == 0xFF) return i;
    }
    return count;
}

// How far one search for the next 0xFF looks ahead: far enough for many
// refills, and bounded so that a block primitive, which knows nothing of
// earlier searches, does not look through the whole source on every call.
constexpr int32_t kPlainSearchBytes = 256;

ReadAhead ReadAheadFor(const uint8_t* source, int32_t size) {
    return size > 0 && source[size - 1] == 0xFF ? ReadAheadByteWise : ReadAheadWide;
}

}  // namespace

void EntropyStream::Attach(const uint8_t* source, int32_t size) {
    m_source = source;
    m_sourceSize = source != nullptr && size > 0 ? size : 0;
    m_position = 0;
    m_pendingMarker = 0;
    m_plainEnd = -1;
    m_readAhead = ReadAheadFor(m_source, m_sourceSize);
    m_skippedBytes = 0;
    ResetBits();
}

void EntropyStream::StepBack(int32_t count) {
    m_position -= count;
    m_plainEnd = -1;  // the bytes stepped over were never searched
}

bool EntropyStream::FindMarker() {
    for (;;) {
        if (m_position >= m_sourceSize) {
            return false;
        }
        // Entropy-coded data holds a stuffed 0xFF every few hundred bytes.
        m_position += FindFF(m_source + m_position, m_sourceSize - m_position);
        if (m_position >= m_sourceSize) {
            return false;
        }
        ++m_position;
        const int32_t next = TakeAfterFF();
        if (next < 0) {
            return false;
        }
        if (next != 0) {
            m_pendingMarker = next;
            return true;
        }
    }
}

bool EntropyStream::SkipDataTo(int32_t target) {
    if (m_pendingMarker != 0 || target > m_sourceSize) return false;
    JumpTo(m_position);
    while (m_position < target) {
        const void* found = std::memchr(m_source + m_position, 0xFF, static_cast<size_t>(target - m_position));
        if (found == nullptr) {
            m_position = target;
            break;
        }
        m_position = static_cast<int32_t>(static_cast<const uint8_t*>(found) - m_source) + 1;
        const int32_t afterFF = m_position;
        if (TakeAfterFF() != 0) return false;  // a marker, or the end of the data
        m_skippedBytes += m_position - afterFF;
    }
    return m_position < m_sourceSize;
}

namespace huffman_internal {

EntropyStream LoadEntropyStream(const uint8_t* src, int32_t srcLength, const int32_t* position,
                                const int32_t* marker, const HuffmanState* state) {
    EntropyStream stream;
    stream.m_source = src;
    stream.m_sourceSize = srcLength;
    stream.m_position = *position;
    stream.m_pendingMarker = *marker;
    // The state's low bitCount bits (0..32) are the unread ones.
    stream.m_bitCount = state->bitCount;
    stream.m_bitBuffer = state->bitCount > 0 ? uint64_t{state->bitBuffer} << (64 - state->bitCount) : 0;
    stream.m_eobRun = state->eobRun;
    stream.m_plainEnd = -1;
    stream.m_readAhead = ReadAheadByteWise;
    stream.m_skippedBytes = 0;
    return stream;
}

void StoreEntropyStream(const EntropyStream& stream, int32_t* position, int32_t* marker,
                        HuffmanState* state) {
    *position = stream.m_position;
    *marker = stream.m_pendingMarker;
    state->bitBuffer = stream.m_bitCount > 0 ? static_cast<uint32_t>(stream.m_bitBuffer >> (64 - stream.m_bitCount)) : 0;
    state->bitCount = stream.m_bitCount;
    state->eobRun = stream.m_eobRun;
}

PrimitiveStatus FillBytes(EntropyStream* stream, int32_t fillTarget, int32_t need) {
    EntropyStream& s = *stream;
    if (s.m_pendingMarker != 0) {
        return need > s.m_bitCount ? PrimErrBadHuffmanCode : PrimOk;
    }
    while (s.m_bitCount < fillTarget) {
        const int32_t wanted = (fillTarget + 7 - s.m_bitCount) >> 3;
        if (s.m_plainEnd > s.m_position) {
            TakePlainBytes(s, wanted < s.m_plainEnd - s.m_position ? wanted : s.m_plainEnd - s.m_position);
            continue;
        }
        if (s.m_position >= s.m_sourceSize) {
            return need > s.m_bitCount ? PrimErrSourceExhausted : PrimOk;
        }
        const uint8_t byte = s.m_source[s.m_position++];
        if (byte == 0xFF) {
            // 0xFF 0x00 is a stuffed data byte; further 0xFF bytes are fill;
            // anything else is a marker, which ends the entropy-coded data.
            const int32_t afterFF = s.m_position;
            const int32_t next = s.TakeAfterFF();
            s.m_skippedBytes += s.m_position - afterFF;
            if (next < 0) {
                return PrimErrSourceExhausted;  // a lone 0xFF ends the source
            }
            if (next != 0) {
                ++s.m_skippedBytes;  // the marker's 0xFF is no data either
                s.m_pendingMarker = next;
                return PrimOk;
            }
        }
        s.m_bitBuffer |= uint64_t{byte} << (56 - s.m_bitCount);
        s.m_bitCount += 8;
        // What lies ahead up to the next 0xFF can be loaded in bulk.
        const int32_t loadable = s.m_sourceSize - 7;
        if (s.m_position < loadable) {
            const int32_t searchEnd = loadable - s.m_position < kPlainSearchBytes
                                          ? loadable
                                          : s.m_position + kPlainSearchBytes;
            s.m_plainEnd = s.m_position + FindFF(s.m_source + s.m_position, searchEnd - s.m_position);
        }
    }
    return PrimOk;
}

}  // namespace huffman_internal
