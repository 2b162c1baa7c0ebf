// The marker loop is not written yet: every stream is refused as unsupported.
#include "jpeg/decoder.h"

DecoderStatus CJPEGDecoder::RunMarkerLoop(MarkerPass) { return DecErrUnsupported; }
