#include "support/testdata_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace wemb_test {

std::vector<uint8_t> Testdata(const std::string& name) {
    const std::string path = std::string(WEMB_TESTDATA_DIR) + "/" + name;
    std::ifstream in(path, std::ios::binary);
    if (!in) ADD_FAILURE() << "cannot read " << path;
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> ListTestdata() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(WEMB_TESTDATA_DIR)) {
        if (entry.path().extension() == ".jpg") names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace wemb_test
