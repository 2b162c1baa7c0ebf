// Decoding ahead. A sequential scan without restart markers is one stream of
// variable-length codes: where an MCU starts in it is known only by decoding
// everything before it. Yet Huffman codes fall back into step: a decoder
// started at an arbitrary byte decodes garbage for a few codes and then, as
// a rule within a few MCUs, stands where the true decoding stands at the
// start of an MCU. From there on it decodes exactly what the true decoding
// does, except that its DC predictions differ by a constant per component.
//
// So while the in-order thread decodes the frame from its first MCU (and its
// rows are reconstructed and converted), the ahead thread decodes from a
// byte well into the data, keeping every MCU it decodes and, before each,
// a record of its stream and DC predictions. When the in-order thread, at
// the start of one of its MCUs, stands at the data-bit position of a
// record, the two have met: every MCU the ahead thread decoded from that
// record on is the frame's, once the difference of the predictions there is
// added to its DC coefficients. The in-order thread stops decoding; the rows
// after the meeting point are reconstructed and converted from the ahead
// thread's buffers by every thread, as the ahead thread goes on to the end
// of the frame.
//
// The picture is the one a single thread makes, byte for byte, whatever the
// data: records are compared on the exact position, and two decoders that
// stand at the same position at the start of an MCU decode the same codes
// from the same bits, fail where the other fails and meet the same markers
// and end of data. If the two never meet (damaged data, or an ahead thread
// that fails where the in-order one never gets), the in-order thread decodes
// the whole frame, as it does without the ahead thread.
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "jpeg/component.h"
#include "jpeg/decoder.h"
#include "jpeg/row_schedule.h"
#include "primitives/huffman.h"
#include "primitives/memory.h"

namespace {

constexpr int32_t kBlockCoefficients = 64;
constexpr int64_t kBlockBytes = kBlockCoefficients * sizeof(int16_t);

// MCUs the ahead thread decodes from a start before it publishes records: a
// start that fails sooner was no MCU's, and it starts again past the failure.
constexpr int32_t kWarmUpMcus = 8;
// MCUs the ahead buffers hold beyond the frame's. The in-order thread joins
// record r at frame MCU m only when r - m is at most this, so that from any
// meeting point the buffers reach the frame's last MCU.
constexpr int32_t kSpareMcus = 64;
// Less data than this is decoded sooner than the ahead thread would start.
constexpr int32_t kMinimumDataBytes = 16 * 1024;
// Larger frames keep to the in-order decoding rather than take this much.
constexpr int64_t kMaximumBlockBytes = int64_t{256} << 20;
// Where the ahead thread starts, in percent of the data. With two threads
// the in-order one also reconstructs and converts the rows it decodes,
// about half again its decoding time, so it takes the smaller share.
constexpr int32_t kStartPercentOfTwo = 38;
constexpr int32_t kStartPercentOfMore = 50;

// Hosts count on a record of at most 64 bytes for each MCU.
static_assert(sizeof(CJPEGDecoder::AheadRecord) <= 64, "a record of the ahead thread fits 64 bytes");

std::atomic<int32_t> g_startPercent{0};  // test hook; 0 = automatic
std::atomic<int64_t> g_joins{0};         // meetings so far, for the tests

int16_t AddModulo16(int16_t a, int16_t b) {
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint16_t>(a) + static_cast<uint16_t>(b)));
}

}  // namespace

void CJPEGDecoder::DecodeAheadFrom(int32_t percent) {
    g_startPercent.store(percent > 0 && percent < 100 ? percent : 0, std::memory_order_relaxed);
}

int64_t CJPEGDecoder::AheadMeetings() { return g_joins.load(std::memory_order_relaxed); }

