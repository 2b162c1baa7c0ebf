#include "support/pe_file.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <utility>

namespace pe {

namespace {

// Fixed offsets of the PE format (Microsoft PE/COFF specification).
constexpr uint32_t kDosMagic = 0x5A4D;         // "MZ"
constexpr uint32_t kDosPeOffsetField = 0x3C;   // e_lfanew
constexpr uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr uint32_t kCoffHeaderSize = 20;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kDirectoryCountField32 = 92;   // NumberOfRvaAndSizes, PE32
constexpr uint32_t kDirectoryCountField64 = 108;  // NumberOfRvaAndSizes, PE32+
constexpr uint32_t kExportDirectory = 0;
constexpr uint32_t kImportDirectory = 1;
constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kDelayImportDirectory = 13;
constexpr uint32_t kImportDescriptorSize = 20;
constexpr uint32_t kDelayDescriptorSize = 32;
constexpr uint32_t kHighBit = 0x80000000u;
constexpr int kResourceLevels = 3;      // type, id, language
constexpr uint32_t kMaxEntries = 4096;  // bounds loops on damaged images

bool Fail(std::string* error, const std::string& message) {
    if (error != nullptr) *error = message;
    return false;
}

}  // namespace

bool PeFile::Load(const std::string& path, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return Fail(error, "cannot open " + path);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                               std::istreambuf_iterator<char>());
    if (file.bad()) return Fail(error, "cannot read " + path);
    return Parse(std::move(bytes), error);
}

bool PeFile::Parse(std::vector<uint8_t> bytes, std::string* error) {
    *this = PeFile();
    bytes_ = std::move(bytes);
    if (!ParseHeaders(error)) return false;
    const auto directory = [this](uint32_t index) {
        return index < directories_.size() ? directories_[index]
                                           : std::pair<uint32_t, uint32_t>(0, 0);
    };
    if (directory(kExportDirectory).first != 0 &&
        !ParseExports(directory(kExportDirectory).first, directory(kExportDirectory).second,
                      error)) {
        return false;
    }
    if (directory(kImportDirectory).first != 0 &&
        !ParseImports(directory(kImportDirectory).first, error)) {
        return false;
    }
    if (directory(kDelayImportDirectory).first != 0 &&
        !ParseDelayImports(directory(kDelayImportDirectory).first, error)) {
        return false;
    }
    if (directory(kResourceDirectory).first != 0 &&
        !ParseResources(directory(kResourceDirectory).first, error)) {
        return false;
    }
    return true;
}

bool PeFile::ParseHeaders(std::string* error) {
    uint16_t dosMagic = 0;
    uint32_t peOffset = 0;
    if (!Read16(0, &dosMagic) || dosMagic != kDosMagic) return Fail(error, "no MZ header");
    if (!Read32(kDosPeOffsetField, &peOffset)) return Fail(error, "truncated DOS header");
    uint32_t signature = 0;
    if (!Read32(peOffset, &signature) || signature != kPeSignature) {
        return Fail(error, "no PE signature");
    }
    const uint64_t coff = uint64_t{peOffset} + 4;
    uint16_t sectionCount = 0, optionalSize = 0;
    if (!Read16(coff, &machine_) || !Read16(coff + 2, &sectionCount) ||
        !Read16(coff + 16, &optionalSize) || !Read16(coff + 18, &characteristics_)) {
        return Fail(error, "truncated COFF header");
    }
    const uint64_t optional = coff + kCoffHeaderSize;
    if (!Read16(optional, &magic_)) return Fail(error, "truncated optional header");
    if (magic_ != kMagicPe32 && magic_ != kMagicPe32Plus) {
        return Fail(error, "unknown optional header magic");
    }
    const uint32_t countField =
        magic_ == kMagicPe32 ? kDirectoryCountField32 : kDirectoryCountField64;
    uint32_t directoryCount = 0;
    if (countField + 4 > optionalSize || !Read32(optional + countField, &directoryCount)) {
        return Fail(error, "truncated optional header");
    }
    if (countField + 4 + uint64_t{directoryCount} * 8 > optionalSize) {
        return Fail(error, "data directories overrun the optional header");
    }
    for (uint32_t i = 0; i < directoryCount; ++i) {
        uint32_t rva = 0, size = 0;
        const uint64_t entry = optional + countField + 4 + uint64_t{i} * 8;
        if (!Read32(entry, &rva) || !Read32(entry + 4, &size)) {
            return Fail(error, "truncated data directory");
        }
        directories_.emplace_back(rva, size);
    }
    const uint64_t sectionTable = optional + optionalSize;
    for (uint32_t i = 0; i < sectionCount; ++i) {
        const uint64_t header = sectionTable + uint64_t{i} * kSectionHeaderSize;
        if (header + kSectionHeaderSize > bytes_.size()) {
            return Fail(error, "truncated section table");
        }
        Section section;
        for (int c = 0; c < 8 && bytes_[header + c] != 0; ++c) {
            section.name += static_cast<char>(bytes_[header + c]);
        }
        Read32(header + 8, &section.virtualSize);
        Read32(header + 12, &section.virtualAddress);
        Read32(header + 16, &section.rawSize);
        Read32(header + 20, &section.rawOffset);
        Read32(header + 36, &section.characteristics);
        sections_.push_back(section);
    }
    return true;
}

