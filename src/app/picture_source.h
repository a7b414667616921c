// What the phases and start-up need of the picture source.
#pragma once

#include <cstdint>

namespace gx {

void buildPictureList();
void advancePicture(bool remove);
bool loadCurrentPicture();
uint32_t loadedPictureWidth();
uint32_t loadedPictureHeight();
void releasePictures();
// Photographs the desktop before the saver's window exists (may fail quietly).
void takeDesktopSnapshot();

}  // namespace gx
