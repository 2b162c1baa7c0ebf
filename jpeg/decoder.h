// CJPEGDecoder: one JPEG interchange stream in memory -> one interleaved
// 8-bit picture in a caller's buffer.
//
// Calling order: construct, AttachInput, ParseHeaders, AttachOutput,
// DecodeImage, destroy. ParseHeaders runs the marker loop up to the first
// scan header (the header pass); DecodeImage runs it again from that scan to
// EOI (the data pass). One object decodes one frame and owns every table,
// component and working buffer it creates.
#pragma once

#include <cstddef>
#include <cstdint>

#include "jpeg/decoder_types.h"
#include "jpeg/huffman_table_cache.h"
#include "primitives/entropy_stream.h"
#include "primitives/huffman.h"
#include "primitives/memory.h"

struct BgrRowKernels;
struct HuffmanDecodeTable;
class CJPEGColorComponent;
class CJPEGDecoderHuffmanTable;
class CJPEGDecoderQuantTable;
class CWorkerPool;

class CJPEGDecoder {
public:
    WEMB_HEAP_ALLOCATED

    CJPEGDecoder();
    ~CJPEGDecoder();
    CJPEGDecoder(const CJPEGDecoder&) = delete;
    CJPEGDecoder& operator=(const CJPEGDecoder&) = delete;

    // Makes a decoder that has decoded a frame ready for the next one, keeping
    // its working buffers: the calling order then starts again with
    // AttachInput.
    void BeginFrame();

    DecoderStatus AttachInput(const uint8_t* data, int32_t size);

    // Threads the decoder may spread the next frame's work over, besides the
    // calling thread; null (as after construction or BeginFrame) decodes on
    // the calling thread alone. Not owned.
    void AttachWorkers(CWorkerPool* workers) { m_workers = workers; }

    // The smallest frame whose work is shared between threads: below it,
    // waking the workers costs more than they save.
    static constexpr int64_t kSharedFramePixels = 128 * 1024;

    // Test hook: frames of at least `pixels` pixels share their work with
    // the threads lent (kSharedFramePixels by default), so that small test
    // frames can take the threaded paths too.
    static void ShareFramesFrom(int64_t pixels);
    // Test hook: sequential frames shared between threads, whatever the size
    // of their data, have a thread decode ahead from `percent` percent of
    // the way into the data (1..99); 0 restores the automatic choice.
    static void DecodeAheadFrom(int32_t percent);
    // Test hook: how many times, in the process so far, the in-order thread
    // has met the ahead thread's records (and taken the rest of its frame
    // from them).
    static int64_t AheadMeetings();
    DecoderStatus ParseHeaders(int32_t* width, int32_t* height, int32_t* componentCount,
                               int32_t* colorModel, int32_t* samplingMode);
    DecoderStatus AttachOutput(uint8_t* pixels, int32_t width, int32_t step, int32_t height,
                               int32_t channels, int32_t colorModel);
    DecoderStatus DecodeImage();

    // What the thread decoding a sequential frame ahead keeps before each
    // MCU it decodes.
    struct AheadRecord {
        EntropyStream stream;   // before the MCU
        int16_t predictors[4];  // the ahead thread's DC predictions then
    };

    // Whether DecodeImage wrote the picture into the destination; a frame
    // whose colour model has no conversion into it leaves it untouched.
    bool WrotePicture() const { return m_pictureWritten; }

    // Whether the frame's colour model, as the header pass decided it,
    // converts into B, G, R destinations (ColorBGR, ColorBGRA).
    bool ConvertsToBgr() const;

private:
    friend struct DecoderInspector;  // white-box access for the tests

    enum MarkerPass { PassHeader, PassData };

    // Object lifetime (decoder.cpp).
    void ResetFields();
    DecoderStatus ReleaseAll();
    void DeleteTables();
    // The MCU grid of a frame: an MCU's size in samples and how many cover
    // the frame across and down.
    struct McuGrid {
        int32_t sizeX, sizeY;
        int32_t perRow, rows;
    };
    static McuGrid McuGridOf(SamplingMode samplingMode, int32_t width, int32_t height);
    void ComputeMcuGeometry();
    DecoderStatus CheckOutput() const;

