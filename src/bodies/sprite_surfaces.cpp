#include "bodies/sprite_surfaces.h"

namespace gx {

namespace {
SpriteSurfaces surfaces;
}  // namespace

SpriteSurfaces& spriteSurfaces() { return surfaces; }

}  // namespace gx
