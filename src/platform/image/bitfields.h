// A colour channel given by a bit mask (DDS and BMP bit fields), spread to 0..255.
#pragma once

#include <bit>
#include <cstdint>

namespace gx::image {

struct Channel {
    uint32_t mask = 0, shift = 0, maxValue = 0;
    explicit Channel(uint32_t m) : mask(m) {
        if (m == 0) return;
        shift = uint32_t(std::countr_zero(m));
        maxValue = m >> shift;
        // A mask with holes is taken by its lowest run of bits.
        if ((maxValue & (maxValue + 1)) != 0)
            maxValue = uint32_t((uint64_t(1) << std::countr_one(maxValue)) - 1);
    }
    // The channel's value in 0..255, rounded; absent when the mask is empty.
    uint32_t get(uint32_t pixel, uint32_t absent) const {
        if (maxValue == 0) return absent;
        uint32_t v = (pixel >> shift) & maxValue;
        return maxValue == 255 ? v : uint32_t((uint64_t(v) * 255 + maxValue / 2) / maxValue);
    }
};

}  // namespace gx::image