    // Byte stream and marker segments (markers.cpp).
    bool HasBytes(int32_t count) const;
    int32_t TakeByte();
    int32_t TakeWord();
    DecoderStatus FindMarker();
    DecoderStatus SkipSegment();
    DecoderStatus RunMarkerLoop(MarkerPass pass);
    DecoderStatus HandleScan();
    DecoderStatus ProduceOwedPicture();
    DecoderStatus ReadFrameHeader();
    DecoderStatus ReadProgressiveFrameHeader();
    DecoderStatus ReadAnyFrameHeader(bool progressive);
    DecoderStatus DecideSamplingMode();
    DecoderStatus ReadScanHeader();
    void DecideColorModel();
    DecoderStatus ReadRestartInterval();
    DecoderStatus ReadAdobeSegment();
    DecoderStatus ConsumeRestartMarker();

    // Tables (quant_table.cpp, huffman_table.cpp).
    DecoderStatus ReadQuantTables();
    DecoderStatus ReadHuffmanTables(CJPEGDecoderHuffmanTable** dcTables,
                                    CJPEGDecoderHuffmanTable** acTables);

    // Components and scan buffers (scan_buffers.cpp).
    DecoderStatus PrepareScanBuffers();
    bool FrameFitsBuffers() const;
    const HuffmanDecodeTable* DcTableOf(const CJPEGColorComponent& component) const;
    const HuffmanDecodeTable* AcTableOf(const CJPEGColorComponent& component) const;
    const uint16_t* QuantTableOf(const CJPEGColorComponent& component) const;

    // Sequential scans (sequential_scan.cpp, sequential_threads.cpp). One
    // MCU row's buffers: its coefficient blocks with their extents and each
    // component's band of samples (bordered for half-resolution chroma). A
    // frame decoded on one thread has one slot; shared, one per thread.
    struct BandSlot {
        int16_t* blocks;
        uint8_t* extents;
        uint8_t* samples[4];
        uint8_t* bordered[4];
    };
    // Where one thread's entropy decoding of a sequential scan stands: the
    // frame's own stream, DC predictions and restart count, or a thread's
    // copies of them for a run of restart intervals.
    struct EntropyCursor {
        EntropyStream* stream;
        int16_t* predictors[4];
        int32_t* restartsLeft;
        int32_t restartInterval;  // MCUs (or blocks) per interval, 0 for none
        int32_t* boundaries;      // counts the restart boundaries taken, when not null
    };
    struct RowSchedule;
    EntropyCursor FrameCursor();
    DecoderStatus DecodeSequentialScan();
    DecoderStatus DecodeRowsAlone();
    DecoderStatus DecodeRowsTogether();
    static constexpr int32_t kSlotsPerThread = 2;
    static int32_t DecodeRowsInOrderTask(void* context, int32_t participant);
    void DecodeRowsInOrder(RowSchedule& schedule);
    void ConvertRowsInOrder(RowSchedule& schedule);
    void ConvertRow(RowSchedule& schedule, int32_t row);
    bool SlotFree(RowSchedule& schedule, int32_t row);
    static int32_t DecodeRunsTask(void* context, int32_t slotIndex);
    void DecodeRunsInSlot(RowSchedule& schedule, int32_t slotIndex);
    bool DecodeRowInSlot(RowSchedule& schedule, int32_t slotIndex, const EntropyCursor& cursor, int32_t row,
                         bool markerMissing, int32_t previous);
    int32_t PlanRestartRuns(RowSchedule& schedule);
    void FindRunStart(RowSchedule& schedule, int32_t run);
    int32_t SequentialParticipants();
    BandSlot SlotAt(int32_t index) const;
    DecoderStatus EntropyDecodeRow(const BandSlot& slot, const EntropyCursor& cursor);
    bool FillMcuLayout(const EntropyCursor& cursor, SequentialMcuLayout* layout) const;

