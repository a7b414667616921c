#include "platform/image/jpeg_check.h"

namespace gx::image {

bool jpegTablesDefined(const uint8_t* data, size_t size) {
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return true;
    bool huffman[2][4] = {};  // [DC, AC][table]
    bool quant[4] = {};
    struct Component {
        uint8_t id, table;
    } frame[4] = {};
    int components = 0;
    bool progressive = false;
    size_t at = 2;
    while (at + 1 < size) {
        if (data[at] != 0xFF) return true;  // not a marker where one must be
        uint8_t marker = data[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0xD9) return true;
        if (marker == 0x01 || marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        if (at + 4 > size) return true;
        const size_t length = size_t(data[at + 2]) << 8 | data[at + 3];
        if (length < 2 || at + 2 + length > size) return true;
        const uint8_t* s = data + at + 4;
        const size_t n = length - 2;
        if (marker == 0xC4) {  // Huffman tables
            for (size_t p = 0; p + 17 <= n;) {
                int cls = s[p] >> 4, id = s[p] & 15;
                if (cls > 1 || id > 3) return true;
                size_t codes = 0;
                for (int i = 1; i <= 16; ++i) codes += s[p + size_t(i)];
                huffman[cls][id] = true;
                p += 17 + codes;
            }
        } else if (marker == 0xDB) {  // quantisation tables
            for (size_t p = 0; p < n;) {
                int precision = s[p] >> 4, id = s[p] & 15;
                if (id > 3) return true;
                quant[id] = true;
                p += 1 + (precision ? 128 : 64);
            }
        } else if (marker >= 0xC0 && marker <= 0xC2) {  // the frame
            progressive = marker == 0xC2;
            if (n < 6) return true;
            components = s[5];
            if (components < 1 || components > 4 || n < 6 + 3 * size_t(components)) return true;
            for (int i = 0; i < components; ++i) frame[i] = {s[6 + 3 * i], uint8_t(s[8 + 3 * i] & 15)};
        } else if (marker == 0xDA) {  // a scan
            if (n < 1) return true;
            const size_t count = s[0];
            if (n < 1 + 2 * count + 3) return true;
            const uint8_t spectralStart = s[1 + 2 * count];
            const bool needDc = !progressive || spectralStart == 0;
            const bool needAc = !progressive || spectralStart != 0;
            for (size_t i = 0; i < count; ++i) {
                const uint8_t id = s[1 + 2 * i], dc = s[2 + 2 * i] >> 4, ac = s[2 + 2 * i] & 15;
                if (dc > 3 || ac > 3) return true;
                if ((needDc && !huffman[0][dc]) || (needAc && !huffman[1][ac])) return false;
                for (int c = 0; c < components; ++c)
                    if (frame[c].id == id && (frame[c].table > 3 || !quant[frame[c].table])) return false;
            }
            // Past the entropy-coded data to the next marker.
            at += 2 + length;
            while (at + 1 < size &&
                   !(data[at] == 0xFF && data[at + 1] != 0 && data[at + 1] != 0xFF &&
                     !(data[at + 1] >= 0xD0 && data[at + 1] <= 0xD7)))
                ++at;
            continue;
        }
        at += 2 + length;
    }
    return true;
}

}  // namespace gx::image
