// Softening the desktop snapshot before it stands in for a picture.
#pragma once

namespace gx {

// Copies rows × rowBytes bytes from source to destination (each with its own row
// pitch in bytes), then replaces every pixel of the destination by the average of its
// 3 × 3 neighbourhood inside the image, in place: a forward pass from the top-left
// and a backward pass from the bottom-right. rowBytes / 4 pixels of a row are
// filtered (trailing bytes are only copied); every filtered pixel gets alpha 0xFF.
void smoothSnapshot(const void* source, int sourcePitch, void* destination, int destinationPitch,
                    int rowBytes, int rows);

}  // namespace gx
