// CJPEGDecoder: lifetime, the four public operations and the MCU geometry.
#include "jpeg/decoder.h"

#include "jpeg/component.h"
#include "jpeg/huffman_table.h"
#include "jpeg/quant_table.h"
#include "primitives/huffman.h"
#include "primitives/memory.h"

namespace {

template <typename T>
void DeleteSlot(T*& slot) {
    delete slot;
    slot = nullptr;
}

}  // namespace

CJPEGDecoder::CJPEGDecoder()
    : m_coefficients(nullptr),
      m_rowBlocks(nullptr),
      m_blockExtents(nullptr),
      m_quantTables(),
      m_dcTables(),
      m_acTables(),
      m_components(),
      m_coefficientsCapacity(0),
      m_rowBlocksCapacity(0),
      m_blockExtentsCapacity(0),
      m_rowStates(nullptr),
      m_rowStatesCapacity(0),
      m_runStarts(nullptr),
      m_runStartsCapacity(0),
      m_aheadBlocks(nullptr),
      m_aheadBlocksCapacity(0),
      m_aheadExtents(nullptr),
      m_aheadExtentsCapacity(0),
      m_aheadRecords(nullptr),
      m_aheadRecordsCapacity(0),
      m_aheadMcus(0),
      m_deferredScans(nullptr),
      m_deferredScansCapacity(0),
      m_retiredTables(),
      m_retiredTableCount(0) {
    ResetFields();
}

CJPEGDecoder::~CJPEGDecoder() { ReleaseAll(); }

// Every field of the frame; the tables, components and buffers the decoder
// owns are kept (the constructor starts them empty).
void CJPEGDecoder::ResetFields() {
    m_stream.Attach(nullptr, 0);
    m_width = 0;
    m_height = 0;
    m_componentCount = 0;
    m_samplingMode = SamplingFull;
    m_colorModel = ColorUnknown;
    m_restartInterval = 0;
    m_progressive = false;
    m_hasAdobe = false;
    m_adobeTransform = 0;
    // The destination is meaningful only after AttachOutput; it starts empty
    // so that DecodeImage can tell that none was attached.
    m_outPixels = nullptr;
    m_outWidth = 0;
    m_outHeight = 0;
    m_outStep = 0;
    m_outChannels = 0;
    m_outColorModel = ColorUnknown;
    m_mcusPerRow = 0;
    m_mcuRows = 0;
    m_mcuSizeX = 0;
    m_mcuSizeY = 0;
    m_paddedWidth = 0;
    m_bufferRows = 0;
    m_padRight = 0;
    m_padBottom = 0;
    m_restartsLeft = 0;
    m_scanLength = 0;
    m_scanComponent = 0;
    m_ss = 0;
    m_se = 0;
    m_al = 0;
    m_ah = 0;
    m_blocksPerMcu = 1;
    for (int i = 0; i < 4; ++i) {
        m_scanComponents[i] = 0;
    }
    m_frameFrozen = false;
    m_scanComponentCount = 0;
    m_scanCount = 0;
    m_pictureOwed = false;
    m_pictureWritten = false;
    m_buffersPrepared = false;
    m_workers = nullptr;
    m_bandSlots = 1;
    m_scanDeferral = ScanDeferral::Undecided;
    m_deferredScanCount = 0;
    for (int i = 0; i < 4; ++i) {
        m_bandSamplesBytes[i] = 0;
        m_bandBorderedBytes[i] = 0;
    }
}

// A decoder used for frame after frame keeps its components' buffers, its
// coefficient and block buffers and its entropy state, so that a frame no
// larger than an earlier one allocates nothing; the tables and every field
// describing the last frame are forgotten, so that nothing of it can change
// the next picture.
void CJPEGDecoder::BeginFrame() {
    DeleteTables();
    for (CJPEGColorComponent* component : m_components) {
        if (component != nullptr) component->ResetFields();
    }
    ResetFields();
}

// Every quantization and Huffman table the decoder holds, the retired ones
// too.
void CJPEGDecoder::DeleteTables() {
    ReleaseRetiredTables();
    for (auto& table : m_quantTables) DeleteSlot(table);
    for (int id = 0; id < 4; ++id) {
        DeleteSlot(m_dcTables[id]);
        DeleteSlot(m_acTables[id]);
    }
}

DecoderStatus CJPEGDecoder::ReleaseAll() {
    DeleteTables();
    for (auto& component : m_components) DeleteSlot(component);
    ReleaseAligned(m_coefficients, m_coefficientsCapacity);
    ReleaseAligned(m_rowBlocks, m_rowBlocksCapacity);
    ReleaseAligned(m_blockExtents, m_blockExtentsCapacity);
    ReleaseAligned(m_rowStates, m_rowStatesCapacity);
    ReleaseAligned(m_runStarts, m_runStartsCapacity);
    ReleaseAligned(m_aheadBlocks, m_aheadBlocksCapacity);
    ReleaseAligned(m_aheadExtents, m_aheadExtentsCapacity);
    ReleaseAligned(m_aheadRecords, m_aheadRecordsCapacity);
    m_aheadMcus = 0;
    ReleaseAligned(m_deferredScans, m_deferredScansCapacity);
    return DecOk;
}

