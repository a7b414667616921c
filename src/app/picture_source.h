// What the phases and start-up need of the picture source.
#pragma once

#include "pictures/picture_list.h"
#include "pictures/picture_loading.h"

namespace gx {

// Lets the error report name the current picture.
void connectPictureSource();

}  // namespace gx
