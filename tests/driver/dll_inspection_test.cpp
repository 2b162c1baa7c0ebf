// Inspects the wemb.dll files of the two Windows builds (presets win32 and
// win64) as a host and the Windows loader see them: the one export, the DLLs
// it depends on, and the About dialog, version record and manifest compiled
// into it. The cross toolchains' binutils read them: objdump -p for the
// headers, exports and imports, windres for the resources (decompiled to
// resource script). Each build is skipped while its DLL or its tools are
// missing, unless the environment has WEMB_REQUIRE_WINDOWS=1 (as in CI),
// which makes that a failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct DllBuild {
    const char* preset;
    const char* path;
    const char* objdump;
    const char* windres;
    const char* format;  // objdump's name for the machine's PE format
    unsigned long magic;  // optional header magic: PE32 or PE32+
};

void PrintTo(const DllBuild& build, std::ostream* out) { *out << build.preset; }

const DllBuild kBuilds[] = {
    {"win32", WEMB_WIN32_DLL, WEMB_WIN32_OBJDUMP, WEMB_WIN32_WINDRES, "pei-i386", 0x10b},
    {"win64", WEMB_WIN64_DLL, WEMB_WIN64_OBJDUMP, WEMB_WIN64_WINDRES, "pei-x86-64", 0x20b},
};

// Resource languages as windres writes them: primary, sub-language.
const char kRussian[] = "25, 1";  // 0x0419: LANG_RUSSIAN, SUBLANG_DEFAULT

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") + 1 - first);
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(Trim(line));
    return lines;
}

// The rest of the first line that starts with key, trimmed.
std::string Field(const std::string& text, const std::string& key) {
    for (const std::string& line : Lines(text)) {
        if (StartsWith(line, key)) return Trim(line.substr(key.size()));
    }
    return "";
}

// The text after the first marker, or nothing without one.
std::string After(const std::string& text, const std::string& marker) {
    const size_t at = text.find(marker);
    return at == std::string::npos ? "" : text.substr(at + marker.size());
}

unsigned long Hex(const std::string& text) { return std::strtoul(text.c_str(), nullptr, 16); }

// Runs a command and returns its standard output; *status is its exit status.
std::string Output(const std::string& command, int* status) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    *status = -1;
    if (pipe == nullptr) return output;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    *status = pclose(pipe);
    return output;
}

// One resource of windres's resource script: its language and its lines,
// the first being the header ("101 DIALOGEX 0, 0, 156, 73").
struct Resource {
    std::string language;
    std::vector<std::string> lines;
};

// windres opens each resource with a /* Type: ... */ comment and writes a
// LANGUAGE statement only where the language changes.
std::vector<Resource> Resources(const std::string& script) {
    std::vector<Resource> resources;
    std::string language;
    bool inComment = false;
    for (const std::string& line : Lines(script)) {
        if (StartsWith(line, "/*") || inComment) {
            if (!inComment) resources.push_back({language, {}});
            inComment = line.find("*/") == std::string::npos;
        } else if (StartsWith(line, "LANGUAGE ") && !resources.empty()) {
            language = resources.back().language = line.substr(9);
        } else if (!line.empty() && !resources.empty()) {
            resources.back().lines.push_back(line);
        }
    }
    return resources;
}

// Whether a line matches a wanted one, where "*" in quotes stands for any
// non-empty text (wording left free).
bool Matches(const std::string& line, const std::string& want) {
    const size_t star = want.find("\"*\"");
    if (star == std::string::npos) return line == want;
    const std::string head = want.substr(0, star + 1), tail = want.substr(star + 2);
    return line.size() > head.size() + tail.size() && StartsWith(line, head) &&
           line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
}

class DllInspection : public ::testing::TestWithParam<DllBuild> {
protected:
    void SetUp() override {
        const DllBuild& build = GetParam();
        std::string missing;  // the tools are found by CMake, "...-NOTFOUND" if not
        for (const char* file : {build.path, build.objdump, build.windres}) {
            if (!std::ifstream(file).good()) missing += std::string(" '") + file + "'";
        }
        if (!missing.empty()) {
            missing = "missing" + missing + " (build: cmake --preset " + build.preset +
                      " && cmake --build build/" + build.preset +
                      "; the test presets name its folder in WEMB_WIN32_BUILD_DIR and WEMB_WIN64_BUILD_DIR;"
                      " scripts/install-deps.sh installs the mingw-w64 binutils)";
        }
        // A run that means to check the Windows builds must not pass by skipping.
        const char* required = std::getenv("WEMB_REQUIRE_WINDOWS");
        if (!missing.empty() && required != nullptr && std::strcmp(required, "1") == 0) {
            FAIL() << missing << "; WEMB_REQUIRE_WINDOWS=1 forbids skipping";
        }
        if (!missing.empty()) GTEST_SKIP() << missing;
        const std::string dll = std::string(" '") + build.path + "'";
        int status = 0;
        headers_ = Output(build.objdump + std::string(" -p -h") + dll, &status);
        ASSERT_EQ(status, 0) << "objdump cannot read " << build.path;
        resources_ = Resources(Output(build.windres + std::string(" -O rc -i") + dll, &status));
        ASSERT_EQ(status, 0) << "windres cannot read the resources of " << build.path;
    }

