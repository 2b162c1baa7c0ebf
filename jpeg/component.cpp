#include "jpeg/component.h"

CJPEGColorComponent::CJPEGColorComponent()
    : m_samples(nullptr),
      m_borderedSamples(nullptr),
      m_savedRow(nullptr),
      m_samplesCapacity(0),
      m_borderedCapacity(0),
      m_savedRowCapacity(0) {
    ResetFields();
}

CJPEGColorComponent::~CJPEGColorComponent() {
    AlignedFree(m_samples);
    AlignedFree(m_borderedSamples);
    AlignedFree(m_savedRow);
}

void CJPEGColorComponent::ResetFields() {
    m_componentId = 0;
    m_frameIndex = 0;
    m_hBlocks = 0;
    m_vBlocks = 0;
    m_hUpsample = 0;
    m_vUpsample = 0;
    m_quantTableId = 0;
    m_dcTableId = 0;
    m_acTableId = 0;
    m_dcPredictor = 0;
}
