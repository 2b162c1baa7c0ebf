#include "support/win_resources.h"

#include <algorithm>

namespace winres {

namespace {

constexpr uint32_t kDsSetFont = 0x40;
constexpr uint32_t kDsShellFont = 0x48;  // DS_SETFONT | DS_FIXEDSYS
constexpr uint16_t kExtendedSignature = 0xFFFF;
constexpr uint32_t kFixedFileInfoSize = 52;
constexpr int kMaxVersionDepth = 8;

bool Fail(std::string* error, const std::string& message) {
    if (error != nullptr) *error = message;
    return false;
}

// A bounds-checked little-endian cursor over a resource.
class Reader {
public:
    Reader(const std::vector<uint8_t>& data, size_t end) : data_(data), end_(end) {}

    size_t position() const { return position_; }
    void Seek(size_t position) { position_ = position; }
    // Dialog items and version nodes start on 32-bit boundaries, counted
    // from the start of the resource.
    void AlignTo4() { position_ = (position_ + 3) & ~size_t{3}; }

    bool U8(uint8_t* value) {
        if (position_ + 1 > end_) return false;
        *value = data_[position_];
        position_ += 1;
        return true;
    }
    bool U16(uint16_t* value) {
        if (position_ + 2 > end_) return false;
        *value = static_cast<uint16_t>(data_[position_] | (data_[position_ + 1] << 8));
        position_ += 2;
        return true;
    }
    bool I16(int16_t* value) {
        uint16_t raw = 0;
        if (!U16(&raw)) return false;
        *value = static_cast<int16_t>(raw);
        return true;
    }
    bool U32(uint32_t* value) {
        uint16_t low = 0, high = 0;
        if (!U16(&low) || !U16(&high)) return false;
        *value = uint32_t{low} | (uint32_t{high} << 16);
        return true;
    }
    // A zero-terminated UTF-16 text; the zero is consumed, not stored.
    bool Text(std::u16string* text) {
        text->clear();
        uint16_t unit = 0;
        while (U16(&unit)) {
            if (unit == 0) return true;
            text->push_back(static_cast<char16_t>(unit));
        }
        return false;
    }
    bool NameOrOrd(NameOrOrdinal* field) {
        uint16_t first = 0;
        if (!U16(&first)) return false;
        if (first == 0x0000) {
            field->kind = NameOrOrdinal::None;
            return true;
        }
        if (first == 0xFFFF) {
            field->kind = NameOrOrdinal::Ordinal;
            return U16(&field->ordinal);
        }
        field->kind = NameOrOrdinal::Text;
        position_ -= 2;
        return Text(&field->text);
    }

private:
    const std::vector<uint8_t>& data_;
    size_t end_;
    size_t position_ = 0;
};

bool ParseItem(Reader& in, DialogItem* item) {
    in.AlignTo4();
    if (!in.U32(&item->helpId) || !in.U32(&item->exStyle) || !in.U32(&item->style) ||
        !in.I16(&item->x) || !in.I16(&item->y) || !in.I16(&item->cx) || !in.I16(&item->cy)) {
        return false;
    }
    uint32_t id = 0;
    if (!in.U32(&id)) return false;
    item->id = static_cast<int32_t>(id);
    if (!in.NameOrOrd(&item->windowClass) || !in.NameOrOrd(&item->title) ||
        !in.U16(&item->extraCount)) {
        return false;
    }
    // Creation data, when present, follows the count.
    in.Seek(in.position() + item->extraCount);
    return true;
}

// One version node (wLength, wValueLength, wType, szKey, padding, Value,
// padding, Children), `start` bytes into the resource.
bool ParseVersionNode(const std::vector<uint8_t>& data, size_t start, size_t limit, int depth,
                      VersionNode* node, size_t* next, std::string* error) {
    if (depth > kMaxVersionDepth) return Fail(error, "version record nested too deeply");
    Reader header(data, limit);
    header.Seek(start);
    uint16_t length = 0, valueLength = 0;
    if (!header.U16(&length) || !header.U16(&valueLength) || !header.U16(&node->type)) {
        return Fail(error, "truncated version node header");
    }
    const size_t end = start + length;
    if (length < 6 || end > limit) return Fail(error, "version node overruns its parent");
    Reader in(data, end);
    in.Seek(header.position());
    if (!in.Text(&node->key)) return Fail(error, "unterminated version node key");
    in.AlignTo4();
    if (node->type == 1) {
        // A text value: wValueLength counts UTF-16 units; read up to the zero.
        if (valueLength > 0) {
            const size_t valueStart = in.position();
            if (!in.Text(&node->text)) return Fail(error, "unterminated version text value");
            in.Seek(std::max(in.position(), valueStart + size_t{valueLength} * 2));
        }
    } else {
        if (in.position() + valueLength > end) return Fail(error, "version value overruns node");
        node->binary.assign(data.begin() + in.position(),
                            data.begin() + in.position() + valueLength);
        in.Seek(in.position() + valueLength);
    }
    in.AlignTo4();
    size_t at = in.position();
    while (at + 6 <= end) {
        VersionNode child;
        size_t after = 0;
        if (!ParseVersionNode(data, at, end, depth + 1, &child, &after, error)) return false;
        node->children.push_back(std::move(child));
        at = (after + 3) & ~size_t{3};
    }
    *next = end;
    return true;
}

uint32_t Le32(const std::vector<uint8_t>& bytes, size_t at) {
    return uint32_t{bytes[at]} | (uint32_t{bytes[at + 1]} << 8) | (uint32_t{bytes[at + 2]} << 16) |
           (uint32_t{bytes[at + 3]} << 24);
}

}  // namespace

bool ParseDialogEx(const std::vector<uint8_t>& data, DialogEx* dialog, std::string* error) {
    *dialog = DialogEx();
    Reader in(data, data.size());
    uint16_t itemCount = 0;
    if (!in.U16(&dialog->version) || !in.U16(&dialog->signature)) {
        return Fail(error, "truncated dialog template");
    }
    if (dialog->version != 1 || dialog->signature != kExtendedSignature) {
        return Fail(error, "not an extended dialog template");
    }
    if (!in.U32(&dialog->helpId) || !in.U32(&dialog->exStyle) || !in.U32(&dialog->style) ||
        !in.U16(&itemCount) || !in.I16(&dialog->x) || !in.I16(&dialog->y) || !in.I16(&dialog->cx) ||
        !in.I16(&dialog->cy) || !in.NameOrOrd(&dialog->menu) ||
        !in.NameOrOrd(&dialog->windowClass) || !in.Text(&dialog->title)) {
        return Fail(error, "truncated dialog header");
    }
    dialog->hasFont = (dialog->style & kDsSetFont) != 0 || (dialog->style & kDsShellFont) != 0;
    if (dialog->hasFont &&
        (!in.U16(&dialog->pointSize) || !in.U16(&dialog->weight) || !in.U8(&dialog->italic) ||
         !in.U8(&dialog->charset) || !in.Text(&dialog->typeface))) {
        return Fail(error, "truncated dialog font");
    }
    for (uint16_t i = 0; i < itemCount; ++i) {
        DialogItem item;
        if (!ParseItem(in, &item)) return Fail(error, "truncated dialog item");
        dialog->items.push_back(std::move(item));
    }
    return true;
}

const VersionNode* VersionNode::Child(const std::u16string& childKey) const {
    for (const VersionNode& child : children) {
        if (child.key == childKey) return &child;
    }
    return nullptr;
}

bool ParseVersionInfo(const std::vector<uint8_t>& data, VersionNode* root, std::string* error) {
    *root = VersionNode();
    size_t next = 0;
    return ParseVersionNode(data, 0, data.size(), 0, root, &next, error);
}

bool ReadFixedFileInfo(const VersionNode& root, FixedFileInfo* info, std::string* error) {
    if (root.type != 0 || root.binary.size() != kFixedFileInfoSize) {
        return Fail(error, "the root value is not a VS_FIXEDFILEINFO");
    }
    uint32_t* fields[] = {&info->signature,     &info->structVersion,    &info->fileVersionMs,
                          &info->fileVersionLs, &info->productVersionMs, &info->productVersionLs,
                          &info->fileFlagsMask, &info->fileFlags,        &info->fileOs,
                          &info->fileType,      &info->fileSubtype,      &info->fileDateMs,
                          &info->fileDateLs};
    for (size_t i = 0; i < sizeof(fields) / sizeof(fields[0]); ++i) {
        *fields[i] = Le32(root.binary, 4 * i);
    }
    return true;
}

}  // namespace winres