bool PeFile::ParseExports(uint32_t rva, uint32_t size, std::string* error) {
    uint32_t nameRva = 0, base = 0, functionCount = 0, nameCount = 0;
    uint32_t functionsRva = 0, namesRva = 0, ordinalsRva = 0;
    if (!ReadRva32(rva + 12, &nameRva) || !ReadRva32(rva + 16, &base) ||
        !ReadRva32(rva + 20, &functionCount) || !ReadRva32(rva + 24, &nameCount) ||
        !ReadRva32(rva + 28, &functionsRva) || !ReadRva32(rva + 32, &namesRva) ||
        !ReadRva32(rva + 36, &ordinalsRva)) {
        return Fail(error, "truncated export directory");
    }
    if (functionCount > kMaxEntries || nameCount > kMaxEntries) {
        return Fail(error, "implausible export counts");
    }
    exportFunctionCount_ = functionCount;
    if (nameRva != 0 && !ReadAsciiAtRva(nameRva, &exportModuleName_)) {
        return Fail(error, "bad export module name");
    }
    for (uint32_t i = 0; i < nameCount; ++i) {
        uint32_t entryNameRva = 0;
        uint16_t index = 0;
        Export entry;
        if (!ReadRva32(namesRva + 4 * i, &entryNameRva) ||
            !ReadRva16(ordinalsRva + 2 * i, &index) || !ReadAsciiAtRva(entryNameRva, &entry.name)) {
            return Fail(error, "bad export name table");
        }
        if (index >= functionCount || !ReadRva32(functionsRva + 4 * uint32_t{index}, &entry.rva)) {
            return Fail(error, "export name points outside the function table");
        }
        entry.ordinal = base + index;
        // An address inside the export directory itself is a forwarder's text.
        entry.forwarder = entry.rva >= rva && entry.rva - rva < size;
        exports_.push_back(entry);
    }
    return true;
}

bool PeFile::ParseImports(uint32_t rva, std::string* error) {
    for (uint32_t i = 0; i < kMaxEntries; ++i) {
        const uint32_t descriptor = rva + i * kImportDescriptorSize;
        uint32_t lookup = 0, nameRva = 0, thunks = 0;
        if (!ReadRva32(descriptor, &lookup) || !ReadRva32(descriptor + 12, &nameRva) ||
            !ReadRva32(descriptor + 16, &thunks)) {
            return Fail(error, "truncated import directory");
        }
        if (lookup == 0 && nameRva == 0 && thunks == 0) return true;  // the closing entry
        std::string name;
        if (!ReadAsciiAtRva(nameRva, &name)) return Fail(error, "bad imported DLL name");
        importedDlls_.push_back(name);
    }
    return Fail(error, "import directory has no closing entry");
}

bool PeFile::ParseDelayImports(uint32_t rva, std::string* error) {
    for (uint32_t i = 0; i < kMaxEntries; ++i) {
        const uint32_t descriptor = rva + i * kDelayDescriptorSize;
        uint32_t attributes = 0, nameRva = 0;
        if (!ReadRva32(descriptor, &attributes) || !ReadRva32(descriptor + 4, &nameRva)) {
            return Fail(error, "truncated delay import directory");
        }
        if (nameRva == 0) return true;
        std::string name;
        if (!ReadAsciiAtRva(nameRva, &name)) return Fail(error, "bad delay-loaded DLL name");
        importedDlls_.push_back(name);
    }
    return Fail(error, "delay import directory has no closing entry");
}

bool PeFile::ParseResources(uint32_t rva, std::string* error) {
    std::vector<ResourceKey> path;
    return ParseResourceDirectory(rva, 0, 0, path, error);
}