// Decides whether a thread decodes ahead in this frame, shared by
// `participants` threads, and if so sizes its buffers and finds its start.
bool CJPEGDecoder::PrepareAhead(RowSchedule& schedule, int32_t participants) {
    const int32_t forcedPercent = g_startPercent.load(std::memory_order_relaxed);
    const int32_t dataBytes = m_stream.m_sourceSize - m_stream.m_position;
    if (participants < 2 || m_restartInterval != 0 || m_stream.m_readAhead != ReadAheadWide) return false;
    if (forcedPercent == 0 && dataBytes < kMinimumDataBytes) return false;
    const int64_t mcus = int64_t{m_mcusPerRow} * m_mcuRows + kSpareMcus;
    const int64_t blockBytes = mcus * m_blocksPerMcu * kBlockBytes;
    if (blockBytes > kMaximumBlockBytes) return false;
    if (m_aheadBlocksCapacity < blockBytes) {
        // The blocks are all zero between frames: a new buffer starts so.
        if (!ReserveAligned(m_aheadBlocks, m_aheadBlocksCapacity, blockBytes)) return false;
        ZeroBytes(m_aheadBlocks, static_cast<int32_t>(blockBytes));
    }
    if (!ReserveAligned(m_aheadExtents, m_aheadExtentsCapacity, mcus * m_blocksPerMcu) ||
        !ReserveAligned(m_aheadRecords, m_aheadRecordsCapacity, (mcus + 1) * int64_t{sizeof(AheadRecord)})) {
        return false;
    }
    m_aheadMcus = static_cast<int32_t>(mcus);
    const int32_t percent = forcedPercent != 0 ? forcedPercent
                                               : participants == 2 ? kStartPercentOfTwo : kStartPercentOfMore;
    schedule.aheadStream = m_stream;
    const int32_t start = m_stream.m_position + static_cast<int32_t>(int64_t{dataBytes} * percent / 100);
    if (!schedule.aheadStream.SkipDataTo(start)) {
        return false;  // the scan's data ends before
    }
    schedule.aheadFirstBit = schedule.aheadStream.DataBitPosition();
    schedule.ahead = true;
    return true;
}

// The ahead thread: decodes MCU after MCU from its start, recording the state
// before each, until the frame's last MCU once the in-order thread has
// joined it, a failure, its buffers' end, or the frame no longer needing it.
void CJPEGDecoder::DecodeAhead(RowSchedule& schedule) {
    EntropyStream stream = schedule.aheadStream;
    int16_t predictors[4] = {};
    const EntropyCursor cursor = {&stream, {&predictors[0], &predictors[1], &predictors[2], &predictors[3]},
                                  nullptr, 0, nullptr};
    SequentialMcuLayout layout;
    const bool ready = FillMcuLayout(cursor, &layout);
    const ptrdiff_t mcuCoefficients = ptrdiff_t{m_blocksPerMcu} * kBlockCoefficients;
    const int32_t frameMcus = m_mcusPerRow * m_mcuRows;
    int32_t count = 0;  // MCUs decoded
    int32_t runStart = stream.m_position;  // where decoding last started
    int32_t endRecord = m_aheadMcus;  // the frame's last MCU ends at this record, once joined
    bool publishing = false;
    bool joined = false;  // seen to be
    while (ready) {
        AheadRecord& record = m_aheadRecords[count];
        record.stream = stream;
        std::memcpy(record.predictors, predictors, sizeof(predictors));
        if (publishing) schedule.aheadRecords.store(count + 1, std::memory_order_release);
        if (schedule.aheadStop.load(std::memory_order_acquire)) break;
        if (!joined && schedule.joined.load(std::memory_order_acquire)) {
            CMutexLock lock(schedule.mutex);
            joined = true;
            endRecord = schedule.joinRecord + frameMcus - schedule.joinMcu;
            PublishAheadRows(schedule);
        } else if (joined && (count - endRecord) % m_mcusPerRow == 0) {
            CMutexLock lock(schedule.mutex);  // a frame row is complete
            PublishAheadRows(schedule);
        }
        if (count >= endRecord) break;
        int16_t* blocks = m_aheadBlocks + count * mcuCoefficients;
        if (DecodeSequentialMcus(&stream, &layout, 1, blocks, m_aheadExtents + ptrdiff_t{count} * m_blocksPerMcu) < 0) {
            ZeroBytes(blocks, static_cast<int32_t>(mcuCoefficients * sizeof(int16_t)));  // written in part
            if (publishing) break;  // the frame fails there, if the two meet before
            // Garbage so far: start again where the failure left the stream.
            ZeroAheadMcus(0, count);
            count = 0;
            std::memset(predictors, 0, sizeof(predictors));
            const int32_t failedAt = stream.m_position;
            if (stream.m_pendingMarker != 0 || failedAt >= stream.m_sourceSize || failedAt <= runStart) break;
            stream.JumpTo(failedAt);
            runStart = failedAt;
            continue;
        }
        ++count;
        publishing = publishing || count >= kWarmUpMcus;
    }
    if (!publishing) ZeroAheadMcus(0, count);
    CMutexLock lock(schedule.mutex);
    schedule.aheadEnded = true;
    PublishAheadRows(schedule);
}

// Whether a record may lie at or before `reach`, a data-bit position.
bool CJPEGDecoder::MayMeetAhead(RowSchedule& schedule, int64_t reach) const {
    const int32_t records = schedule.aheadRecords.load(std::memory_order_acquire);
    const int64_t first = records > 0 ? m_aheadRecords[0].stream.DataBitPosition() : schedule.aheadFirstBit;
    return reach >= first;
}