    // Decoding ahead (sequential_ahead.cpp).
    bool PrepareAhead(RowSchedule& schedule, int32_t participants);
    void DecodeAhead(RowSchedule& schedule);
    bool MayMeetAhead(RowSchedule& schedule, int64_t reach) const;
    int32_t FindAheadRecord(RowSchedule& schedule, int64_t position) const;
    bool DecodeRowWatching(RowSchedule& schedule, const BandSlot& slot, const EntropyCursor& cursor, int32_t row,
                           bool* joined);
    bool JoinAhead(RowSchedule& schedule, const BandSlot& slot, int32_t row, int32_t mcu, int32_t record);
    int32_t AheadFrameMcus(const RowSchedule& schedule) const;
    void PublishAheadRows(RowSchedule& schedule);
    BandSlot RowSlot(RowSchedule& schedule, int32_t row);
    void AddDcOffsets(int16_t* blocks, int32_t mcuCount, const int16_t* offsets) const;
    void ZeroAheadMcus(int32_t first, int32_t end) const;
    void FinishAhead(RowSchedule& schedule);
    void InverseTransformRow(const BandSlot& slot);
    void TransformBlockRow(const BandSlot& slot, const CJPEGColorComponent& component, int32_t firstInMcu,
                           uint8_t* samples, ptrdiff_t step, const uint16_t* quantTable);
    int32_t BlockComponent(int32_t blockInMcu) const;
    static void ZeroBackBlock(int16_t* block, int32_t extent);
    void FinishBandBorders(const BandSlot& slot);
    void CopyTopBorder(const BandSlot& above, const BandSlot& slot, bool firstBand = false);
    DecoderStatus HandleRestartBoundary(const EntropyCursor& cursor);

    // Up-sampling and colour conversion (color_stage.cpp).
    enum class RowConversion { None, Grey, Rgb, Ycc, Cmyk, Ycck };
    struct PlaneView {
        const uint8_t* base;
        ptrdiff_t step;
    };
    // The planes of a frame's conversion, for the tasks that share it.
    struct ConvertJob {
        CJPEGDecoder* decoder;
        PlaneView views[4];
    };
    static constexpr int32_t kRowsPerChunk = 16;
    DecoderStatus OutputMcuRow(int32_t mcuRow);
    DecoderStatus OutputFrame();
    void PrepareMcuRowBorders(int32_t mcuRow);
    void PrepareFrameBorders();
    int32_t BandRowsInOutput(int32_t mcuRow) const;
    int32_t LastBandRows() const;
    void ConvertBand(int32_t mcuRow, const BandSlot& slot);
    bool IsHalfChroma(int32_t component) const;
    // Bytes from one row of a band's half-resolution chroma to the next: the
    // half-width data with a border column on each side.
    int32_t BandChromaStep() const { return m_paddedWidth / 2 + 2; }
    RowConversion ChooseRowConversion() const;
    RowConversion BgrConversion() const;
    bool ConvertsFromFullPlanes(RowConversion conversion) const;
    void ConvertYccRow(const BgrRowKernels& kernels, const PlaneView* views, const uint8_t** row, int32_t r,
                       const CJPEGColorComponent& chroma, uint8_t* dst) const;
    void ConvertRowsToBgr(const PlaneView* views, int32_t first, int32_t rows, int32_t firstLine);
    DecoderStatus UpsampleMcuRow(int32_t mcuRow);
    DecoderStatus ConvertMcuRow(int32_t mcuRow);
    DecoderStatus UpsampleFrame();
    DecoderStatus ConvertFrame();
    DecoderStatus ConvertRows(uint8_t* const* planes, int32_t firstLine, int32_t rows,
                              bool allowPacked);
    DecoderStatus ConvertRowsDown(uint8_t* const* planes, int32_t firstLine, int32_t rows,
                                  bool allowPacked);

