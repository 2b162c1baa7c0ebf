// A sequential frame shared between the threads lent to the decoder.
//
// A row's work is to decode its entropy-coded data into its slot of row
// buffers, reconstruct its blocks into the slot's band, and convert the
// band's lines into the destination. The entropy-coded data is one stream:
// one thread decodes it row after row into a ring of slots, while the
// others reconstruct and convert the rows it has decoded; without restart
// markers a second thread decodes the stream ahead meanwhile, and the rows
// after the point where the two meet come from its buffers
// (sequential_ahead.cpp). When restart intervals start on MCU rows, the
// threads take runs of rows between restart markers instead, each into its
// own slot, and decode them at the same time.
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
// The threads share a schedule (row_schedule.h) under one mutex; each row's
// state is a byte of m_rowStates (what has happened to it) and one more byte
// (the slot holding it).
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "jpeg/color_stage.h"
#include "jpeg/component.h"
#include "jpeg/decoder.h"
#include "jpeg/row_schedule.h"
#include "platform/threads.h"
#include "platform/worker_pool.h"
#include "primitives/upsample.h"

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
// thread would go on. Returns the rows of a run and starts the search for
// the markers (FindRunStart), or 0 when the intervals do not fit the rows or
// give one run only.
int32_t CJPEGDecoder::PlanRestartRuns(RowSchedule& schedule) {
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
    schedule.intervalsPerRun = int64_t{rowsPerRun} * m_mcusPerRow / m_restartInterval;
    schedule.markerSearch = m_stream;
    m_runStarts[0] = m_stream.m_position;
    return rowsPerRun;
}

// Sets m_runStarts[run], under the schedule's mutex, for the runs taken in
// order: the search goes on from the previous run's marker, so the data is
// searched once, a run at a time, while the threads decode the runs before.
// A run whose marker the data lacks starts at -1: a single thread fails
// there.
void CJPEGDecoder::FindRunStart(RowSchedule& schedule, int32_t run) {
    if (run == 0) return;
    EntropyStream& search = schedule.markerSearch;
    while (schedule.markerFound && schedule.markersPassed < run * schedule.intervalsPerRun) {
        schedule.markerFound = search.FindMarker();
        search.ClearMarker();
        ++schedule.markersPassed;
    }
    m_runStarts[run] = schedule.markerFound ? search.m_position : -1;
}