// The published record at data-bit position `position`, or -1. Positions
// only grow, on both sides, so the search goes on from where it stopped.
int32_t CJPEGDecoder::FindAheadRecord(RowSchedule& schedule, int64_t position) const {
    const int32_t records = schedule.aheadRecords.load(std::memory_order_acquire);
    int32_t& index = schedule.searchIndex;
    while (index < records && m_aheadRecords[index].stream.DataBitPosition() < position) ++index;
    return index < records && m_aheadRecords[index].stream.DataBitPosition() == position ? index : -1;
}

// Decodes row `row` MCU by MCU, looking for a record at the start of each.
// Once one is found the rest of the row comes from the ahead buffers and
// *joined is set. False when the row fails to decode.
bool CJPEGDecoder::DecodeRowWatching(RowSchedule& schedule, const BandSlot& slot, const EntropyCursor& cursor,
                                     int32_t row, bool* joined) {
    SequentialMcuLayout layout;
    if (!FillMcuLayout(cursor, &layout)) return false;
    for (int32_t mcu = 0; mcu < m_mcusPerRow; ++mcu) {
        const int32_t record = FindAheadRecord(schedule, cursor.stream->DataBitPosition());
        if (record >= 0 && record - (row * m_mcusPerRow + mcu) <= kSpareMcus) {
            *joined = true;
            return JoinAhead(schedule, slot, row, mcu, record);
        }
        const ptrdiff_t first = ptrdiff_t{mcu} * m_blocksPerMcu;
        if (DecodeSequentialMcus(cursor.stream, &layout, 1, slot.blocks + first * kBlockCoefficients,
                                 slot.extents + first) < 0) {
            return false;
        }
    }
    return true;
}

// The meeting: MCU `mcu` of row `row` is the MCU of record `record`. Takes
// the rest of the row from the ahead buffers, once the ahead thread has
// decoded it; false when it fails first.
bool CJPEGDecoder::JoinAhead(RowSchedule& schedule, const BandSlot& slot, int32_t row, int32_t mcu,
                             int32_t record) {
    const int32_t first = row * m_mcusPerRow + mcu;
    const int32_t rowEnd = first - mcu + m_mcusPerRow;
    int32_t available;
    {
        CMutexLock lock(schedule.mutex);
        schedule.joinMcu = first;
        schedule.joinRecord = record;
        schedule.joinRow = row;
        const AheadRecord& met = m_aheadRecords[record];
        for (int32_t i = 0; i < m_componentCount; ++i) {
            const int16_t negated = static_cast<int16_t>(-met.predictors[i]);
            schedule.joinOffsets[i] = AddModulo16(m_components[i]->m_dcPredictor, negated);
        }
        schedule.joined.store(true, std::memory_order_release);
        g_joins.fetch_add(1, std::memory_order_relaxed);
        schedule.WaitFor([&] { return AheadFrameMcus(schedule) >= rowEnd || schedule.aheadEnded; });
        available = std::min(rowEnd, AheadFrameMcus(schedule));
        schedule.joinCopied = available - first;
    }
    const ptrdiff_t mcuCoefficients = ptrdiff_t{m_blocksPerMcu} * kBlockCoefficients;
    for (int32_t k = 0; k < available - first; ++k) {
        int16_t* from = m_aheadBlocks + (record + k) * mcuCoefficients;
        int16_t* to = slot.blocks + (mcu + k) * mcuCoefficients;
        // Taken whole, and zeroed behind: the slot's block is all zero.
        std::memcpy(to, from, static_cast<size_t>(mcuCoefficients) * sizeof(int16_t));
        std::memset(from, 0, static_cast<size_t>(mcuCoefficients) * sizeof(int16_t));
        std::memcpy(slot.extents + ptrdiff_t{mcu + k} * m_blocksPerMcu,
                    m_aheadExtents + ptrdiff_t{record + k} * m_blocksPerMcu, static_cast<size_t>(m_blocksPerMcu));
    }
    AddDcOffsets(slot.blocks + mcu * mcuCoefficients, available - first, schedule.joinOffsets);
    return available == rowEnd;
}

// Frame MCUs the ahead buffers hold from the meeting point on (the mutex
// held, once joined).
int32_t CJPEGDecoder::AheadFrameMcus(const RowSchedule& schedule) const {
    const int32_t records = schedule.aheadRecords.load(std::memory_order_acquire);
    return schedule.joinMcu + (records - 1 - schedule.joinRecord);
}

