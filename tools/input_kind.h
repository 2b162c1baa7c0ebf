// What an input file holds, told from its first bytes: the host reads AVI
// files and JPEG frames and refuses anything else before decoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

enum class InputKind {
    Avi,       // RIFF ... 'AVI '
    Jpeg,      // starts with the SOI marker FF D8
    Unusable,  // anything else; the caller is told what it is
};

// The first bytes of an input to look at: a RIFF header is 12 bytes.
constexpr size_t kInputHeadBytes = 12;

// Classifies an input of `size` bytes whose first min(size, 12) bytes are
// `head`. For an unusable one, `what` says what it is, for a message
// "NAME: WHAT": "an empty file", "a RIFF file of form 'WAVE', not an AVI
// file", ...
InputKind ClassifyInput(const uint8_t* head, size_t size, std::string* what);

// The same for a file (not standard input). A file that cannot be read is
// Unusable with the reason.
InputKind ClassifyFile(const std::string& path, std::string* what);
