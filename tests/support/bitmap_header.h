// The BITMAPINFOHEADER a host hands the codec: one plane, no colour table.
// Shared by the driver tests and the Wine host program, so it builds against
// the SDK headers as well as our own.
#pragma once

#include "platform/vfw.h"

inline BITMAPINFOHEADER BitmapHeader(LONG width, LONG height, DWORD compression,
                                     WORD bitCount = 24) {
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = bitCount;
    header.biCompression = compression;
    return header;
}
