// Parsers for two Windows resource formats, for tests that inspect the
// resources compiled into wemb.dll: the extended dialog template
// (DLGTEMPLATEEX with its DLGITEMTEMPLATEEX items) and the version record
// (VS_VERSIONINFO with VS_FIXEDFILEINFO and its string and variable tables).
//
// Both read little-endian data with every access bounds-checked; a damaged
// resource makes the parser return false with a message.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace winres {

// A "sz_Or_Ord" field of a dialog template: absent, an ordinal (a predefined
// window class atom such as 0x0080 for "button"), or a UTF-16 text.
struct NameOrOrdinal {
    enum Kind { None, Ordinal, Text } kind = None;
    uint16_t ordinal = 0;
    std::u16string text;
};

struct DialogItem {
    uint32_t helpId = 0;
    uint32_t exStyle = 0;
    uint32_t style = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    int32_t id = 0;
    NameOrOrdinal windowClass;
    NameOrOrdinal title;
    uint16_t extraCount = 0;
};

struct DialogEx {
    uint16_t version = 0;    // dlgVer, 1 for the extended form
    uint16_t signature = 0;  // 0xFFFF for the extended form
    uint32_t helpId = 0;
    uint32_t exStyle = 0;
    uint32_t style = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    NameOrOrdinal menu;
    NameOrOrdinal windowClass;
    std::u16string title;
    bool hasFont = false;  // present when the style has DS_SETFONT (or DS_SHELLFONT)
    uint16_t pointSize = 0;
    uint16_t weight = 0;
    uint8_t italic = 0;
    uint8_t charset = 0;
    std::u16string typeface;
    std::vector<DialogItem> items;
};

// Parses an extended dialog template; rejects the classic DLGTEMPLATE form.
bool ParseDialogEx(const std::vector<uint8_t>& data, DialogEx* dialog, std::string* error);

// One node of a version record: a key, a value (text or bytes) and children.
struct VersionNode {
    std::u16string key;
    uint16_t type = 0;            // 1: text value, 0: binary value
    std::u16string text;          // the value of a text node, up to its zero
    std::vector<uint8_t> binary;  // the value of a binary node
    std::vector<VersionNode> children;

    // The first child with `childKey`; null when there is none.
    const VersionNode* Child(const std::u16string& childKey) const;
};

// VS_FIXEDFILEINFO, the binary value of the root node.
struct FixedFileInfo {
    uint32_t signature = 0;  // 0xFEEF04BD
    uint32_t structVersion = 0;
    uint32_t fileVersionMs = 0, fileVersionLs = 0;
    uint32_t productVersionMs = 0, productVersionLs = 0;
    uint32_t fileFlagsMask = 0;
    uint32_t fileFlags = 0;
    uint32_t fileOs = 0;
    uint32_t fileType = 0;
    uint32_t fileSubtype = 0;
    uint32_t fileDateMs = 0, fileDateLs = 0;
};

// Parses a VS_VERSIONINFO resource into its node tree.
bool ParseVersionInfo(const std::vector<uint8_t>& data, VersionNode* root, std::string* error);

// Reads the VS_FIXEDFILEINFO out of the root node's value.
bool ReadFixedFileInfo(const VersionNode& root, FixedFileInfo* info, std::string* error);

}  // namespace winres