    // The resources whose header starts with header, in the given language
    // (any language for nullptr).
    std::vector<const Resource*> Find(const std::string& header, const char* language) const {
        std::vector<const Resource*> found;
        for (const Resource& resource : resources_) {
            if ((language == nullptr || resource.language == language) &&
                !resource.lines.empty() && StartsWith(resource.lines[0], header)) {
                found.push_back(&resource);
            }
        }
        return found;
    }

    std::string headers_;  // objdump's output
    std::vector<Resource> resources_;
};

TEST_P(DllInspection, IsADllForItsMachine) {
    const std::string format = Field(headers_, GetParam().path + std::string(":"));
    EXPECT_EQ(format, "file format " + std::string(GetParam().format));
    EXPECT_EQ(Hex(Field(headers_, "Magic")), GetParam().magic);
    const unsigned long kImageFileDll = 0x2000;
    EXPECT_NE(Hex(Field(headers_, "Characteristics 0x")) & kImageFileDll, 0u) << "not a DLL";
}

// Hosts find the driver entry by the plain name DriverProc; a 32-bit stdcall
// decoration (DriverProc@20, _DriverProc@20) would make it unreachable.
TEST_P(DllInspection, ExportsDriverProcAloneUndecorated) {
    const std::string exports = After(headers_, "The Export Tables");
    const std::string name = Field(exports, "Name ");  // "00021032 wemb.dll"
    EXPECT_EQ(Lower(name.substr(name.find(' ') + 1)), "wemb.dll");
    EXPECT_EQ(Hex(Field(exports, "Export Address Table ")), 1u) << "functions exported";
    EXPECT_EQ(Hex(Field(exports, "[Name Pointer/Ordinal] Table")), 1u) << "names exported";
    EXPECT_EQ(Field(After(exports, "[Ordinal/Name Pointer] Table"), "[   0]"), "DriverProc");

    // "[   0] +base[   1] 1520 Export RVA"; a forwarder would say "Forwarder RVA".
    unsigned long rva = 0, imageBase = Hex(Field(headers_, "ImageBase"));
    char kind[16] = "";
    ASSERT_EQ(std::sscanf(Field(exports, "[   0] +base[").c_str(), "%*d] %lx %15s", &rva, kind), 2);
    EXPECT_STREQ(kind, "Export");
    // The section holding it ("0 .text 00014048 61cc1000 ...", flags on the next
    // line) must be code.
    const std::vector<std::string> lines = Lines(After(headers_, "\nSections:"));
    std::string flags;
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        unsigned long size = 0, vma = 0;
        if (std::sscanf(lines[i].c_str(), "%*d %*s %lx %lx", &size, &vma) == 2 &&
            imageBase + rva >= vma && imageBase + rva < vma + size) {
            flags += lines[i] + "\n" + lines[i + 1];
        }
    }
    EXPECT_NE(flags.find("CODE"), std::string::npos) << "DriverProc lies in no code section\n"
                                                     << flags;
}

// The module is loaded into any host process, so it may depend on system
// DLLs only: never on a compiler's run-time DLL, which hosts do not ship.
TEST_P(DllInspection, ImportsSystemDllsOnly) {
    const std::set<std::string> allowed = {"kernel32.dll", "user32.dll", "winmm.dll",
                                           "msvcrt.dll",   "advapi32.dll", "ntdll.dll",
                                           "ucrtbase.dll"};
    std::set<std::string> functions;  // "dll!function"
    std::string dll;
    std::string imports = After(headers_, "The Import Tables");
    imports = imports.substr(0, imports.find("The Export Tables"));
    for (const std::string& line : Lines(imports)) {
        char function[128];
        if (StartsWith(line, "DLL Name: ")) {
            dll = Lower(line.substr(10));  // never libgcc*, libstdc++*, libwinpthread*
            EXPECT_TRUE(allowed.count(dll) != 0 || StartsWith(dll, "api-ms-win-crt-"))
                << "imports " << dll << ", not a system DLL";
        } else if (!dll.empty() && std::sscanf(line.c_str(), "%*x %*d %127s", function) == 1) {
            functions.insert(dll + "!" + function);
        }
    }
    ASSERT_FALSE(dll.empty()) << "imports nothing";
    for (const char* wanted : {"winmm.dll!DefDriverProc", "user32.dll!DialogBoxParamA",
                               "user32.dll!EndDialog"}) {
        EXPECT_EQ(functions.count(wanted), 1u) << "does not import " << wanted;
    }
}

