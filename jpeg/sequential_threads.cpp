// A sequential frame shared between the threads lent to the decoder.
//
// Every thread takes MCU rows in order, one at a time, into its own slot of
// row buffers: it decodes the row's entropy-coded data, reconstructs its
// blocks into the slot's band, and converts the band's lines into the
// destination. The entropy-coded data is one stream, so rows are decoded one
// after the other: a thread decodes its row once the row before is decoded,
// while the other threads reconstruct and convert theirs.
//
// The picture is the one a single thread makes, byte for byte:
// - 4:2:0 chroma of a band is filtered with the last chroma row of the band
//   above as its top border. A thread copies that row from the slot of the
//   band above once that band is reconstructed, and a slot is not reused
//   before the band below has taken its copy.
// - When a row fails to decode, no later row is decoded, and every row
//   before it is converted: the destination holds exactly the bands a
//   single thread would have written.
//
// The threads share the schedule below under one mutex; each row's state is
// a byte of m_rowStates (what has happened to it) and one more byte (the
// slot holding it).
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
constexpr uint8_t kRowReconstructed = 1;  // its band holds its samples, borders filled
constexpr uint8_t kRowCarryTaken = 2;     // the band below has its top border

}  // namespace

// What the threads sharing a frame know of each other.
struct CJPEGDecoder::RowSchedule {
    CJPEGDecoder* decoder;
    CMutex mutex;
    CConditionVariable changed;
    int32_t nextRow = 0;      // the next row a thread may take
    int32_t decodedRows = 0;  // rows decoded so far, in order
    int32_t failedRow;        // the row that failed to decode, or the row count
    bool carries;             // 4:2:0: bands take their top border from the band above

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

DecoderStatus CJPEGDecoder::DecodeRowsTogether() {
    RowSchedule schedule;
    schedule.decoder = this;
    schedule.failedRow = m_mcuRows;
    schedule.carries = m_samplingMode == SamplingHalfHV;
    for (int32_t row = 0; row < m_mcuRows; ++row) schedule.State(row) = 0;
    const int32_t status = m_workers->RunTogether(m_bandSlots, DecodeRowsTask, &schedule);
    if (status == PoolErrTooFewThreads) {
        // The system took threads away since the buffers were sized: one
        // thread does it all, in the first slot.
        return DecodeRowsAlone();
    }
    if (schedule.failedRow > 0) m_pictureWritten = true;
    return schedule.failedRow < m_mcuRows ? DecErrFailed : DecOk;
}

int32_t CJPEGDecoder::DecodeRowsTask(void* context, int32_t slotIndex) {
    RowSchedule& schedule = *static_cast<RowSchedule*>(context);
    schedule.decoder->DecodeRowsInSlot(schedule, slotIndex);
    return 0;
}

void CJPEGDecoder::DecodeRowsInSlot(RowSchedule& schedule, int32_t slotIndex) {
    const BandSlot slot = SlotAt(slotIndex);
    int32_t previous = -1;  // the row last in this slot
    for (;;) {
        int32_t row;
        {
            CMutexLock lock(schedule.mutex);
            if (schedule.nextRow >= schedule.failedRow) return;
            row = schedule.nextRow++;
            // The stream is decoded a row at a time, in order.
            schedule.WaitFor([&] { return schedule.decodedRows == row || schedule.failedRow < row; });
            if (schedule.failedRow < row) return;
        }
        const bool decoded = EntropyDecodeRow(slot) == DecOk;
        {
            CMutexLock lock(schedule.mutex);
            if (!decoded) {
                schedule.failedRow = row;
                schedule.changed.WakeAll();
                return;
            }
            schedule.decodedRows = row + 1;
            schedule.changed.WakeAll();
            // This slot's band is about to be overwritten: the band below
            // the previous row must have its top border first, unless it is
            // this very row, which takes it from here now.
            if (schedule.carries && previous >= 0 && previous + 1 < row) {
                schedule.WaitFor([&] { return (schedule.State(previous + 1) & kRowCarryTaken) != 0; });
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
                schedule.WaitFor([&] { return (schedule.State(row - 1) & kRowReconstructed) != 0; });
                above = SlotAt(schedule.SlotOf(row - 1));
            }
        }
        if (schedule.carries && !carryFromOwnSlot) {
            CopyTopBorder(row > 0 ? above : slot, slot, row == 0);
            CMutexLock lock(schedule.mutex);
            schedule.State(row) |= kRowCarryTaken;
            schedule.changed.WakeAll();
        }
        ConvertBand(row, slot);
        previous = row;
    }
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
