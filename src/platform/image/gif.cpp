// GIF through giflib: the first frame, placed on the logical screen. What the frame
// does not cover, and its transparent colour, stay transparent.
#include <gif_lib.h>

#include <memory>
#include <vector>

#include "platform/image/formats.h"

namespace gx::image {
namespace {

struct Input {
    const Bytes* in;
    uint64_t at;
};

int readInput(GifFileType* gif, GifByteType* out, int n) {
    auto* input = static_cast<Input*>(gif->UserData);
    if (n <= 0 || input->at >= input->in->size) return 0;
    const size_t count = size_t(std::min<uint64_t>(uint64_t(n), input->in->size - input->at));
    if (!input->in->read(input->at, out, count)) return 0;
    input->at += count;
    return int(count);
}

struct Closer {
    void operator()(GifFileType* gif) const {
        int error = 0;
        DGifCloseFile(gif, &error);
    }
};

struct GifLayout {
    uint32_t width = 0, height = 0;  // the logical screen
    int transparent = -1;            // the first frame's transparent index
    bool covers = false;             // the first frame fills the screen
};

// Reads up to the first frame's descriptor, and with out its pixels too.
bool readGif(const Bytes& in, GifLayout* L, Bitmap* out) {
    Input input{&in, 0};
    int error = 0;
    std::unique_ptr<GifFileType, Closer> gif(DGifOpen(&input, readInput, &error));
    if (!gif) return false;
    for (;;) {
        GifRecordType type;
        if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR) return false;
        if (type == TERMINATE_RECORD_TYPE) return false;  // no frame at all
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(gif.get(), &code, &block) == GIF_ERROR) return false;
            if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4)
                L->transparent = (block[1] & 1) ? block[4] : -1;
            while (block)
                if (DGifGetExtensionNext(gif.get(), &block) == GIF_ERROR) return false;
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE) continue;
        if (DGifGetImageDesc(gif.get()) == GIF_ERROR) return false;
        break;
    }
    const GifImageDesc& frame = gif->Image;
    if (frame.Width <= 0 || frame.Height <= 0) return false;
    // A screen of no size is taken from the frame, as browsers do.
    L->width = gif->SWidth > 0 ? uint32_t(gif->SWidth) : uint32_t(frame.Width);
    L->height = gif->SHeight > 0 ? uint32_t(gif->SHeight) : uint32_t(frame.Height);
    if (!sizeAcceptable(L->width, L->height)) return false;
    L->covers = frame.Left == 0 && frame.Top == 0 && uint32_t(frame.Width) >= L->width &&
                uint32_t(frame.Height) >= L->height;
    if (!out) return true;

    const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
    if (!map || !map->Colors || map->ColorCount <= 0) return false;
    uint32_t palette[256];
    for (int i = 0; i < 256; ++i) {
        const GifColorType& c = map->Colors[i < map->ColorCount ? i : 0];
        palette[i] = i < map->ColorCount ? argb(255, c.Red, c.Green, c.Blue) : 0xFF000000u;
    }
    if (L->transparent >= 0) palette[L->transparent] = 0;
    if (!allocateBitmap(out, L->width, L->height)) return false;
    std::vector<GifPixelType> line(size_t(frame.Width));
    // Interlaced frames come in four passes: every 8th row from 0, every 8th from 4,
    // every 4th from 2, every 2nd from 1.
    static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    const int passes = frame.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
        const int start = frame.Interlace ? kStart[pass] : 0,
                  step = frame.Interlace ? kStep[pass] : 1;
        for (int row = start; row < frame.Height; row += step) {
            if (DGifGetLine(gif.get(), line.data(), frame.Width) == GIF_ERROR) return false;
            const int64_t y = int64_t(frame.Top) + row;
            if (y < 0 || y >= int64_t(L->height)) continue;
            uint32_t* to = &out->pixels[size_t(y) * L->width];
            for (int x = 0; x < frame.Width; ++x) {
                const int64_t sx = int64_t(frame.Left) + x;
                if (sx >= 0 && sx < int64_t(L->width)) to[sx] = palette[line[size_t(x)]];
            }
        }
    }
    return true;
}

}  // namespace

bool readGifInfo(const Bytes& in, ImageInfo* info) {
    GifLayout L;
    if (!readGif(in, &L, nullptr)) return false;
    describe(info, L.width, L.height, L.transparent >= 0 || !L.covers);
    return true;
}

bool decodeGif(const Bytes& in, Bitmap* out) {
    GifLayout L;
    return readGif(in, &L, out);
}

}  // namespace gx::image