DecoderStatus CJPEGDecoder::AttachInput(const uint8_t* data, int32_t size) {
    // Without bytes there is nothing to read: a null source reads as empty.
    m_stream.Attach(data, size);
    return DecOk;
}

DecoderStatus CJPEGDecoder::ParseHeaders(int32_t* width, int32_t* height,
                                         int32_t* componentCount, int32_t* colorModel,
                                         int32_t* samplingMode) {
    const DecoderStatus status = RunMarkerLoop(PassHeader);
    if (status != DecOk) {
        return status;
    }
    ComputeMcuGeometry();
    m_frameFrozen = true;
    if (width) *width = m_width;
    if (height) *height = m_height;
    if (componentCount) *componentCount = m_componentCount;
    if (colorModel) *colorModel = m_colorModel;
    if (samplingMode) *samplingMode = m_samplingMode;
    return DecOk;
}

DecoderStatus CJPEGDecoder::AttachOutput(uint8_t* pixels, int32_t width, int32_t step,
                                         int32_t height, int32_t channels, int32_t colorModel) {
    m_outPixels = pixels;
    m_outWidth = width;
    m_outStep = step;
    m_outHeight = height;
    m_outChannels = channels;
    m_outColorModel = static_cast<ColorModel>(colorModel);
    return DecOk;
}

DecoderStatus CJPEGDecoder::DecodeImage() {
    const DecoderStatus status = CheckOutput();
    if (status != DecOk) {
        return status;
    }
    return RunMarkerLoop(PassData);
}

namespace {

// Bytes a destination pixel of the colour model takes; for the unknown model
// the components are interleaved as they are.
int32_t BytesPerPixel(int32_t model, int32_t componentCount) {
    switch (model) {
        case ColorGrey: return 1;
        case ColorYCbCr: return 2;  // packed 4:2:2
        case ColorRGB:
        case ColorBGR: return 3;
        case ColorCMYK:
        case ColorBGRA: return 4;
        default: return componentCount;
    }
}

}  // namespace

// The conversion stage writes m_outWidth x m_outHeight pixels from planes
// that hold the frame's size: a destination larger than the frame, rows
// narrower than their pixels, or no destination at all would make it read or
// write outside a buffer. A negative step stores the rows upwards in memory
// from the first row's address, as a bottom-up bitmap has them.
DecoderStatus CJPEGDecoder::CheckOutput() const {
    if (m_mcusPerRow <= 0 || m_mcuRows <= 0) {
        return DecErrFailed;  // ParseHeaders has not produced a geometry
    }
    if (m_outPixels == nullptr || m_outWidth <= 0 || m_outHeight <= 0 ||
        m_outWidth > m_width || m_outHeight > m_height) {
        return DecErrFailed;
    }
    const int64_t rowBytes = int64_t(m_outWidth) * BytesPerPixel(m_outColorModel, m_componentCount);
    const int64_t stepBytes = m_outStep < 0 ? -int64_t{m_outStep} : int64_t{m_outStep};
    if (stepBytes == 0 || stepBytes < rowBytes) {
        return DecErrFailed;
    }
    return DecOk;
}

// An MCU is 8x8 samples of full-resolution planes, twice as wide with
// half-width chroma and twice as high with half-height chroma.
CJPEGDecoder::McuGrid CJPEGDecoder::McuGridOf(SamplingMode samplingMode, int32_t width, int32_t height) {
    McuGrid grid;
    grid.sizeX = samplingMode != SamplingFull ? 16 : 8;
    grid.sizeY = samplingMode == SamplingHalfHV ? 16 : 8;
    grid.perRow = (width + grid.sizeX - 1) / grid.sizeX;
    grid.rows = (height + grid.sizeY - 1) / grid.sizeY;
    return grid;
}

void CJPEGDecoder::ComputeMcuGeometry() {
    const McuGrid grid = McuGridOf(m_samplingMode, m_width, m_height);
    m_mcuSizeX = grid.sizeX;
    m_mcuSizeY = grid.sizeY;
    m_mcusPerRow = grid.perRow;
    m_paddedWidth = m_mcusPerRow * m_mcuSizeX;
    m_padRight = m_paddedWidth - m_width;
    m_mcuRows = grid.rows;
    m_padBottom = m_mcuRows * m_mcuSizeY - m_height;
    m_bufferRows = m_progressive ? m_mcuRows * m_mcuSizeY : m_mcuSizeY;
}