// One IMAGE_RESOURCE_DIRECTORY at `offset` from the resource section's start
// (`base`, an RVA): 16 bytes of header with the named and numbered entry
// counts, then 8-byte entries. An entry's first word is an id, or (high bit)
// the offset of a counted UTF-16 name; its second word is the offset of a
// subdirectory (high bit) or of a data entry.
bool PeFile::ParseResourceDirectory(uint32_t base, uint32_t offset, int depth,
                                    std::vector<ResourceKey>& path, std::string* error) {
    if (depth >= kResourceLevels) return Fail(error, "resource tree deeper than three levels");
    uint16_t namedCount = 0, idCount = 0;
    if (!ReadRva16(base + offset + 12, &namedCount) || !ReadRva16(base + offset + 14, &idCount)) {
        return Fail(error, "truncated resource directory");
    }
    const uint32_t count = uint32_t{namedCount} + idCount;
    if (count > kMaxEntries) return Fail(error, "implausible resource directory");
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t entry = base + offset + 16 + 8 * i;
        uint32_t nameField = 0, target = 0;
        if (!ReadRva32(entry, &nameField) || !ReadRva32(entry + 4, &target)) {
            return Fail(error, "truncated resource entry");
        }
        ResourceKey key;
        if ((nameField & kHighBit) != 0) {
            key.isName = true;
            const uint32_t nameRva = base + (nameField & ~kHighBit);
            uint16_t length = 0;
            if (!ReadRva16(nameRva, &length)) return Fail(error, "bad resource name");
            for (uint32_t c = 0; c < length; ++c) {
                uint16_t unit = 0;
                if (!ReadRva16(nameRva + 2 + 2 * c, &unit)) return Fail(error, "bad resource name");
                key.name += static_cast<char16_t>(unit);
            }
        } else {
            key.id = nameField;
        }
        path.push_back(key);
        bool ok;
        if ((target & kHighBit) != 0) {
            ok = ParseResourceDirectory(base, target & ~kHighBit, depth + 1, path, error);
        } else if (depth != kResourceLevels - 1) {
            ok = Fail(error, "resource data above the language level");
        } else {
            uint32_t dataRva = 0, size = 0, codePage = 0, fileOffset = 0;
            ok = ReadRva32(base + target, &dataRva) && ReadRva32(base + target + 4, &size) &&
                 ReadRva32(base + target + 8, &codePage) && RvaToOffset(dataRva, size, &fileOffset);
            if (!ok) {
                Fail(error, "resource data outside the image");
            } else {
                Resource resource;
                resource.type = path[0];
                resource.id = path[1];
                resource.language = path[2].id;
                resource.codePage = codePage;
                resource.data.assign(bytes_.begin() + fileOffset,
                                     bytes_.begin() + fileOffset + size);
                resources_.push_back(std::move(resource));
            }
        }
        path.pop_back();
        if (!ok) return false;
    }
    return true;
}

const Resource* PeFile::FindResource(uint32_t type, uint32_t id, uint32_t language) const {
    for (const Resource& resource : resources_) {
        if (!resource.type.isName && resource.type.id == type && !resource.id.isName &&
            resource.id.id == id && resource.language == language) {
            return &resource;
        }
    }
    return nullptr;
}

std::vector<const Resource*> PeFile::FindResources(uint32_t type, uint32_t id) const {
    std::vector<const Resource*> found;
    for (const Resource& resource : resources_) {
        if (!resource.type.isName && resource.type.id == type && !resource.id.isName &&
            resource.id.id == id) {
            found.push_back(&resource);
        }
    }
    return found;
}

const Section* PeFile::SectionAt(uint32_t rva) const {
    for (const Section& section : sections_) {
        const uint32_t extent = std::max(section.virtualSize, section.rawSize);
        if (rva >= section.virtualAddress && rva - section.virtualAddress < extent) {
            return &section;
        }
    }
    return nullptr;
}

bool PeFile::Read16(uint64_t offset, uint16_t* value) const {
    if (offset + 2 > bytes_.size()) return false;
    *value = static_cast<uint16_t>(bytes_[offset] | (bytes_[offset + 1] << 8));
    return true;
}

bool PeFile::Read32(uint64_t offset, uint32_t* value) const {
    if (offset + 4 > bytes_.size()) return false;
    *value = uint32_t{bytes_[offset]} | (uint32_t{bytes_[offset + 1]} << 8) |
             (uint32_t{bytes_[offset + 2]} << 16) | (uint32_t{bytes_[offset + 3]} << 24);
    return true;
}

// Maps `length` bytes at `rva` to their place in the file; they must lie in
// the raw data of one section.
bool PeFile::RvaToOffset(uint32_t rva, uint32_t length, uint32_t* offset) const {
    for (const Section& section : sections_) {
        if (rva < section.virtualAddress) continue;
        const uint64_t within = uint64_t{rva} - section.virtualAddress;
        if (within + length > section.rawSize) continue;
        const uint64_t position = uint64_t{section.rawOffset} + within;
        if (position + length > bytes_.size()) return false;
        *offset = static_cast<uint32_t>(position);
        return true;
    }
    return false;
}

bool PeFile::ReadRva32(uint32_t rva, uint32_t* value) const {
    uint32_t offset = 0;
    return RvaToOffset(rva, 4, &offset) && Read32(offset, value);
}

bool PeFile::ReadRva16(uint32_t rva, uint16_t* value) const {
    uint32_t offset = 0;
    return RvaToOffset(rva, 2, &offset) && Read16(offset, value);
}

bool PeFile::ReadAsciiAtRva(uint32_t rva, std::string* text) const {
    uint32_t offset = 0;
    if (!RvaToOffset(rva, 1, &offset)) return false;
    text->clear();
    for (uint64_t at = offset; at < bytes_.size(); ++at) {
        if (bytes_[at] == 0) return true;
        text->push_back(static_cast<char>(bytes_[at]));
    }
    return false;  // no terminating zero before the end of the file
}

}  // namespace pe
