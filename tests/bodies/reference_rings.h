// A second, deliberately plain reading of the ring table rules, written apart from the
// program's generator so the two can be compared byte for byte.
#pragma once

#include <cstdint>
#include <vector>

namespace reference {

struct Tables {
    std::vector<int32_t> ringStart;  // 1600
    std::vector<int32_t> points;     // 2 * 2,560,000: x, y, x, y, ...
    std::vector<uint8_t> codes;      // 1600 * 1600
    int listed = 0;                  // points actually listed
};

Tables build();

}  // namespace reference
