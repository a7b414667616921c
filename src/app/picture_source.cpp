#include "app/picture_source.h"

#include "render/resources.h"
#include "ui/error_report.h"

namespace gx {

void connectPictureSource() {
    RenderHooks& hooks = renderHooks();
    hooks.loadedPicture = [] {
        return LoadedPicture{pictureTexture(), loadedPictureWidth(), loadedPictureHeight()};
    };
    hooks.setPictureDevice = setPictureDevice;
    hooks.releasePictureResources = keepCapturedPicture;
    errorReportSources().picturePath = []() -> std::string {
        const PictureNode* node = currentPicture();
        if (!node || pictureIsCapture()) return "";
        return node->path;
    };
}

}  // namespace gx
