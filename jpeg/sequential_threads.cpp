// A sequential frame shared between the threads lent to the decoder.
//
// Every thread takes MCU rows in order, one at a time, into its own slot of
// row buffers: it decodes the row's entropy-coded data, reconstructs its
// blocks into the slot's band, and converts the band's lines into the
// destination. The entropy-coded data is one stream, so rows are decoded one
// after the other: a thread decodes its row once the row before is decoded,
// while the other threads reconstruct and convert theirs. When restart
// intervals start on MCU rows, the threads take runs of rows between
// restart markers instead and decode them at the same time.
//
// The picture is the one a single thread makes, byte for byte:
// - 4:2:0 chroma of a band is filtered with the last chroma row of the band
//   above as its top border. A thread copies that row from the slot of the
//   band above once that band is reconstructed, and a slot is not reused
//   before the band below has taken its copy.
// - When a row fails to decode, no later row is converted (nor decoded, when
//   rows are decoded in order), and every row before it is: the destination
//   holds exactly the bands a single thread would have written.
//
// The threads share the schedule below under one mutex; each row's state is
// a byte of m_rowStates (what has happened to it) and one more byte (the
// slot holding it).
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "jpeg/color_stage.h"
#include "jpeg/component.h"
#include "jpeg/decoder.h"
#include "platform/threads.h"
#include "platform/worker_pool.h"
#include "primitives/upsample.h"

namespace {

// Bits of a row's state.
constexpr uint8_t kRowDecoded = 1;        // its blocks are decoded
constexpr uint8_t kRowReconstructed = 2;  // its band holds its samples, borders filled
constexpr uint8_t kRowCarryTaken = 4;     // the band below has its top border

}  // namespace

// What the threads sharing a frame know of each other.
struct CJPEGDecoder::RowSchedule {
    CJPEGDecoder* decoder;
    CMutex mutex;
    CConditionVariable changed;
    // Rows are taken one at a time (rowsPerUnit 0: one stream, decoded in
    // order), or a run of restart intervals at a time (rowsPerUnit rows, each
    // run decoded from its own copy of the stream).
    int32_t rowsPerUnit = 0;
    int32_t units = 0;
    int32_t nextRow = 0;      // the first row of the next row or run to take
    int32_t decodedRows = 0;  // every row below it is decoded
    int32_t failedRow;        // the first row that failed to decode, or the row count
    bool carries;             // 4:2:0: bands take their top border from the band above
    // Where the last run of restart intervals ended, for the marker loop.
    EntropyStream endStream = {};
    int16_t endPredictors[4] = {};
    int32_t endRestartsLeft = 0;

    uint8_t& State(int32_t row) { return decoder->m_rowStates[row]; }
    uint8_t& SlotOf(int32_t row) { return decoder->m_rowStates[decoder->m_mcuRows + row]; }

    // Waits, the mutex held, until `ready` holds.
    template <typename Ready>
    void WaitFor(Ready ready) {
        while (!ready()) changed.Wait(mutex);
    }
};

// The threads worth using for the current sequential frame: a conversion
// that works on the bands as they come (see ConvertsFromFullPlanes) and a
// frame large enough to share.
int32_t CJPEGDecoder::SequentialParticipants() {
    const RowConversion conversion = ChooseRowConversion();
    if (conversion == RowConversion::None || ConvertsFromFullPlanes(conversion) || m_mcuRows < 2) return 1;
    const int32_t participants = ParticipantsFor(int64_t{m_width} * m_height);
    return participants < m_mcuRows ? participants : m_mcuRows;
}

// Restart intervals that start on MCU rows let runs of rows be decoded at
// the same time, each from just after the restart marker that precedes it.
// A single thread takes, at the k-th restart boundary of the scan, the k-th
// marker after the scan header (its reads stop at every marker, and the
// search for one passes over nothing else), so the runs start where a single
// thread would go on. Returns the rows of a run and fills m_runStarts, or 0
// when the intervals do not fit the rows or give one run only. A run whose
// marker the data lacks starts at -1: a single thread fails there.
int32_t CJPEGDecoder::PlanRestartRuns() {
    int32_t rowsPerRun;
    if (m_restartInterval == 0) return 0;
    if (m_restartInterval % m_mcusPerRow == 0) {
        rowsPerRun = m_restartInterval / m_mcusPerRow;
    } else if (m_mcusPerRow % m_restartInterval == 0) {
        rowsPerRun = 1;
    } else {
        return 0;
    }
    const int32_t runs = (m_mcuRows + rowsPerRun - 1) / rowsPerRun;
    if (runs < 2) return 0;
    const int64_t intervalsPerRun = int64_t{rowsPerRun} * m_mcusPerRow / m_restartInterval;
    EntropyStream probe = m_stream;
    int64_t markers = 0;
    bool found = true;
    m_runStarts[0] = m_stream.m_position;
    for (int32_t run = 1; run < runs; ++run) {
        while (found && markers < run * intervalsPerRun) {
            found = probe.FindMarker();
            probe.ClearMarker();
            ++markers;
        }
        m_runStarts[run] = found ? probe.m_position : -1;
    }
    return rowsPerRun;
}