// Once the meeting row is done, every row the ahead buffers hold whole is
// decoded; when the ahead thread has ended, so is the decoding, and a frame
// MCU it did not reach failed there. The mutex held.
void CJPEGDecoder::PublishAheadRows(RowSchedule& schedule) {
    if (schedule.joined.load(std::memory_order_relaxed) && schedule.joinRowDone) {
        const int32_t frameMcus = AheadFrameMcus(schedule);
        if (schedule.aheadEnded) {
            if (frameMcus < m_mcusPerRow * m_mcuRows) {
                schedule.failedRow = std::min(schedule.failedRow, frameMcus / m_mcusPerRow);
            }
            schedule.decodingDone = true;
        }
        const int32_t rows = std::min(std::min(frameMcus / m_mcusPerRow, m_mcuRows), schedule.failedRow);
        for (; schedule.decodedRows < rows; ++schedule.decodedRows) {
            schedule.State(schedule.decodedRows) |= row_state::kDecoded;
        }
    }
    schedule.changed.WakeAll();
}

// The buffers of decoded row `row`: its ring slot, whose blocks the ahead
// buffers replace after the meeting row (their DC coefficients then put
// right). A row after the meeting row waits for its slot to be free.
CJPEGDecoder::BandSlot CJPEGDecoder::RowSlot(RowSchedule& schedule, int32_t row) {
    BandSlot slot = SlotAt(row % schedule.slots);
    if (!schedule.ahead) return slot;
    int32_t first;
    {
        CMutexLock lock(schedule.mutex);
        if (!schedule.joined.load(std::memory_order_relaxed) || row <= schedule.joinRow) return slot;
        schedule.WaitFor([&] { return SlotFree(schedule, row); });
        first = schedule.joinRecord + row * m_mcusPerRow - schedule.joinMcu;
    }
    slot.blocks = m_aheadBlocks + ptrdiff_t{first} * m_blocksPerMcu * kBlockCoefficients;
    slot.extents = m_aheadExtents + ptrdiff_t{first} * m_blocksPerMcu;
    AddDcOffsets(slot.blocks, m_mcusPerRow, schedule.joinOffsets);
    return slot;
}

void CJPEGDecoder::AddDcOffsets(int16_t* blocks, int32_t mcuCount, const int16_t* offsets) const {
    int16_t blockOffsets[kMaxBlocksPerMcu];
    for (int32_t b = 0; b < m_blocksPerMcu; ++b) blockOffsets[b] = offsets[BlockComponent(b)];
    for (int32_t mcu = 0; mcu < mcuCount; ++mcu) {
        for (int32_t b = 0; b < m_blocksPerMcu; ++b, blocks += kBlockCoefficients) {
            blocks[0] = AddModulo16(blocks[0], blockOffsets[b]);
        }
    }
}

// Zeroes back MCUs [first, end) of the ahead buffers, by their extents.
void CJPEGDecoder::ZeroAheadMcus(int32_t first, int32_t end) const {
    for (int32_t mcu = first; mcu < end; ++mcu) {
        for (int32_t b = 0; b < m_blocksPerMcu; ++b) {
            const ptrdiff_t block = ptrdiff_t{mcu} * m_blocksPerMcu + b;
            ZeroBackBlock(m_aheadBlocks + block * kBlockCoefficients, m_aheadExtents[block]);
        }
    }
}

// After the threads: zeroes back what the rows did not take from the ahead
// buffers and, when the frame was decoded to its end through them, leaves
// the stream and DC predictions where the ahead thread passed that end.
void CJPEGDecoder::FinishAhead(RowSchedule& schedule) {
    const int32_t records = schedule.aheadRecords.load(std::memory_order_relaxed);
    const int32_t decoded = records > 0 ? records - 1 : 0;
    if (!schedule.joined.load(std::memory_order_relaxed)) {
        ZeroAheadMcus(0, decoded);
        return;
    }
    const int32_t convertedRows = std::min(schedule.failedRow, m_mcuRows);
    int32_t takenEnd = schedule.joinRecord + schedule.joinCopied;
    if (convertedRows > schedule.joinRow + 1) takenEnd += (convertedRows - schedule.joinRow - 1) * m_mcusPerRow;
    ZeroAheadMcus(0, schedule.joinRecord);
    ZeroAheadMcus(takenEnd, decoded);
    if (schedule.failedRow < m_mcuRows) return;
    const AheadRecord& end = m_aheadRecords[schedule.joinRecord + m_mcusPerRow * m_mcuRows - schedule.joinMcu];
    m_stream = end.stream;
    for (int32_t i = 0; i < m_componentCount; ++i) {
        m_components[i]->m_dcPredictor = AddModulo16(end.predictors[i], schedule.joinOffsets[i]);
    }
}
