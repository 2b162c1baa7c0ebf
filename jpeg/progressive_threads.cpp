// The scans of a progressive frame decoded on several threads at once.
//
// When a frame is shared between threads, the data pass does not decode a
// progressive scan where it meets it: it notes the scan (its header, the
// tables it names, where its data starts) and goes on after the scan's
// data, to the next segment. The noted scans are decoded together before
// the picture is built (at the end of the frame, or at a later frame
// header), each from its own copy of the stream:
// - Scans of the same kind (DC or AC) that share a component keep their
//   order, MCU row by MCU row: a scan waits until those before it are done
//   with the MCU row it is about to decode. A DC scan and an AC scan touch
//   different coefficients of a block (an AC scan never reads the DC
//   coefficient), so they do not wait for each other: a frame's last
//   refinement of the luma's AC coefficients can run beside the refinement
//   of its DC coefficients. A DC first scan waits for the whole of every
//   earlier scan, whose restart boundaries decide the DC predictions it
//   carries on.
// - The data pass goes on exactly where it would after decoding the scan:
//   a scan's reads stop at markers and its restart boundaries take the
//   markers that come next, so the next segment is the first marker that is
//   not a restart marker after the scan's restart markers. When the data
//   does not have that shape (a restart marker missing, or another marker in
//   its place, or no marker at all), the noted scans are decoded and the rest
//   of the frame goes on one scan at a time, as on a single thread.
// - A scan that fails leaves what it decoded, as on a single thread; the
//   scans after it see its blocks as final.
#include <algorithm>
#include <climits>
#include <cstdint>

#include "jpeg/component.h"
#include "jpeg/decoder.h"
#include "jpeg/huffman_table.h"
#include "platform/threads.h"
#include "platform/worker_pool.h"

namespace {

constexpr int32_t kScanFinished = INT32_MAX;  // progress of a scan that will touch no block again

bool IsRestartMarker(int32_t code) { return code >= 0xD0 && code <= 0xD7; }

}  // namespace

// What the threads decoding the noted scans share: each scan's progress
// (the MCU rows it has finished, kScanFinished once it touches no block).
struct CJPEGDecoder::ScanSchedule {
    CJPEGDecoder* decoder;
    CMutex mutex;
    CConditionVariable changed;
    int32_t nextScan = 0;
    int32_t waiting = 0;
    int32_t progress[kMaxDeferredScans] = {};
};

// One scan's place in the schedule: the earlier scans it follows row by
// row.
struct CJPEGDecoder::ScanWaits {
    ScanSchedule* schedule;
    int32_t scan;
    int32_t followed[kMaxDeferredScans];
    int32_t followedCount;
};

// Whether the scans of this frame are noted and decoded together: a frame
// large enough to share, with threads lent.
bool CJPEGDecoder::DefersScans() {
    if (m_scanDeferral == ScanDeferral::Undecided) {
        const bool share = ParticipantsFor(int64_t{m_width} * m_height) > 1 &&
                           ReserveAligned(m_deferredScans, m_deferredScansCapacity,
                                   int64_t{kMaxDeferredScans} * sizeof(DeferredScan));
        m_scanDeferral = share ? ScanDeferral::Deferring : ScanDeferral::Never;
    }
    return m_scanDeferral == ScanDeferral::Deferring;
}

// The blocks (or MCUs) a scan visits, in the units its restart intervals
// count.
int32_t CJPEGDecoder::ScanUnits(const ScanParameters& scan) const {
    bool inScan[4] = {false, false, false, false};
    const bool oneComponent = scan.IsAcScan() || (ListedComponents(scan, inScan) == 1 && m_componentCount > 1);
    if (!oneComponent) return m_mcuRows * m_mcusPerRow;
    const CJPEGColorComponent& component = *m_components[scan.scanComponent];
    const int32_t blockRows = std::min(m_mcuRows * component.m_vBlocks, (m_height + 7) / 8);
    return blockRows * VisitedBlockColumns(component);
}