DecoderStatus CJPEGDecoder::DecodeRowsTogether() {
    RowSchedule schedule;
    schedule.decoder = this;
    schedule.failedRow = m_mcuRows;
    schedule.carries = m_samplingMode == SamplingHalfHV;
    schedule.rowsPerUnit = PlanRestartRuns();
    schedule.units = schedule.rowsPerUnit > 0 ? (m_mcuRows + schedule.rowsPerUnit - 1) / schedule.rowsPerUnit
                                              : m_mcuRows;
    for (int32_t row = 0; row < m_mcuRows; ++row) schedule.State(row) = 0;
    const int32_t status = m_workers->RunTogether(m_bandSlots, DecodeRowsTask, &schedule);
    if (status == PoolErrTooFewThreads) {
        // The system took threads away since the buffers were sized: one
        // thread does it all, in the first slot.
        return DecodeRowsAlone();
    }
    if (schedule.failedRow > 0) m_pictureWritten = true;
    if (schedule.failedRow < m_mcuRows) return DecErrFailed;
    if (schedule.rowsPerUnit > 0) {
        // The scan ends where its last run ended, as on a single thread.
        m_stream = schedule.endStream;
        for (int32_t i = 0; i < m_componentCount; ++i) m_components[i]->m_dcPredictor = schedule.endPredictors[i];
        m_restartsLeft = schedule.endRestartsLeft;
    }
    return DecOk;
}

int32_t CJPEGDecoder::DecodeRowsTask(void* context, int32_t slotIndex) {
    RowSchedule& schedule = *static_cast<RowSchedule*>(context);
    schedule.decoder->DecodeRowsInSlot(schedule, slotIndex);
    return 0;
}

// One thread's share: rows, or runs of rows, taken in order until none is
// left or a row before them has failed.
void CJPEGDecoder::DecodeRowsInSlot(RowSchedule& schedule, int32_t slotIndex) {
    int32_t previous = -1;  // the row last in this slot
    const bool runs = schedule.rowsPerUnit > 0;
    for (;;) {
        int32_t first, end, run = 0;
        {
            CMutexLock lock(schedule.mutex);
            if (schedule.nextRow >= schedule.failedRow) return;
            first = schedule.nextRow;
            end = runs ? std::min(first + schedule.rowsPerUnit, m_mcuRows) : first + 1;
            run = runs ? first / schedule.rowsPerUnit : 0;
            schedule.nextRow = end;
        }
        // A run decodes from its own stream, as a single thread would after
        // the restart marker before it (no thread decodes from the frame's
        // stream meanwhile); rows one at a time share the frame's.
        EntropyStream stream = {};
        int16_t predictors[4] = {};
        int32_t restartsLeft = 0;
        EntropyCursor cursor = FrameCursor();
        if (runs) {
            stream = m_stream;
            restartsLeft = m_restartsLeft;
            cursor = {&stream, {&predictors[0], &predictors[1], &predictors[2], &predictors[3]}, &restartsLeft,
                      m_restartInterval};
            if (run == 0) {
                for (int32_t i = 0; i < m_componentCount; ++i) predictors[i] = m_components[i]->m_dcPredictor;
            } else if (m_runStarts[run] >= 0) {
                stream.m_position = m_runStarts[run];
                stream.m_pendingMarker = 0;
                stream.m_plainEnd = -1;
                stream.ResetBits();
                restartsLeft = m_restartInterval;
            }
        }
        for (int32_t row = first; row < end; ++row) {
            if (!DecodeRowInSlot(schedule, slotIndex, cursor, row, runs && row == first && m_runStarts[run] < 0,
                                 previous)) {
                return;
            }
            previous = row;
        }
        if (runs && run == schedule.units - 1) {
            CMutexLock lock(schedule.mutex);
            schedule.endStream = stream;
            for (int32_t i = 0; i < 4; ++i) schedule.endPredictors[i] = predictors[i];
            schedule.endRestartsLeft = restartsLeft;
        }
    }
}