DecoderStatus CJPEGDecoder::DecodeRowsTogether() {
    RowSchedule schedule;
    schedule.decoder = this;
    schedule.failedRow = m_mcuRows;
    schedule.carries = m_samplingMode == SamplingHalfHV;
    schedule.slots = m_bandSlots;
    schedule.rowsPerUnit = PlanRestartRuns(schedule);
    schedule.units = schedule.rowsPerUnit > 0 ? (m_mcuRows + schedule.rowsPerUnit - 1) / schedule.rowsPerUnit
                                              : m_mcuRows;
    for (int32_t row = 0; row < m_mcuRows; ++row) schedule.State(row) = 0;
    const int32_t threads = m_bandSlots / kSlotsPerThread;
    if (schedule.rowsPerUnit == 0) PrepareAhead(schedule, threads);
    const int32_t status = m_workers->RunTogether(
        threads, schedule.rowsPerUnit > 0 ? DecodeRunsTask : DecodeRowsInOrderTask, &schedule);
    if (status == PoolErrTooFewThreads) {
        // The system took threads away since the buffers were sized: one
        // thread does it all, in the first slot.
        return DecodeRowsAlone();
    }
    if (schedule.ahead) FinishAhead(schedule);
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

// Rows in order: one thread (the first) decodes the stream row after row into
// a ring of slots, never handing the stream to another thread, and the
// others reconstruct and convert the rows it has decoded, in order. The
// decoding thread works on a row itself when the ring is full. A slot takes
// a new row once its row is converted and the row below has its top border.
int32_t CJPEGDecoder::DecodeRowsInOrderTask(void* context, int32_t participant) {
    RowSchedule& schedule = *static_cast<RowSchedule*>(context);
    if (participant == 0) {
        schedule.decoder->DecodeRowsInOrder(schedule);
        return 0;
    }
    if (participant == 1 && schedule.ahead) schedule.decoder->DecodeAhead(schedule);
    schedule.decoder->ConvertRowsInOrder(schedule);
    return 0;
}

bool CJPEGDecoder::SlotFree(RowSchedule& schedule, int32_t row) {
    const int32_t before = row - schedule.slots;  // the row the slot held last
    if (before < 0) return true;
    if ((schedule.State(before) & row_state::kConverted) == 0) return false;
    return !schedule.carries || before + 1 >= m_mcuRows || (schedule.State(before + 1) & row_state::kCarryTaken) != 0;
}

void CJPEGDecoder::DecodeRowsInOrder(RowSchedule& schedule) {
    const EntropyCursor cursor = FrameCursor();
    int64_t largestRowBits = 0;
    bool joined = false;  // the rows after this one come from the ahead thread
    for (int32_t row = 0; row < m_mcuRows && !joined; ++row) {
        {
            CMutexLock lock(schedule.mutex);
            while (!SlotFree(schedule, row)) {
                if (schedule.nextJob < schedule.decodedRows) {
                    const int32_t job = schedule.nextJob++;
                    schedule.mutex.Unlock();
                    ConvertRow(schedule, job);
                    schedule.mutex.Lock();
                } else {
                    schedule.changed.Wait(schedule.mutex);
                }
            }
        }
        const BandSlot slot = SlotAt(row % schedule.slots);
        const int64_t rowStart = m_stream.DataBitPosition();
        // A row that may reach the ahead thread's records is decoded MCU by MCU.
        const bool decoded = schedule.ahead && MayMeetAhead(schedule, rowStart + 2 * largestRowBits)
                                 ? DecodeRowWatching(schedule, slot, cursor, row, &joined)
                                 : EntropyDecodeRow(slot, cursor) == DecOk;
        largestRowBits = std::max(largestRowBits, m_stream.DataBitPosition() - rowStart);
        CMutexLock lock(schedule.mutex);
        if (!decoded) {
            schedule.failedRow = row;
            joined = false;
            break;
        }
        schedule.State(row) |= row_state::kDecoded;
        schedule.decodedRows = row + 1;
        schedule.joinRowDone = joined;
        if (joined) PublishAheadRows(schedule);
        schedule.changed.WakeAll();
    }
    if (!joined) {
        CMutexLock lock(schedule.mutex);
        schedule.decodingDone = true;
        schedule.aheadStop.store(true, std::memory_order_release);
        schedule.changed.WakeAll();
    }
    ConvertRowsInOrder(schedule);
}

// Takes the decoded rows in order and reconstructs and converts them, until
// no row is left to decode.
void CJPEGDecoder::ConvertRowsInOrder(RowSchedule& schedule) {
    for (;;) {
        int32_t job;
        {
            CMutexLock lock(schedule.mutex);
            schedule.WaitFor([&] { return schedule.nextJob < schedule.decodedRows || schedule.decodingDone; });
            if (schedule.nextJob >= schedule.decodedRows) return;
            job = schedule.nextJob++;
        }
        ConvertRow(schedule, job);
    }
}

// Reconstructs and converts decoded row `row` in its slot of the ring.
void CJPEGDecoder::ConvertRow(RowSchedule& schedule, int32_t row) {
    const BandSlot slot = RowSlot(schedule, row);
    InverseTransformRow(slot);
    FinishBandBorders(slot);
    BandSlot above = {};
    {
        CMutexLock lock(schedule.mutex);
        schedule.State(row) |= row_state::kReconstructed;
        schedule.changed.WakeAll();
        if (schedule.carries && row > 0) {
            // The row above was taken before this one and is decoded: it
            // will be reconstructed.
            schedule.WaitFor([&] { return (schedule.State(row - 1) & row_state::kReconstructed) != 0; });
            above = SlotAt((row - 1) % schedule.slots);
        }
    }
    if (schedule.carries) {
        CopyTopBorder(row > 0 ? above : slot, slot, row == 0);
        CMutexLock lock(schedule.mutex);
        schedule.State(row) |= row_state::kCarryTaken;
        schedule.changed.WakeAll();
    }
    ConvertBand(row, slot);
    CMutexLock lock(schedule.mutex);
    schedule.State(row) |= row_state::kConverted;
    schedule.changed.WakeAll();
}

// Runs of restart intervals: every thread takes runs in order, each into its
// own slot, and decodes, reconstructs and converts their rows.
int32_t CJPEGDecoder::DecodeRunsTask(void* context, int32_t slotIndex) {
    RowSchedule& schedule = *static_cast<RowSchedule*>(context);
    schedule.decoder->DecodeRunsInSlot(schedule, slotIndex);
    return 0;
}

// One thread's share: runs of rows, taken in order until none is left or a
// row before them has failed. A run decodes from its own stream, as a single
// thread would after the restart marker before it.
void CJPEGDecoder::DecodeRunsInSlot(RowSchedule& schedule, int32_t slotIndex) {
    int32_t previous = -1;  // the row last in this slot
    for (;;) {
        int32_t first, end, run;
        {
            CMutexLock lock(schedule.mutex);
            if (schedule.nextRow >= schedule.failedRow) return;
            first = schedule.nextRow;
            end = std::min(first + schedule.rowsPerUnit, m_mcuRows);
            run = first / schedule.rowsPerUnit;
            schedule.nextRow = end;
            FindRunStart(schedule, run);
        }
        EntropyStream stream = m_stream;
        int16_t predictors[4] = {};
        int32_t restartsLeft = m_restartsLeft;
        const EntropyCursor cursor = {&stream, {&predictors[0], &predictors[1], &predictors[2], &predictors[3]},
                                      &restartsLeft, m_restartInterval, nullptr};
        if (run == 0) {
            for (int32_t i = 0; i < m_componentCount; ++i) predictors[i] = m_components[i]->m_dcPredictor;
        } else if (m_runStarts[run] >= 0) {
            stream.JumpTo(m_runStarts[run]);
            restartsLeft = m_restartInterval;
        }
        for (int32_t row = first; row < end; ++row) {
            if (!DecodeRowInSlot(schedule, slotIndex, cursor, row, row == first && m_runStarts[run] < 0, previous)) {
                return;
            }
            previous = row;
        }
        if (run == schedule.units - 1) {
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
    const bool decoded = !markerMissing && EntropyDecodeRow(slot, cursor) == DecOk;
    {
        CMutexLock lock(schedule.mutex);
        if (!decoded) {
            if (row < schedule.failedRow) schedule.failedRow = row;
            schedule.changed.WakeAll();
            return false;
        }
        schedule.State(row) |= row_state::kDecoded;
        while (schedule.decodedRows < m_mcuRows && (schedule.State(schedule.decodedRows) & row_state::kDecoded) != 0) {
            ++schedule.decodedRows;
        }
        schedule.changed.WakeAll();
        // This slot's band is about to be overwritten: the band below the
        // previous row must have its top border first, unless it is this
        // very row, which takes it from here now.
        // (A row that fails never takes it; no row after it is converted.)
        if (schedule.carries && previous >= 0 && previous + 1 < row) {
            schedule.WaitFor([&] {
                return (schedule.State(previous + 1) & row_state::kCarryTaken) != 0 ||
                       schedule.failedRow <= previous + 1;
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
        schedule.State(row) |= row_state::kReconstructed;
        if (carryFromOwnSlot) schedule.State(row) |= row_state::kCarryTaken;
        schedule.changed.WakeAll();
        if (schedule.carries && row > 0 && !carryFromOwnSlot) {
            schedule.WaitFor([&] {
                return (schedule.State(row - 1) & row_state::kReconstructed) != 0 || schedule.failedRow < row;
            });
            if (schedule.failedRow < row) return false;
            above = SlotAt(schedule.SlotOf(row - 1));
        }
    }
    if (schedule.carries && !carryFromOwnSlot) {
        CopyTopBorder(row > 0 ? above : slot, slot, row == 0);
        CMutexLock lock(schedule.mutex);
        schedule.State(row) |= row_state::kCarryTaken;
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
    const int32_t step = BandChromaStep();
    const int32_t dataRows = m_mcuSizeY / 2;
    for (int32_t i = 0; i < m_componentCount; ++i) {
        if (!IsHalfChroma(i)) continue;
        const uint8_t* source = firstBand ? slot.bordered[i] + step : above.bordered[i] + static_cast<ptrdiff_t>(dataRows) * step;
        CopyBytes(source, slot.bordered[i], step);
    }
}
