// JPEG XL through libjxl: the first frame (an animation's, composed), oriented by the
// decoder; the description is read from the file in pieces until the basic info.
#include <jxl/decode.h>
#include <jxl/thread_parallel_runner.h>

#include <memory>
#include <vector>

#include "platform/image/formats.h"

namespace gx::image {
namespace {

struct Deleter {
    void operator()(JxlDecoder* d) const { JxlDecoderDestroy(d); }
};

constexpr size_t kPiece = 64 * 1024;

// The description, and with out the pixels too.
bool readJxl(const Bytes& in, ImageInfo* info, Bitmap* out) {
    std::unique_ptr<JxlDecoder, Deleter> decoder(JxlDecoderCreate(nullptr));
    if (!decoder) return false;
    std::unique_ptr<void, void (*)(void*)> runner(nullptr, JxlThreadParallelRunnerDestroy);
    if (out) {
        runner.reset(JxlThreadParallelRunnerCreate(
            nullptr, JxlThreadParallelRunnerDefaultNumWorkerThreads()));
        if (!runner || JxlDecoderSetParallelRunner(decoder.get(), JxlThreadParallelRunner,
                                                   runner.get()) != JXL_DEC_SUCCESS)
            return false;
    }
    if (JxlDecoderSubscribeEvents(
            decoder.get(), JXL_DEC_BASIC_INFO | (out ? JXL_DEC_FULL_IMAGE : 0)) != JXL_DEC_SUCCESS)
        return false;
    // In memory the whole file goes in at once; from the file, piece by piece.
    std::vector<uint8_t> pieces;
    uint64_t next = 0;
    if (in.data) {
        JxlDecoderSetInput(decoder.get(), in.data, size_t(in.size));
        JxlDecoderCloseInput(decoder.get());
        next = in.size;
    }
    uint32_t width = 0, height = 0;
    const JxlPixelFormat format = {4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    for (;;) {
        switch (JxlDecoderProcessInput(decoder.get())) {
        case JXL_DEC_NEED_MORE_INPUT: {
            if (next >= in.size) return false;
            const size_t unused = JxlDecoderReleaseInput(decoder.get());
            pieces.erase(pieces.begin(),
                         pieces.end() - std::ptrdiff_t(std::min(unused, pieces.size())));
            const std::vector<uint8_t> piece = in.take(next, kPiece);
            if (piece.empty()) return false;
            next += piece.size();
            pieces.insert(pieces.end(), piece.begin(), piece.end());
            JxlDecoderSetInput(decoder.get(), pieces.data(), pieces.size());
            if (next >= in.size) JxlDecoderCloseInput(decoder.get());
            break;
        }
        case JXL_DEC_BASIC_INFO: {
            JxlBasicInfo basic;
            if (JxlDecoderGetBasicInfo(decoder.get(), &basic) != JXL_DEC_SUCCESS) return false;
            // The sizes are those stored; the decoder turns the picture as shown.
            if (!sizeAcceptable(basic.xsize, basic.ysize)) return false;
            describe(info, basic.xsize, basic.ysize, basic.alpha_bits > 0, basic.orientation);
            width = info->width;
            height = info->height;
            if (!out) return true;
            break;
        }
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
            size_t bytes = 0;
            if (JxlDecoderImageOutBufferSize(decoder.get(), &format, &bytes) != JXL_DEC_SUCCESS ||
                bytes != size_t(width) * height * 4 || !allocateBitmap(out, width, height) ||
                JxlDecoderSetImageOutBuffer(decoder.get(), &format, out->pixels.data(), bytes) !=
                    JXL_DEC_SUCCESS)
                return false;
            break;
        }
        case JXL_DEC_FULL_IMAGE:
            // RGBA bytes to the bitmap's 0xAARRGGBB.
            swapRedBlue(out->pixels.data(), out->pixels.size());
            return true;
        default:  // an error, or the end with no picture
            return false;
        }
    }
}

}  // namespace

bool readJxlInfo(const Bytes& in, ImageInfo* info) { return readJxl(in, info, nullptr); }

bool decodeJxl(const Bytes& in, Bitmap* out) {
    ImageInfo info;
    return readJxl(in, &info, out);
}

}  // namespace gx::image