// Decodes, reconstructs and converts one row in this thread's slot; false
// when the thread is to stop (the row failed, or a row before it did).
// `markerMissing`: the run's restart marker is not in the data, so the row
// fails where a single thread's search for it fails.
bool CJPEGDecoder::DecodeRowInSlot(RowSchedule& schedule, int32_t slotIndex, const EntropyCursor& cursor,
                                   int32_t row, bool markerMissing, int32_t previous) {
    const BandSlot slot = SlotAt(slotIndex);
    const bool runs = schedule.rowsPerUnit > 0;
    if (!runs) {
        // One stream: decoded a row at a time, in order.
        CMutexLock lock(schedule.mutex);
        schedule.WaitFor([&] { return schedule.decodedRows == row || schedule.failedRow < row; });
        if (schedule.failedRow < row) return false;
    }
    const bool decoded = !markerMissing && EntropyDecodeRow(slot, cursor) == DecOk;
    {
        CMutexLock lock(schedule.mutex);
        if (!decoded) {
            if (row < schedule.failedRow) schedule.failedRow = row;
            schedule.changed.WakeAll();
            return false;
        }
        schedule.State(row) |= kRowDecoded;
        while (schedule.decodedRows < m_mcuRows && (schedule.State(schedule.decodedRows) & kRowDecoded) != 0) {
            ++schedule.decodedRows;
        }
        schedule.changed.WakeAll();
        // This slot's band is about to be overwritten: the band below the
        // previous row must have its top border first, unless it is this
        // very row, which takes it from here now.
        // (A row that fails never takes it; no row after it is converted.)
        if (schedule.carries && previous >= 0 && previous + 1 < row) {
            schedule.WaitFor([&] {
                return (schedule.State(previous + 1) & kRowCarryTaken) != 0 || schedule.failedRow <= previous + 1;
            });
            if (schedule.failedRow < row) return false;
        }
    }
    const bool carryFromOwnSlot = schedule.carries && previous >= 0 && previous + 1 == row;
    if (carryFromOwnSlot) CopyTopBorder(slot, slot);
    InverseTransformRow(slot);
    FinishBandBorders(slot);
    BandSlot above = {};
    {
        CMutexLock lock(schedule.mutex);
        schedule.SlotOf(row) = static_cast<uint8_t>(slotIndex);
        schedule.State(row) |= kRowReconstructed;
        if (carryFromOwnSlot) schedule.State(row) |= kRowCarryTaken;
        schedule.changed.WakeAll();
        if (schedule.carries && row > 0 && !carryFromOwnSlot) {
            schedule.WaitFor([&] {
                return (schedule.State(row - 1) & kRowReconstructed) != 0 || schedule.failedRow < row;
            });
            if (schedule.failedRow < row) return false;
            above = SlotAt(schedule.SlotOf(row - 1));
        }
    }
    if (schedule.carries && !carryFromOwnSlot) {
        CopyTopBorder(row > 0 ? above : slot, slot, row == 0);
        CMutexLock lock(schedule.mutex);
        schedule.State(row) |= kRowCarryTaken;
        schedule.changed.WakeAll();
    }
    {
        // Only once every row above is decoded: a row below a failing one
        // is never converted.
        CMutexLock lock(schedule.mutex);
        schedule.WaitFor([&] { return schedule.decodedRows > row || schedule.failedRow < row; });
        if (schedule.failedRow < row) return false;
    }
    ConvertBand(row, slot);
    return true;
}

// The border columns of the half-resolution chroma of a reconstructed band,
// and for 4:2:0 the row below its data, which repeats the last (the band
// below is filtered separately, with its own rows).
void CJPEGDecoder::FinishBandBorders(const BandSlot& slot) {
    const int32_t halfWidth = m_paddedWidth / 2;
    const int32_t step = halfWidth + 2;
    for (int32_t i = 0; i < m_componentCount; ++i) {
        if (!IsHalfChroma(i)) continue;
        uint8_t* bordered = slot.bordered[i];
        if (m_components[i]->m_vUpsample == 1) {
            FillBorderColumns(bordered, step, m_mcuSizeY, halfWidth);
            continue;
        }
        const int32_t dataRows = m_mcuSizeY / 2;
        uint8_t* lastRow = bordered + static_cast<ptrdiff_t>(dataRows) * step;
        FillBorderColumns(bordered + step, step, dataRows, halfWidth);
        CopyBytes(lastRow, lastRow + step, step);
    }
}

// The row above a 4:2:0 band's chroma data: the last data row of the band
// above, in slot `above` (which may be `slot` itself, its data not yet
// overwritten), or for the first band its own first data row.
void CJPEGDecoder::CopyTopBorder(const BandSlot& above, const BandSlot& slot, bool firstBand) {
    const int32_t step = m_paddedWidth / 2 + 2;
    const int32_t dataRows = m_mcuSizeY / 2;
    for (int32_t i = 0; i < m_componentCount; ++i) {
        if (!IsHalfChroma(i)) continue;
        const uint8_t* source = firstBand ? slot.bordered[i] + step : above.bordered[i] + static_cast<ptrdiff_t>(dataRows) * step;
        CopyBytes(source, slot.bordered[i], step);
    }
}