    // Progressive scans (progressive_scan.cpp, progressive_threads.cpp). A
    // scan as its header set it, for decoding it then or on another thread.
    struct ScanParameters {
        int32_t ss, se, ah, al;
        int32_t listedCount;
        int32_t listed[4];        // frame indexes of the components listed
        int32_t scanComponent;    // the last one listed
        int32_t restartInterval;
        const HuffmanDecodeTable* dcTables[4];  // of each frame component, when the scan began
        const HuffmanDecodeTable* acTables[4];
        bool IsAcScan() const;
    };
    struct ScanWaits;
    struct ScanSchedule;
    // A scan noted to be decoded later with the frame's other scans.
    struct DeferredScan {
        ScanParameters scan;
        int32_t dataStart;     // where its entropy-coded data starts
        // The DC predictions it left: of the components a DC first scan
        // lists, or all zero once it has taken a restart boundary.
        int16_t endPredictors[4];
        int32_t boundaries;
    };
    enum class ScanDeferral { Undecided, Deferring, Never };
    // More scans than any encoder writes for one frame: libjpeg's progressive
    // scripts use at most 10, hand-written ones a few dozen. Only at thousands
    // does T.81 run out of coefficient bits to send, and a stream of a few
    // kilobytes holding that many scans would cost seconds of decoding.
    static constexpr int32_t kMaxProgressiveScans = 256;
    static constexpr int32_t kMaxDeferredScans = kMaxProgressiveScans;
    static constexpr int32_t kMaxRetiredTables = 64;
    static_assert(CHuffmanTableCache::kEntries > 2 * 4 + kMaxRetiredTables,
                  "the table cache has an entry for every table the decoder can hold at once");
    bool DefersScans();
    int32_t ScanUnits(const ScanParameters& scan) const;
    bool FindScanEnd(const ScanParameters& scan, int32_t* position, int32_t* marker) const;
    bool DeferScan(const ScanParameters& scan);
    void DecodeDeferredScans();
    static int32_t DecodeScansTask(void* context, int32_t participant);
    void DecodeScansInTurn(ScanSchedule* schedule);
    ScanWaits FollowedScans(ScanSchedule& schedule, int32_t index);
    void PredictionsAfter(int32_t scans, int16_t* predictions) const;
    void DiscardHuffmanTable(CJPEGDecoderHuffmanTable* table);
    void ReleaseRetiredTables();
    ScanParameters CurrentScan() const;
    DecoderStatus DecodeProgressiveScan(const ScanParameters& scan, const EntropyCursor& cursor,
                                        ScanWaits* waits);
    DecoderStatus DecodeProgressiveDcScan(const ScanParameters& scan, const EntropyCursor& cursor,
                                          ScanWaits* waits);
    int32_t ListedComponents(const ScanParameters& scan, bool* inScan) const;
    DecoderStatus DecodeInterleavedDc(const ScanParameters& scan, const bool* inScan, const EntropyCursor& cursor,
                                      ScanWaits* waits);
    DecoderStatus DecodeProgressiveAcScan(const ScanParameters& scan, const EntropyCursor& cursor,
                                          ScanWaits* waits);
    template <typename VisitRun>
    DecoderStatus VisitComponentBlocks(int32_t componentIndex, const EntropyCursor& cursor, ScanWaits* waits,
                                       VisitRun&& visit);
    int32_t VisitedBlockColumns(const CJPEGColorComponent& component) const;
    DecoderStatus RestartIfDue(const EntropyCursor& cursor);
    void WaitForRow(ScanWaits* waits, int32_t mcuRow);
    void PublishRows(ScanWaits* waits, int32_t rows);
    void WaitLocked(ScanSchedule& schedule, int32_t scan, int32_t rows);
    void TouchedComponents(const ScanParameters& scan, bool* touched) const;
    int32_t ComponentBlockOffset(int32_t component) const;
    int16_t* McuBlocks(int32_t mcuRow, int32_t mcuColumn) const;
    DecoderStatus ReconstructFrame();
    void ReconstructMcuRow(int32_t row, const uint16_t* const* quantTables);
    int32_t ParticipantsFor(int64_t pixels);
    static int32_t ReconstructRowTask(void* context, int32_t row);
    static int32_t ConvertRowsTask(void* context, int32_t chunk);

