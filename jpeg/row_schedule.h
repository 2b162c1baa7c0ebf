// What the threads sharing a sequential frame know of each other: the rows'
// states and, when a second thread decodes the entropy-coded data ahead of
// the first (sequential_ahead.cpp), where the two meet.
#pragma once

#include <atomic>
#include <cstdint>

#include "jpeg/decoder.h"
#include "platform/threads.h"

namespace row_state {

// Bits of a row's state.
constexpr uint8_t kDecoded = 1;        // its blocks are decoded
constexpr uint8_t kReconstructed = 2;  // its band holds its samples, borders filled
constexpr uint8_t kCarryTaken = 4;     // the band below has its top border
constexpr uint8_t kConverted = 8;      // its lines are in the destination

}  // namespace row_state

struct CJPEGDecoder::RowSchedule {
    CJPEGDecoder* decoder;
    CMutex mutex;
    CConditionVariable changed;
    // Rows are taken one at a time (rowsPerUnit 0: one stream, decoded in
    // order), or a run of restart intervals at a time (rowsPerUnit rows, each
    // run decoded from its own copy of the stream).
    int32_t rowsPerUnit = 0;
    int32_t units = 0;
    int32_t nextRow = 0;      // runs: the first row of the next run to take
    int32_t nextJob = 0;      // rows in order: the next decoded row to reconstruct
    int32_t decodedRows = 0;  // every row below it is decoded
    int32_t failedRow;        // the first row that failed to decode, or the row count
    bool decodingDone = false;  // rows in order: no row is decoded any more
    bool carries;             // 4:2:0: bands take their top border from the band above
    int32_t slots;            // rows in order: the ring of slots rows take turns in
    // Runs: the search for the restart marker each run starts after. Runs
    // are taken in order, and the thread that takes one carries the search
    // on to its marker.
    EntropyStream markerSearch = {};
    int64_t markersPassed = 0;
    bool markerFound = true;
    int64_t intervalsPerRun = 0;
    // Where the last run of restart intervals ended, for the marker loop.
    EntropyStream endStream = {};
    int16_t endPredictors[4] = {};
    int32_t endRestartsLeft = 0;

    // Decoding ahead. The ahead thread publishes its records (the state
    // before each MCU it decodes) by raising aheadRecords; a record once
    // published never changes. Fields without an atomic type are the
    // mutex's.
    bool ahead = false;             // a thread decodes ahead in this frame
    EntropyStream aheadStream = {};  // where it starts
    int64_t aheadFirstBit = 0;       // the data-bit position there: no record lies before it
    std::atomic<int32_t> aheadRecords{0};
    std::atomic<bool> aheadStop{false};    // the frame no longer needs the ahead thread
    int32_t searchIndex = 0;        // the in-order thread's place in the records
    bool aheadEnded = false;        // the ahead thread decodes no more
    // Where the in-order thread met the records: frame MCU joinMcu is the
    // MCU of record joinRecord, in row joinRow; the DC predictions there
    // differ by joinOffsets (per component, modulo 2^16). `joined` is set
    // under the mutex once they are, and atomic for the ahead thread to poll.
    std::atomic<bool> joined{false};
    bool joinRowDone = false;       // the in-order thread has finished row joinRow
    int32_t joinMcu = 0;
    int32_t joinRecord = 0;
    int32_t joinRow = 0;
    int32_t joinCopied = 0;         // MCUs of the ahead buffers copied into row joinRow
    int16_t joinOffsets[4] = {};

    uint8_t& State(int32_t row) { return decoder->m_rowStates[row]; }
    uint8_t& SlotOf(int32_t row) { return decoder->m_rowStates[decoder->m_mcuRows + row]; }

    // Waits, the mutex held, until `ready` holds.
    template <typename Ready>
    void WaitFor(Ready ready) {
        while (!ready()) changed.Wait(mutex);
    }
};
