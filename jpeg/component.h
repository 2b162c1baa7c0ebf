// CJPEGColorComponent: one image component of the frame header, with the
// sample buffers the scan decoders and the colour stage share.
#pragma once

#include <cstdint>

#include "primitives/memory.h"

class CJPEGColorComponent {
public:
    WEMB_HEAP_ALLOCATED

    CJPEGColorComponent();
    ~CJPEGColorComponent();
    CJPEGColorComponent(const CJPEGColorComponent&) = delete;
    CJPEGColorComponent& operator=(const CJPEGColorComponent&) = delete;

    // Forgets the component's frame: every field but the buffers, which a
    // later frame reuses when they are large enough.
    void ResetFields();

    int32_t m_componentId;    // Ci of the frame header; scans find components by it
    int32_t m_frameIndex;     // position in the frame header, 0..3
    int32_t m_hBlocks;        // horizontal sampling factor H
    int32_t m_vBlocks;        // vertical sampling factor V
    int32_t m_hUpsample;      // 2 for half-width chroma, else 1
    int32_t m_vUpsample;      // 2 for half-height chroma, else 1
    int32_t m_quantTableId;   // Tq, the whole byte
    int32_t m_dcTableId;      // Td of the current scan
    int32_t m_acTableId;      // Ta of the current scan
    int16_t m_dcPredictor;    // DC prediction of the entropy decoder
    uint8_t* m_samples;          // full-resolution samples
    uint8_t* m_borderedSamples;  // samples with a one-sample border
    uint8_t* m_savedRow;         // last chroma row of the previous MCU row (4:2:0)
    // Bytes allocated for each buffer, which may exceed what a frame uses.
    int32_t m_samplesCapacity;
    int32_t m_borderedCapacity;
    int32_t m_savedRowCapacity;
};
