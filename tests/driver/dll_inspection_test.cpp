// Inspects the wemb.dll files of the two Windows builds (presets win32 and
// win64) as a host and the Windows loader see them: the one export, the DLLs
// it depends on, and the About dialog, version record and manifest compiled
// into it. Each build is skipped while its DLL has not been built, unless the
// environment has WEMB_REQUIRE_WINDOWS=1 (as in CI), which makes a missing
// DLL a failure.
//
// The expected values are the documented ones, written out here with the
// Windows SDK's numeric values for the style and version constants.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "support/pe_file.h"
#include "support/win_resources.h"

namespace {

// Window and control styles (winuser.h values).
constexpr uint32_t WS_POPUP = 0x80000000u;
constexpr uint32_t WS_CHILD = 0x40000000u;
constexpr uint32_t WS_VISIBLE = 0x10000000u;
constexpr uint32_t WS_CAPTION = 0x00C00000u;
constexpr uint32_t WS_SYSMENU = 0x00080000u;
constexpr uint32_t WS_GROUP = 0x00020000u;
constexpr uint32_t WS_TABSTOP = 0x00010000u;
constexpr uint32_t DS_MODALFRAME = 0x80u;
constexpr uint32_t DS_SETFONT = 0x40u;
constexpr uint32_t BS_DEFPUSHBUTTON = 0x1u;
constexpr uint32_t SS_LEFT = 0x0u;

// Predefined window classes, as atoms in a dialog template.
constexpr uint16_t kButtonClass = 0x0080;
constexpr uint16_t kStaticClass = 0x0082;

constexpr uint32_t kRussian = 0x0419;  // MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT)
constexpr uint32_t kAboutDialogId = 101;
constexpr uint32_t kVersionId = 1;   // VS_VERSION_INFO
constexpr uint32_t kManifestId = 2;  // ISOLATIONAWARE_MANIFEST_RESOURCE_ID

// winver.h values.
constexpr uint32_t kFixedFileInfoSignature = 0xFEEF04BDu;
constexpr uint32_t VOS_NT_WINDOWS32 = 0x00040004u;
constexpr uint32_t VFT_DLL = 0x2u;

constexpr uint32_t kSectionExecutable = 0x20000000u;  // IMAGE_SCN_MEM_EXECUTE

struct DllBuild {
    const char* preset;
    const char* path;
    uint16_t machine;
    uint16_t magic;
};

// Names a build in test output.
void PrintTo(const DllBuild& build, std::ostream* out) { *out << build.preset; }

const DllBuild kBuilds[] = {
    {"win32", WEMB_WIN32_DLL, pe::kMachineI386, pe::kMagicPe32},
    {"win64", WEMB_WIN64_DLL, pe::kMachineAmd64, pe::kMagicPe32Plus},
};

std::string Ascii(const std::u16string& text) {
    std::string result;
    for (char16_t unit : text) result += unit < 0x80 ? static_cast<char>(unit) : '?';
    return result;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Whether the Windows builds must be there: a run that means to check them
// must not pass by skipping.
bool WindowsBuildsRequired() {
    const char* value = std::getenv("WEMB_REQUIRE_WINDOWS");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

class DllInspection : public ::testing::TestWithParam<DllBuild> {
protected:
    void SetUp() override {
        const DllBuild& build = GetParam();
        if (!std::ifstream(build.path).good()) {
            if (WindowsBuildsRequired()) {
                FAIL() << build.path << " is not built, and WEMB_REQUIRE_WINDOWS=1 forbids "
                       << "skipping: cmake --preset " << build.preset << " && cmake --build build/"
                       << build.preset;
            }
            GTEST_SKIP() << build.path << " is not built: cmake --preset " << build.preset
                         << " && cmake --build build/" << build.preset;
        }
        std::string error;
        ASSERT_TRUE(dll_.Load(build.path, &error)) << build.path << ": " << error;
    }

    pe::PeFile dll_;
};

TEST_P(DllInspection, IsADllForItsMachine) {
    EXPECT_EQ(dll_.machine(), GetParam().machine);
    EXPECT_EQ(dll_.magic(), GetParam().magic);
    EXPECT_NE(dll_.characteristics() & pe::kCharacteristicDll, 0) << "not marked as a DLL";
}

// Hosts find the driver entry by the plain name DriverProc; a 32-bit stdcall
// decoration (DriverProc@20, _DriverProc@20) would make it unreachable.
TEST_P(DllInspection, ExportsDriverProcAloneUndecorated) {
    EXPECT_EQ(Lower(dll_.exportModuleName()), "wemb.dll");
    EXPECT_EQ(dll_.exportFunctionCount(), 1u);
    ASSERT_EQ(dll_.exports().size(), 1u);
    const pe::Export& entry = dll_.exports()[0];
    EXPECT_EQ(entry.name, "DriverProc");
    EXPECT_FALSE(entry.forwarder);
    const pe::Section* section = dll_.SectionAt(entry.rva);
    ASSERT_NE(section, nullptr) << "DriverProc's address lies in no section";
    EXPECT_NE(section->characteristics & kSectionExecutable, 0u)
        << "DriverProc's address lies in non-executable section " << section->name;
}

// The module is loaded into any host process, so it may depend on system
// DLLs only: never on a compiler's run-time DLL, which hosts do not ship.
TEST_P(DllInspection, ImportsSystemDllsOnly) {
    const std::vector<std::string> allowed = {"kernel32.dll", "user32.dll",   "winmm.dll",
                                              "msvcrt.dll",   "advapi32.dll", "ntdll.dll",
                                              "ucrtbase.dll"};
    const std::vector<std::string> runtimes = {"libgcc", "libstdc++", "libwinpthread"};
    std::vector<std::string> imported;
    for (const std::string& name : dll_.importedDlls()) imported.push_back(Lower(name));
    ASSERT_FALSE(imported.empty());
    for (const std::string& name : imported) {
        for (const std::string& runtime : runtimes) {
            EXPECT_FALSE(StartsWith(name, runtime)) << "imports compiler run-time " << name;
        }
        const bool isAllowed = std::find(allowed.begin(), allowed.end(), name) != allowed.end() ||
                               StartsWith(name, "api-ms-win-crt-");
        EXPECT_TRUE(isAllowed) << "imports " << name << ", not a system DLL";
    }
    // DefDriverProc lives in WINMM, the About box's functions in USER32.
    EXPECT_NE(std::find(imported.begin(), imported.end(), "winmm.dll"), imported.end());
    EXPECT_NE(std::find(imported.begin(), imported.end(), "user32.dll"), imported.end());
}

struct ExpectedControl {
    uint16_t classAtom;
    int32_t id;
    int16_t x, y, cx, cy;
    uint32_t style;
    const char16_t* text;  // null: any non-empty text (its wording is free)
};

TEST_P(DllInspection, AboutDialogIsTheDocumentedRussianTemplate) {
    const pe::Resource* resource = dll_.FindResource(pe::kResourceDialog, kAboutDialogId, kRussian);
    ASSERT_NE(resource, nullptr) << "no dialog 101 in language 0x0419";
    winres::DialogEx dialog;
    std::string error;
    ASSERT_TRUE(winres::ParseDialogEx(resource->data, &dialog, &error)) << error;

    EXPECT_EQ(dialog.version, 1);
    EXPECT_EQ(dialog.signature, 0xFFFF);
    EXPECT_EQ(dialog.style, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT);
    EXPECT_EQ(dialog.exStyle, 0u);
    EXPECT_EQ(dialog.helpId, 0u);
    EXPECT_EQ(dialog.menu.kind, winres::NameOrOrdinal::None);
    EXPECT_EQ(dialog.windowClass.kind, winres::NameOrOrdinal::None);
    EXPECT_EQ(dialog.x, 0);
    EXPECT_EQ(dialog.y, 0);
    EXPECT_EQ(dialog.cx, 156);
    EXPECT_EQ(dialog.cy, 73);
    EXPECT_EQ(Ascii(dialog.title), "Torvane");
    ASSERT_TRUE(dialog.hasFont);
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.weight, 0);
    EXPECT_EQ(dialog.italic, 0);
    EXPECT_EQ(dialog.charset, 0);
    EXPECT_EQ(Ascii(dialog.typeface), "MS Sans Serif");

    const uint32_t textStyle = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT;
    const ExpectedControl expected[] = {
        {kButtonClass, 1, 53, 52, 50, 14, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
         u"OK"},
        {kStaticClass, -1, 21, 7, 88, 8, textStyle, u"Torvane WEMB video codec"},
        {kStaticClass, -1, 33, 28, 89, 8, textStyle, nullptr},
    };
    ASSERT_EQ(dialog.items.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE("control " + std::to_string(i));
        const winres::DialogItem& item = dialog.items[i];
        const ExpectedControl& want = expected[i];
        EXPECT_EQ(item.windowClass.kind, winres::NameOrOrdinal::Ordinal);
        EXPECT_EQ(item.windowClass.ordinal, want.classAtom);
        EXPECT_EQ(item.id, want.id);
        EXPECT_EQ(item.x, want.x);
        EXPECT_EQ(item.y, want.y);
        EXPECT_EQ(item.cx, want.cx);
        EXPECT_EQ(item.cy, want.cy);
        EXPECT_EQ(item.style, want.style) << std::hex << item.style;
        EXPECT_EQ(item.exStyle, 0u);
        EXPECT_EQ(item.helpId, 0u);
        EXPECT_EQ(item.extraCount, 0);
        ASSERT_EQ(item.title.kind, winres::NameOrOrdinal::Text);
        if (want.text != nullptr) {
            EXPECT_EQ(Ascii(item.title.text), Ascii(want.text));
        } else {
            EXPECT_FALSE(item.title.text.empty());
        }
    }
}

TEST_P(DllInspection, VersionRecordIsTheDocumentedOne) {
    const pe::Resource* resource = dll_.FindResource(pe::kResourceVersion, kVersionId, kRussian);
    ASSERT_NE(resource, nullptr) << "no version record in language 0x0419";
    winres::VersionNode root;
    winres::FixedFileInfo fixed;
    std::string error;
    ASSERT_TRUE(winres::ParseVersionInfo(resource->data, &root, &error)) << error;
    EXPECT_EQ(Ascii(root.key), "VS_VERSION_INFO");
    ASSERT_TRUE(winres::ReadFixedFileInfo(root, &fixed, &error)) << error;

    EXPECT_EQ(fixed.signature, kFixedFileInfoSignature);
    EXPECT_EQ(fixed.fileVersionMs, 0x00010000u);  // 1.0
    EXPECT_EQ(fixed.fileVersionLs, 0x00000001u);  // .0.1
    EXPECT_EQ(fixed.productVersionMs, 0x00010000u);
    EXPECT_EQ(fixed.productVersionLs, 0x00000001u);
    EXPECT_EQ(fixed.fileFlagsMask, 0x3Fu);
    EXPECT_EQ(fixed.fileFlags, 0u);
    EXPECT_EQ(fixed.fileOs, VOS_NT_WINDOWS32);
    EXPECT_EQ(fixed.fileType, VFT_DLL);
    EXPECT_EQ(fixed.fileSubtype, 0u);

    const winres::VersionNode* strings = root.Child(u"StringFileInfo");
    ASSERT_NE(strings, nullptr);
    const winres::VersionNode* table = strings->Child(u"041904b0");
    ASSERT_NE(table, nullptr) << "no string table 041904b0";
    const std::pair<const char16_t*, const char*> documented[] = {
        {u"CompanyName", "Torvane"},       {u"FileDescription", "Torvane WEMB video codec"},
        {u"FileVersion", "1, 0, 0, 1"},    {u"InternalName", "wemb"},
        {u"OriginalFilename", "wemb.dll"}, {u"ProductVersion", "1, 0, 0, 1"},
    };
    for (const auto& [key, value] : documented) {
        const winres::VersionNode* entry = table->Child(key);
        ASSERT_NE(entry, nullptr) << "no " << Ascii(key);
        EXPECT_EQ(entry->type, 1) << Ascii(key) << " is not text";
        EXPECT_EQ(Ascii(entry->text), value) << Ascii(key);
    }
    const winres::VersionNode* product = table->Child(u"ProductName");
    ASSERT_NE(product, nullptr) << "no ProductName";
    EXPECT_FALSE(product->text.empty());

    const winres::VersionNode* variables = root.Child(u"VarFileInfo");
    ASSERT_NE(variables, nullptr);
    const winres::VersionNode* translation = variables->Child(u"Translation");
    ASSERT_NE(translation, nullptr);
    // Language 0x0419 and code page 0x04B0 (1200, UTF-16), as two
    // little-endian words.
    EXPECT_EQ(translation->binary, (std::vector<uint8_t>{0x19, 0x04, 0xB0, 0x04}));
}

TEST_P(DllInspection, ManifestRunsAsInvokerWithoutUiAccess) {
    const std::vector<const pe::Resource*> manifests =
        dll_.FindResources(pe::kResourceManifest, kManifestId);
    ASSERT_EQ(manifests.size(), 1u) << "want one manifest with id 2";
    const std::string text(manifests[0]->data.begin(), manifests[0]->data.end());
    EXPECT_NE(text.find("<requestedExecutionLevel"), std::string::npos) << text;
    EXPECT_NE(text.find("level=\"asInvoker\""), std::string::npos) << text;
    EXPECT_NE(text.find("uiAccess=\"false\""), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(Builds, DllInspection, ::testing::ValuesIn(kBuilds),
                         [](const ::testing::TestParamInfo<DllBuild>& info) {
                             return std::string(info.param.preset);
                         });

}  // namespace