// Where the data pass goes on after the scan whose data starts at the
// stream's position: false when the data does not have the shape that lets
// it be known without decoding the scan (see the top of this file).
bool CJPEGDecoder::FindScanEnd(const ScanParameters& scan, int32_t* position, int32_t* marker) const {
    EntropyStream probe = m_stream;
    probe.ClearMarker();
    const int32_t units = ScanUnits(scan);
    const int32_t boundaries = scan.restartInterval > 0 && units > 0 ? (units - 1) / scan.restartInterval : 0;
    for (int32_t i = 0; i < boundaries; ++i) {
        if (!probe.FindMarker() || !IsRestartMarker(probe.m_pendingMarker)) return false;
        probe.ClearMarker();
    }
    // Restart markers after the scan's last boundary are passed over by the
    // marker loop, as between any two segments.
    for (;;) {
        if (!probe.FindMarker()) return false;
        if (!IsRestartMarker(probe.m_pendingMarker)) break;
        probe.ClearMarker();
    }
    *position = probe.m_position;
    *marker = probe.m_pendingMarker;
    return true;
}

// Notes the scan whose header was just read and moves the data pass past
// it; false (nothing noted) when the scan must be decoded where it is.
bool CJPEGDecoder::DeferScan(const ScanParameters& scan) {
    int32_t end, marker;
    if (m_deferredScanCount == kMaxDeferredScans || !FindScanEnd(scan, &end, &marker)) return false;
    m_deferredScans[m_deferredScanCount++] = {scan, m_stream.m_position, {}, 0};
    m_stream.JumpTo(end, marker);
    return true;
}

// A Huffman table that a DHT segment replaces: noted scans may still decode
// with it, so it is kept until they are done.
void CJPEGDecoder::DiscardHuffmanTable(CJPEGDecoderHuffmanTable* table) {
    if (table == nullptr) return;
    if (m_deferredScanCount > 0 && m_retiredTableCount == kMaxRetiredTables) DecodeDeferredScans();
    if (m_deferredScanCount == 0) {
        delete table;
        return;
    }
    m_retiredTables[m_retiredTableCount++] = table;
}

void CJPEGDecoder::ReleaseRetiredTables() {
    for (int32_t i = 0; i < m_retiredTableCount; ++i) {
        delete m_retiredTables[i];
        m_retiredTables[i] = nullptr;
    }
    m_retiredTableCount = 0;
}

// Decodes the noted scans, on every thread lent, and notes the completion
// flags of those that did not fail, in their order.
void CJPEGDecoder::DecodeDeferredScans() {
    const int32_t count = m_deferredScanCount;
    if (count == 0) return;
    const int32_t participants = count > 1 ? std::min(ParticipantsFor(int64_t{m_width} * m_height), count) : 1;
    if (participants > 1) {
        ScanSchedule schedule;
        schedule.decoder = this;
        if (m_workers->RunTogether(participants, DecodeScansTask, &schedule) == PoolErrTooFewThreads) {
            DecodeScansInTurn(nullptr);
        }
    } else {
        DecodeScansInTurn(nullptr);
    }
    int16_t predictions[4] = {};
    PredictionsAfter(count, predictions);
    for (int32_t i = 0; i < m_componentCount; ++i) m_components[i]->m_dcPredictor = predictions[i];
    m_deferredScanCount = 0;
    ReleaseRetiredTables();
}

int32_t CJPEGDecoder::DecodeScansTask(void* context, int32_t /*participant*/) {
    ScanSchedule& schedule = *static_cast<ScanSchedule*>(context);
    schedule.decoder->DecodeScansInTurn(&schedule);
    return 0;
}

// Takes noted scans in their order and decodes them; alone (schedule null)
// one after the other.
void CJPEGDecoder::DecodeScansInTurn(ScanSchedule* schedule) {
    for (int32_t next = 0;; ++next) {
        if (schedule != nullptr) {
            CMutexLock lock(schedule->mutex);
            next = schedule->nextScan++;
        }
        if (next >= m_deferredScanCount) return;
        DeferredScan& deferred = m_deferredScans[next];
        EntropyStream stream = m_stream;
        stream.JumpTo(deferred.dataStart);
        int32_t restartsLeft = deferred.scan.restartInterval;
        deferred.boundaries = 0;
        EntropyCursor cursor = {&stream, {}, &restartsLeft, deferred.scan.restartInterval, &deferred.boundaries};
        for (int32_t i = 0; i < 4; ++i) cursor.predictors[i] = &deferred.endPredictors[i];
        // A scan that fails keeps what it decoded, and the frame goes on.
        if (schedule == nullptr) {
            PredictionsAfter(next, deferred.endPredictors);
            DecodeProgressiveScan(deferred.scan, cursor, nullptr);
            continue;
        }
        ScanWaits waits = FollowedScans(*schedule, next);
        DecodeProgressiveScan(deferred.scan, cursor, &waits);
        CMutexLock lock(schedule->mutex);
        schedule->progress[next] = kScanFinished;
        if (schedule->waiting > 0) schedule->changed.WakeAll();
    }
}

