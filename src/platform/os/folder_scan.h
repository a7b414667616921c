// Finding picture files below a folder: the folder's own pictures first, grouped by
// extension in table order and sorted by name without regard to case, then every
// subfolder in the same name order, depth first. Hidden entries are skipped, and a
// folder reached twice (through symbolic links) is scanned once. The scan works on
// absolute paths and never changes the current directory.
#pragma once

#include <functional>
#include <string>

namespace gx {

// The nine picture extensions, in scan order.
constexpr const char* kPictureExtensions[9] = {"BMP", "DDS", "DIB", "HDR", "JPG", "PFM", "PNG", "PPM", "TGA"};

// Index into kPictureExtensions of the name's extension (case-blind), or -1.
int pictureExtensionIndex(const std::string& name);

// The path made absolute against the current directory (which is not changed).
std::string absolutePath(const std::string& path);

// Calls found(path) for each picture file below folder, in scan order, with absolute
// paths. A folder that cannot be opened is skipped silently. Returns false when found
// asked to stop by returning false.
bool scanPictureFolder(const std::string& folder, const std::function<bool(const std::string&)>& found);

}  // namespace gx
