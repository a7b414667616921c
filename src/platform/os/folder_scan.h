// Finding picture files below a folder: the folder's own pictures first, grouped by
// type in table order and sorted by name folded to upper case (as the original file
// system compared them, so '_' sorts after the letters), then every subfolder in the
// same name order, depth first. Hidden entries are skipped, and a
// folder reached twice (through symbolic links) is scanned once. The scan works on
// absolute paths and never changes the current directory.
#pragma once

#include <functional>
#include <string>

namespace gx {

// The picture types in scan order, each with the extensions that take its turn: the
// nine of old first, then the formats of today.
constexpr int kPictureTypes = 15;
constexpr const char* kPictureExtensions[kPictureTypes][4] = {{"BMP"},
                                                              {"DDS"},
                                                              {"DIB"},
                                                              {"HDR"},
                                                              {"JPG", "JPEG", "JPE", "JFIF"},
                                                              {"PFM"},
                                                              {"PNG"},
                                                              {"PPM", "PGM", "PBM", "PNM"},
                                                              {"TGA"},
                                                              {"GIF"},
                                                              {"TIF", "TIFF"},
                                                              {"WEBP"},
                                                              {"HEIC", "HEIF"},
                                                              {"AVIF"},
                                                              {"JXL"}};

// The turn (index into kPictureExtensions) of the name's extension, case-blind, or -1.
int pictureExtensionIndex(const std::string& name);

// The order of names within a folder: folded to upper case, then the exact bytes.
bool pictureNameLess(const std::string& a, const std::string& b);

// The path made absolute against the current directory (which is not changed).
std::string absolutePath(const std::string& path);

// Calls found(path) for each picture file below folder, in scan order, with absolute
// paths. A folder that cannot be opened is skipped silently. Returns false when found
// asked to stop by returning false.
bool scanPictureFolder(const std::string& folder,
                       const std::function<bool(const std::string&)>& found);

}  // namespace gx
