// The picture list: a doubly linked, non-circular list treated as a ring.
#include "pictures/picture_list.h"

#include <sys/stat.h>

#include <cstring>
#include <new>

#include "config/settings.h"
#include "framework/failures.h"
#include "platform/os/folder_scan.h"
#include "platform/os/paths.h"

namespace gx {
namespace {

struct PictureListState {
    PictureNode* head = nullptr;
    PictureNode* tail = nullptr;
    PictureNode* current = nullptr;
    size_t count = 0;
    std::string sources;  // what the list was built from, for the user
};
PictureListState list;

void unlink(PictureNode* node) {
    if (node->previous) node->previous->next = node->next;
    else list.head = node->next;
    if (node->next) node->next->previous = node->previous;
    else list.tail = node->previous;
    --list.count;
    delete node;
}

}  // namespace

PictureNode* pictureList() { return list.head; }
PictureNode* currentPicture() { return list.current; }
size_t pictureCount() { return list.count; }

void appendPicture(const std::string& path) {
    auto* node = new PictureNode{path, list.tail, nullptr};
    if (list.tail) list.tail->next = node;
    else list.head = node;
    list.tail = node;
    ++list.count;
}

void scanFolder(const std::string& folder) {
    bool outOfMemory = false;
    scanPictureFolder(folder, [&](const std::string& path) {
        try {
            appendPicture(path);
            return true;
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
            return false;
        }
    });
    if (outOfMemory) throw std::bad_alloc();
}

void addPath(const std::string& path) {
    if (path.empty()) return;
    std::string full = absolutePath(path);
    struct stat st;
    if (stat(full.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        scanFolder(full);
    } else if (S_ISREG(st.st_mode)) {
        size_t slash = full.rfind('/');
        if (pictureExtensionIndex(full.substr(slash == std::string::npos ? 0 : slash + 1)) >= 0)
            appendPicture(full);
    }
}

const std::string& pictureSources() { return list.sources; }

void buildPictureList() {
    releasePictureList();
    try {
        std::string imagePath(settings.ImagePath,
                              strnlen(settings.ImagePath, sizeof settings.ImagePath));
        if (!imagePath.empty()) {
            list.sources = absolutePath(imagePath);
            addPath(imagePath);
        } else {
            std::string user = userPicturesFolder();
            std::string samples = samplesFolder();
            list.sources = samples.empty() ? user : user + " or " + samples;
            addPath(user);
            struct stat a, b;
            // Someone may keep the samples in their own pictures folder.
            bool same = !user.empty() && !samples.empty() && stat(user.c_str(), &a) == 0 &&
                        stat(samples.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
                        a.st_ino == b.st_ino;
            if (!same) addPath(samples);
        }
    } catch (const std::bad_alloc&) {
        reportOutOfMemory();
    }
    list.current = list.head;
}

void advancePicture(bool removeCurrent) {
    PictureNode* next = list.current ? list.current->next : nullptr;
    if (removeCurrent) {
        PictureNode* gone = list.current ? list.current : list.tail;
        if (gone) unlink(gone);
    }
    list.current = next ? next : list.head;
}

void releasePictureList() {
    while (list.head) {
        PictureNode* next = list.head->next;
        delete list.head;
        list.head = next;
    }
    list = PictureListState{};
}

}  // namespace gx
