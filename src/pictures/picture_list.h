// The ring of pictures the saver shows: built once from the ImagePath setting (a
// picture file or a folder with all its subfolders; the user's pictures and the
// bundled samples when empty), shrinking as unreadable files are met.
#pragma once

#include <cstddef>
#include <string>

namespace gx {

struct PictureNode {
    std::string path;  // absolute
    PictureNode* previous = nullptr;
    PictureNode* next = nullptr;
};

// The first node, or null for an empty list.
PictureNode* pictureList();
// The node loaded or about to be loaded, or null.
PictureNode* currentPicture();
size_t pictureCount();

// Builds the list from the settings and makes its head current. Out of memory is
// reported to the user and the list keeps what it had.
void buildPictureList();
// What the last build looked at: the ImagePath (absolute), or the pictures folder and
// the samples folder of an empty one ("A or B"). Empty before a build.
const std::string& pictureSources();
// A picture file (one of the picture extensions) is appended; a folder is scanned. What
// the path is on disk decides, not the dots in its name. Throws std::bad_alloc.
void addPath(const std::string& path);
// Appends every picture below the folder in scan order. Throws std::bad_alloc.
void scanFolder(const std::string& folder);
void appendPicture(const std::string& path);
// Moves to the next node, wrapping to the head; with removeCurrent the node left
// behind (the last one when there is no current node) is unlinked and freed first.
void advancePicture(bool removeCurrent);
// Frees every node.
void releasePictureList();

}  // namespace gx
