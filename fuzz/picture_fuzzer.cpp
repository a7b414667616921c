// libFuzzer target: any bytes as a picture file, through the calls the saver makes;
// the first bytes pick any of the decoders (picture.dict beside this file names them).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/gfx/gfx.h"
#include "platform/image/image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::unique_ptr<gx::gfx::Device> device = [] {
        std::unique_ptr<gx::gfx::Device> d;
        gx::gfx::PresentParameters pp;
        pp.backBufferWidth = 64;
        pp.backBufferHeight = 48;
        gx::gfx::DeviceOptions options;
        options.maxTextureSize = 2048;
        gx::gfx::createDevice(pp, options, &d);
        return d;
    }();
    static const std::string path = "/tmp/gx-picture-fuzzer-" + std::to_string(getpid()) + ".img";
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    gx::image::ImageInfo info;
    if (gx::gfx::failed(gx::image::getImageInfoFromFile(path, &info))) return 0;
    if (info.width > 2048 || info.height > 2048) return 0;  // the device refuses these undecoded
    gx::gfx::TexturePtr texture;
    gx::image::createTextureFromFile(device.get(), path, 0, 0, 1, 0, gx::gfx::Format::Unknown,
                                     gx::gfx::Pool::Managed, 0xFF000000u, nullptr, &texture);
    gx::image::Bitmap bitmap;
    if (gx::gfx::succeeded(gx::image::decodeImageFile(path, &bitmap)) &&
        (bitmap.width != info.width || bitmap.height != info.height))
        __builtin_trap();
    return 0;
}
