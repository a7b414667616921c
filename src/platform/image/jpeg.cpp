// JPEG through libjpeg-turbo. The description is read by libjpeg itself up to the first
// scan, through a source that skips the segments it does not keep without reading
// them; the EXIF segment is kept wherever among the segments it lies.
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

#include "platform/image/exif_orientation.h"
#include "platform/image/formats.h"

namespace gx::image {
namespace {

struct ErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
    bool truncated;
};

[[noreturn]] void fail(j_common_ptr c) {
    longjmp(reinterpret_cast<ErrorManager*>(c->err)->jump, 1);
}

void message(j_common_ptr c, int level) {
    // Data that ends early is filled with grey by libjpeg; a picture half grey is not
    // worth showing. Other warnings (a stray byte before a marker) are common in
    // camera files that show fine.
    if (level < 0 && c->err->msg_code == JWRN_JPEG_EOF)
        reinterpret_cast<ErrorManager*>(c->err)->truncated = true;
}

void silent(j_common_ptr) {}

// A hostile progressive file can hold thousands of scans, each a pass over the whole
// picture; real ones have about ten.
constexpr int kMaxScans = 1000;
void limitScans(j_common_ptr c) {
    if (reinterpret_cast<j_decompress_ptr>(c)->input_scan_number > kMaxScans) fail(c);
}

// Reads from Bytes: the whole buffer at once when it is in memory, else in pieces.
struct Source {
    jpeg_source_mgr pub;
    const Bytes* in;
    uint64_t next;  // file offset of the byte after the buffer
    uint8_t buffer[16384];
};

const JOCTET kEndOfImage[2] = {0xFF, JPEG_EOI};

void initSource(j_decompress_ptr) {}
boolean fillBuffer(j_decompress_ptr c) {
    auto* s = reinterpret_cast<Source*>(c->src);
    size_t n = 0;
    if (s->in->data) {
        if (s->next < s->in->size) {
            s->pub.next_input_byte = s->in->data + s->next;
            n = size_t(s->in->size - s->next);
        }
    } else if (s->next < s->in->size) {
        n = size_t(std::min<uint64_t>(sizeof s->buffer, s->in->size - s->next));
        if (!s->in->read(s->next, s->buffer, n)) n = 0;
        s->pub.next_input_byte = s->buffer;
    }
    if (n == 0) {
        WARNMS(c, JWRN_JPEG_EOF);
        s->pub.next_input_byte = kEndOfImage;
        s->pub.bytes_in_buffer = 2;
        return TRUE;
    }
    s->next += n;
    s->pub.bytes_in_buffer = n;
    return TRUE;
}
void skipData(j_decompress_ptr c, long count) {
    auto* s = reinterpret_cast<Source*>(c->src);
    if (count <= 0) return;
    if (size_t(count) <= s->pub.bytes_in_buffer) {
        s->pub.next_input_byte += count;
        s->pub.bytes_in_buffer -= size_t(count);
        return;
    }
    // Past the buffer: move the file offset, reading nothing.
    s->next += uint64_t(count) - s->pub.bytes_in_buffer;
    s->pub.bytes_in_buffer = 0;
    s->pub.next_input_byte = nullptr;
}
void termSource(j_decompress_ptr) {}

int orientationOf(j_decompress_ptr c) {
    for (jpeg_saved_marker_ptr m = c->marker_list; m; m = m->next)
        if (m->marker == JPEG_APP0 + 1 && m->data_length > 6 &&
            std::memcmp(m->data, "Exif\0\0", 6) == 0)
            return exifOrientation(m->data, m->data_length);
    return 1;
}

// CMYK as Adobe writes it (stored inverted) or plain, to RGB.
void cmykRow(const uint8_t* cmyk, uint32_t* out, uint32_t width, bool inverted) {
    for (uint32_t x = 0; x < width; ++x, cmyk += 4) {
        uint32_t c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
        if (!inverted) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
        out[x] = argb(255, (c * k + 127) / 255, (m * k + 127) / 255, (y * k + 127) / 255);
    }
}

// The description, and with out the pixels too. All C++ objects this needs live
// before the setjmp, so the jump back on an error skips no destructor.
bool readJpeg(const Bytes& in, ImageInfo* info, Bitmap* out) {
    jpeg_decompress_struct c;
    ErrorManager errors;
    Source source;
    jpeg_progress_mgr progress;
    std::vector<JSAMPROW> rows;
    std::vector<uint8_t> cmyk;
    int orientation = 1;
    std::memset(&c, 0, sizeof c);
    c.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = fail;
    errors.pub.emit_message = message;
    errors.pub.output_message = silent;
    errors.truncated = false;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&c);
        return false;
    }
    jpeg_create_decompress(&c);
    source.in = &in;
    source.next = 0;
    source.pub = {nullptr, 0, initSource, fillBuffer, skipData, jpeg_resync_to_restart, termSource};
    c.src = &source.pub;
    jpeg_save_markers(&c, JPEG_APP0 + 1, 0xFFFF);
    if (jpeg_read_header(&c, TRUE) != JPEG_HEADER_OK || errors.truncated ||
        !sizeAcceptable(c.image_width, c.image_height)) {
        jpeg_destroy_decompress(&c);
        return false;
    }
    orientation = orientationOf(&c);
    describe(info, c.image_width, c.image_height, false, orientation);
    if (!out) {
        jpeg_destroy_decompress(&c);
        return true;
    }

    const bool isCmyk = c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK;
    // BGRA bytes are the bitmap's 0xAARRGGBB: libjpeg writes the rows in place.
    c.out_color_space = isCmyk ? JCS_CMYK : JCS_EXT_BGRA;
    progress.progress_monitor = limitScans;
    c.progress = &progress;
    jpeg_start_decompress(&c);
    bool allocated = false;
    try {
        allocated = c.output_width == c.image_width && c.output_height == c.image_height &&
                    allocateBitmap(out, c.output_width, c.output_height);
        if (allocated)
            isCmyk ? cmyk.resize(size_t(c.output_width) * 4) : rows.resize(c.output_height);
    } catch (...) {
        jpeg_destroy_decompress(&c);
        throw;
    }
    if (!allocated) {
        jpeg_destroy_decompress(&c);
        return false;
    }
    if (isCmyk) {
        JSAMPROW row = cmyk.data();
        while (c.output_scanline < c.output_height) {
            const uint32_t y = c.output_scanline;
            if (jpeg_read_scanlines(&c, &row, 1) != 1) break;
            cmykRow(cmyk.data(), &out->pixels[size_t(y) * c.output_width], c.output_width,
                    c.saw_Adobe_marker);
        }
    } else {
        for (uint32_t y = 0; y < c.output_height; ++y)
            rows[y] = reinterpret_cast<JSAMPROW>(&out->pixels[size_t(y) * c.output_width]);
        while (c.output_scanline < c.output_height)
            if (jpeg_read_scanlines(&c, &rows[c.output_scanline],
                                    c.output_height - c.output_scanline) == 0)
                break;
    }
    const bool complete = c.output_scanline == c.output_height && !errors.truncated;
    jpeg_destroy_decompress(&c);
    if (!complete) return false;
    applyOrientation(out, orientation);
    return true;
}

}  // namespace

bool readJpegInfo(const Bytes& in, ImageInfo* info) { return readJpeg(in, info, nullptr); }

bool decodeJpeg(const Bytes& in, Bitmap* out) {
    ImageInfo info;
    return readJpeg(in, &info, out);
}

}  // namespace gx::image