// The DC predictions after the first `scans` noted scans, as one thread
// decoding them in turn would leave them: every restart boundary a scan
// takes sets all of them to zero, and a DC first scan then carries on those
// of its components. The scans must be done.
void CJPEGDecoder::PredictionsAfter(int32_t scans, int16_t* predictions) const {
    for (int32_t i = 0; i < m_componentCount; ++i) predictions[i] = m_components[i]->m_dcPredictor;
    for (int32_t k = 0; k < scans; ++k) {
        const DeferredScan& done = m_deferredScans[k];
        bool listed[4] = {false, false, false, false};
        const bool predicts = !done.scan.IsAcScan() && done.scan.ah == 0;
        if (predicts) ListedComponents(done.scan, listed);
        for (int32_t i = 0; i < m_componentCount; ++i) {
            if (listed[i]) {
                predictions[i] = done.endPredictors[i];
            } else if (done.boundaries > 0) {
                predictions[i] = 0;
            }
        }
    }
}

// The components a scan touches: its one component for an AC scan, the
// listed ones for a DC scan.
void CJPEGDecoder::TouchedComponents(const ScanParameters& scan, bool* touched) const {
    if (scan.IsAcScan()) {
        touched[scan.scanComponent] = true;
    } else {
        ListedComponents(scan, touched);
    }
}

// The earlier scans that scan `index` must follow: every one of its kind (DC
// or AC) that touches a component it touches, MCU row by MCU row. A DC first scan carries on the DC
// predictions that the scans before it leave (any restart boundary of any
// scan sets them to zero), so it waits here for the whole of every earlier
// scan and starts from those predictions.
CJPEGDecoder::ScanWaits CJPEGDecoder::FollowedScans(ScanSchedule& schedule, int32_t index) {
    ScanWaits waits = {};
    waits.schedule = &schedule;
    waits.scan = index;
    const ScanParameters& scan = m_deferredScans[index].scan;
    bool touched[4] = {false, false, false, false};
    TouchedComponents(scan, touched);
    const bool predicts = !scan.IsAcScan() && scan.ah == 0;
    for (int32_t earlier = 0; earlier < index; ++earlier) {
        const ScanParameters& other = m_deferredScans[earlier].scan;
        bool otherTouched[4] = {false, false, false, false};
        TouchedComponents(other, otherTouched);
        bool shared = false;
        for (int32_t i = 0; i < 4; ++i) shared = shared || (touched[i] && otherTouched[i]);
        shared = shared && other.IsAcScan() == scan.IsAcScan();
        if (shared) waits.followed[waits.followedCount++] = earlier;
        if (predicts) {
            CMutexLock lock(schedule.mutex);
            WaitLocked(schedule, earlier, kScanFinished);
        }
    }
    if (predicts) PredictionsAfter(index, m_deferredScans[index].endPredictors);
    return waits;
}

void CJPEGDecoder::WaitLocked(ScanSchedule& schedule, int32_t scan, int32_t rows) {
    while (schedule.progress[scan] < rows) {
        ++schedule.waiting;
        schedule.changed.Wait(schedule.mutex);
        --schedule.waiting;
    }
}

// Waits until every scan followed has finished MCU rows 0 to `mcuRow`.
void CJPEGDecoder::WaitForRow(ScanWaits* waits, int32_t mcuRow) {
    if (waits == nullptr || waits->followedCount == 0) return;
    ScanSchedule& schedule = *waits->schedule;
    CMutexLock lock(schedule.mutex);
    for (int32_t i = 0; i < waits->followedCount; ++i) WaitLocked(schedule, waits->followed[i], mcuRow + 1);
}

// Tells the later scans that this one has finished its first `rows` MCU
// rows.
void CJPEGDecoder::PublishRows(ScanWaits* waits, int32_t rows) {
    if (waits == nullptr) return;
    ScanSchedule& schedule = *waits->schedule;
    CMutexLock lock(schedule.mutex);
    schedule.progress[waits->scan] = rows;
    if (schedule.waiting > 0) schedule.changed.WakeAll();
}