    // The compressed frame: source, size, read position, pending marker and
    // the entropy decoder's bits (m_source, m_sourceSize, m_position,
    // m_pendingMarker inside).
    EntropyStream m_stream;
    int32_t m_width;
    int32_t m_height;
    int32_t m_componentCount;
    SamplingMode m_samplingMode;
    ColorModel m_colorModel;
    int32_t m_restartInterval;
    bool m_progressive;
    bool m_hasAdobe;
    int32_t m_adobeTransform;
    uint8_t* m_outPixels;
    int32_t m_outWidth;
    int32_t m_outHeight;
    int32_t m_outStep;
    int32_t m_outChannels;
    ColorModel m_outColorModel;  // as the host asked: any value, checked where used
    int32_t m_mcusPerRow;
    int32_t m_mcuRows;
    int32_t m_mcuSizeX;
    int32_t m_mcuSizeY;
    int32_t m_paddedWidth;
    int32_t m_bufferRows;
    int32_t m_padRight;
    int32_t m_padBottom;
    int32_t m_restartsLeft;
    int32_t m_scanLength;
    int32_t m_scanComponent;
    int32_t m_ss;
    int32_t m_se;
    int32_t m_al;
    int32_t m_ah;
    int16_t* m_coefficients;
    int16_t* m_rowBlocks;
    // One byte per block of m_rowBlocks: the highest zig-zag index its
    // entropy decoding wrote. A block is all zero when its decoding starts;
    // the reconstruction zeroes back what the extent says was written.
    uint8_t* m_blockExtents;
    int32_t m_blocksPerMcu;
    CJPEGDecoderQuantTable* m_quantTables[4];
    CJPEGDecoderHuffmanTable* m_dcTables[4];
    CJPEGDecoderHuffmanTable* m_acTables[4];
    // The decode tables built for the DHT tables met, kept from frame to
    // frame. The tables above borrow theirs from it; they are deleted
    // (BeginFrame, ReleaseAll) while it still stands.
    CHuffmanTableCache m_huffmanCache;
    CJPEGColorComponent* m_components[4];

    // Bookkeeping beyond the fields above.
    bool m_frameFrozen;           // geometry computed: later frame headers may not change it
    int32_t m_scanComponents[4];  // frame indexes of the current scan's components
    int32_t m_scanComponentCount;
    int32_t m_scanCount;          // progressive scans met in the data pass
    bool m_pictureOwed;           // a progressive picture is to be built at EOI
    bool m_pictureWritten;        // a conversion wrote into the destination
    bool m_buffersPrepared;       // the frame's first scan has sized the buffers
    CWorkerPool* m_workers;       // threads lent for the frame, or null
    int32_t m_coefficientsCapacity;  // bytes allocated for m_coefficients
    int32_t m_rowBlocksCapacity;     // bytes allocated for m_rowBlocks
    int32_t m_blockExtentsCapacity;  // bytes allocated for m_blockExtents
    int32_t m_bandSlots;             // slots of MCU-row buffers: threads sharing the frame
    int32_t m_bandSamplesBytes[4];   // bytes of one band of each component's m_samples
    int32_t m_bandBorderedBytes[4];  // and of its m_borderedSamples
    uint8_t* m_rowStates;            // threads sharing a frame: each row's state and slot
    int32_t m_rowStatesCapacity;
    int32_t* m_runStarts;            // and where each run of restart intervals starts
    int32_t m_runStartsCapacity;
    // The ahead thread's MCUs, their extents and its records, for up to
    // m_aheadMcus MCUs. The blocks are all zero between frames.
    int16_t* m_aheadBlocks;
    int32_t m_aheadBlocksCapacity;
    uint8_t* m_aheadExtents;
    int32_t m_aheadExtentsCapacity;
    AheadRecord* m_aheadRecords;
    int32_t m_aheadRecordsCapacity;
    int32_t m_aheadMcus;
    ScanDeferral m_scanDeferral;     // progressive frames shared between threads
    DeferredScan* m_deferredScans;   // the scans noted, in their order
    int32_t m_deferredScansCapacity;
    int32_t m_deferredScanCount;
    CJPEGDecoderHuffmanTable* m_retiredTables[kMaxRetiredTables];  // replaced while scans were noted
    int32_t m_retiredTableCount;
};
