#include "driver/instance.h"

#include <new>

#include "jpeg/decoder.h"

DriverInstance::~DriverInstance() { delete decoder; }

CJPEGDecoder* DriverInstance::TakeDecoder() {
    if (decoderTaken.exchange(true, std::memory_order_acquire)) {
        return nullptr;
    }
    if (decoder == nullptr) {
        decoder = new (std::nothrow) CJPEGDecoder;
        if (decoder == nullptr) {
            decoderTaken.store(false, std::memory_order_release);
            return nullptr;
        }
    } else {
        decoder->BeginFrame();
    }
    return decoder;
}

void DriverInstance::ReturnDecoder() { decoderTaken.store(false, std::memory_order_release); }

void DriverInstance::ReleaseDecoder() {
    if (decoderTaken.exchange(true, std::memory_order_acquire)) {
        return;
    }
    delete decoder;
    decoder = nullptr;
    decoderTaken.store(false, std::memory_order_release);
}