// windres writes DIALOGEX only for an extended template, names a control by
// its class atom and low style byte (DEFPUSHBUTTON: button 0x80 with
// BS_DEFPUSHBUTTON; LTEXT: static 0x82 with SS_LEFT), and adds extended
// styles, help ids, menus, window classes and creation data only where set.
TEST_P(DllInspection, AboutDialogIsTheDocumentedRussianTemplate) {
    const std::vector<const Resource*> found = Find("101 DIALOGEX ", kRussian);
    ASSERT_EQ(found.size(), 1u) << "want one extended dialog 101 in language 0x0419";
    const Resource* dialog = found[0];
    const std::vector<std::string> expected = {
        "101 DIALOGEX 0, 0, 156, 73",
        "STYLE 0x80c800c0",  // WS_POPUP|WS_CAPTION|WS_SYSMENU|DS_MODALFRAME|DS_SETFONT
        "CAPTION \"Torvane\"",
        "FONT 8, \"MS Sans Serif\", 0, 0, 0",  // point size, face, weight, italic, charset
        "BEGIN",
        // WS_CHILD|WS_VISIBLE|WS_TABSTOP|BS_DEFPUSHBUTTON
        "DEFPUSHBUTTON \"OK\", 1, 53, 52, 50, 14, 0x50010001",
        // WS_CHILD|WS_VISIBLE|WS_GROUP|SS_LEFT
        "LTEXT \"Torvane WEMB video codec\", -1, 21, 7, 88, 8, 0x50020000",
        "LTEXT \"*\", -1, 33, 28, 89, 8, 0x50020000",
        "END",
    };
    ASSERT_EQ(dialog->lines.size(), expected.size()) << ::testing::PrintToString(dialog->lines);
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_TRUE(Matches(dialog->lines[i], expected[i]))
            << dialog->lines[i] << "\nwanted " << expected[i];
    }
}

// windres refuses a record whose fixed part lacks the signature 0xFEEF04BD
// or whose root is not VS_VERSION_INFO, and writes zero fields (FILEFLAGS,
// FILESUBTYPE) not at all. The lines are compared in any order.
TEST_P(DllInspection, VersionRecordIsTheDocumentedOne) {
    const std::vector<const Resource*> found = Find("1 VERSIONINFO", kRussian);
    ASSERT_EQ(found.size(), 1u) << "want one version record 1 in language 0x0419";
    std::vector<std::string> unmatched = found[0]->lines;
    const std::string expected[] = {
        "1 VERSIONINFO", "FILEVERSION 1, 0, 0, 1", "PRODUCTVERSION 1, 0, 0, 1",
        "FILEFLAGSMASK 0x3f", "FILEOS 0x40004" /* VOS_NT_WINDOWS32 */, "FILETYPE 0x2" /* VFT_DLL */,
        "BLOCK \"StringFileInfo\"", "BLOCK \"041904b0\"",
        "VALUE \"CompanyName\", \"Torvane\"",
        "VALUE \"FileDescription\", \"Torvane WEMB video codec\"",
        "VALUE \"FileVersion\", \"1, 0, 0, 1\"", "VALUE \"InternalName\", \"wemb\"",
        "VALUE \"OriginalFilename\", \"wemb.dll\"", "VALUE \"ProductVersion\", \"1, 0, 0, 1\"",
        "VALUE \"ProductName\", \"*\"", "BLOCK \"VarFileInfo\"",
        "VALUE \"Translation\", 0x419, 1200",  // Russian, code page 1200 (UTF-16)
        "BEGIN", "BEGIN", "BEGIN", "BEGIN", "END", "END", "END", "END"};
    for (const std::string& want : expected) {
        auto line = std::find_if(unmatched.begin(), unmatched.end(),
                                 [&](const std::string& line) { return Matches(line, want); });
        EXPECT_TRUE(line != unmatched.end()) << "no line " << want;
        if (line != unmatched.end()) unmatched.erase(line);
    }
    EXPECT_TRUE(unmatched.empty()) << "unexpected " << ::testing::PrintToString(unmatched);

    // windres does not show a value's type: each string's header must end
    // with wType 1 (text) right before its NUL-terminated UTF-16 key.
    std::ifstream file(GetParam().path, std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(file), {}};
    for (const char* key : {"CompanyName", "FileDescription", "FileVersion", "InternalName",
                            "OriginalFilename", "ProductVersion", "ProductName"}) {
        std::string typeAndKey("\x01", 2);
        for (const char* c = key; *c != '\0'; ++c) typeAndKey += {*c, '\0'};
        EXPECT_NE(bytes.find(typeAndKey + std::string(2, '\0')), std::string::npos)
            << key << " is not text";
    }
}

TEST_P(DllInspection, ManifestRunsAsInvokerWithoutUiAccess) {
    const std::vector<const Resource*> found = Find("2 24 ", nullptr);
    ASSERT_EQ(found.size(), 1u) << "want one manifest (type 24) with id 2";
    std::string text;  // its quoted lines, with quotes doubled
    for (const std::string& line : found[0]->lines) text += line + "\n";
    for (const char* part :
         {"<requestedExecutionLevel", "level=\"\"asInvoker\"\"", "uiAccess=\"\"false\"\""}) {
        EXPECT_NE(text.find(part), std::string::npos) << "no " << part << " in\n" << text;
    }
}

INSTANTIATE_TEST_SUITE_P(Builds, DllInspection, ::testing::ValuesIn(kBuilds),
                         [](const ::testing::TestParamInfo<DllBuild>& info) {
                             return std::string(info.param.preset);
                         });

}  // namespace
