// The committed test streams in testdata/.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wemb_test {

// The bytes of testdata/NAME (a test failure if it cannot be read).
std::vector<uint8_t> Testdata(const std::string& name);

// Names (not paths) of the testdata streams (*.jpg), sorted.
std::vector<std::string> ListTestdata();

}  // namespace wemb_test
