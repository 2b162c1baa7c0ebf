// A small reader of Windows PE images (PE32 and PE32+), for tests that
// inspect the built wemb.dll on Linux: headers, sections, the export and
// import directories and the resource tree.
//
// Every read is bounds-checked against the file: a damaged or truncated
// image makes Load fail with a message, never read outside the bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pe {

constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kMachineAmd64 = 0x8664;
constexpr uint16_t kMagicPe32 = 0x010B;
constexpr uint16_t kMagicPe32Plus = 0x020B;
constexpr uint16_t kCharacteristicDll = 0x2000;

// Resource types (the RT_* values).
constexpr uint32_t kResourceDialog = 5;
constexpr uint32_t kResourceVersion = 16;
constexpr uint32_t kResourceManifest = 24;

struct Section {
    std::string name;
    uint32_t virtualAddress = 0;
    uint32_t virtualSize = 0;
    uint32_t rawOffset = 0;
    uint32_t rawSize = 0;
    uint32_t characteristics = 0;
};

struct Export {
    std::string name;
    uint32_t ordinal = 0;    // biased by the directory's base
    uint32_t rva = 0;        // the function's address
    bool forwarder = false;  // the name of a function in another DLL, not code here
};

// A resource identifier: a number, or a name when `isName`.
struct ResourceKey {
    bool isName = false;
    uint32_t id = 0;
    std::u16string name;
};

struct Resource {
    ResourceKey type;
    ResourceKey id;
    uint32_t language = 0;
    uint32_t codePage = 0;
    std::vector<uint8_t> data;
};

class PeFile {
public:
    // Reads and parses the image at `path`. On failure returns false and
    // puts the reason in *error.
    bool Load(const std::string& path, std::string* error);
    // As Load, from bytes already in memory.
    bool Parse(std::vector<uint8_t> bytes, std::string* error);

    uint16_t machine() const { return machine_; }
    uint16_t magic() const { return magic_; }
    uint16_t characteristics() const { return characteristics_; }
    const std::vector<Section>& sections() const { return sections_; }

    // The export directory: its module name, the number of function slots
    // and the named exports.
    const std::string& exportModuleName() const { return exportModuleName_; }
    uint32_t exportFunctionCount() const { return exportFunctionCount_; }
    const std::vector<Export>& exports() const { return exports_; }

    // Names of the DLLs the image imports, in directory order: ordinary
    // imports, then delay-loaded ones.
    const std::vector<std::string>& importedDlls() const { return importedDlls_; }

    const std::vector<Resource>& resources() const { return resources_; }
    // The resource with numeric type and id in `language`; null when absent.
    const Resource* FindResource(uint32_t type, uint32_t id, uint32_t language) const;
    // Every resource with numeric type and id, in any language.
    std::vector<const Resource*> FindResources(uint32_t type, uint32_t id) const;

    // The section that holds `rva`; null when none does.
    const Section* SectionAt(uint32_t rva) const;

private:
    bool ParseHeaders(std::string* error);
    bool ParseExports(uint32_t rva, uint32_t size, std::string* error);
    bool ParseImports(uint32_t rva, std::string* error);
    bool ParseDelayImports(uint32_t rva, std::string* error);
    bool ParseResources(uint32_t rva, std::string* error);
    bool ParseResourceDirectory(uint32_t base, uint32_t offset, int depth,
                                std::vector<ResourceKey>& path, std::string* error);

    // Bounds-checked access to the file and to the mapped image by RVA.
    bool Read16(uint64_t offset, uint16_t* value) const;
    bool Read32(uint64_t offset, uint32_t* value) const;
    bool RvaToOffset(uint32_t rva, uint32_t length, uint32_t* offset) const;
    bool ReadRva32(uint32_t rva, uint32_t* value) const;
    bool ReadRva16(uint32_t rva, uint16_t* value) const;
    bool ReadAsciiAtRva(uint32_t rva, std::string* text) const;

    std::vector<uint8_t> bytes_;
    uint16_t machine_ = 0;
    uint16_t magic_ = 0;
    uint16_t characteristics_ = 0;
    std::vector<Section> sections_;
    std::vector<std::pair<uint32_t, uint32_t>> directories_;  // (rva, size)
    std::string exportModuleName_;
    uint32_t exportFunctionCount_ = 0;
    std::vector<Export> exports_;
    std::vector<std::string> importedDlls_;
    std::vector<Resource> resources_;
};

}  // namespace pe
