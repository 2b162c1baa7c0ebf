// The scans of a progressive frame decoded on several threads at once.
#include "jpeg/decoder.h"

void CJPEGDecoder::WaitForBlocks(ScanWaits* waits, int32_t blocks) {
    (void)waits;
    (void)blocks;
}

void CJPEGDecoder::PublishBlocks(ScanWaits* waits, int32_t blocks) {
    (void)waits;
    (void)blocks;
}
