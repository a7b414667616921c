// The picture folder scan, on directory handles (openat), so paths of any length and
// symbolic-link loops are both harmless.
#include "platform/os/folder_scan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <set>
#include <utility>
#include <vector>

namespace gx {
namespace {

char upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

std::string join(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

struct Scan {
    std::set<std::pair<dev_t, ino_t>> visited;
    const std::function<bool(const std::string&)>& found;

    // Takes ownership of fd. False when the caller asked to stop.
    bool folder(int fd, const std::string& path) {
        struct stat st;
        if (fstat(fd, &st) != 0 || !visited.insert({st.st_dev, st.st_ino}).second) {
            close(fd);
            return true;
        }
        DIR* dir = fdopendir(fd);
        if (!dir) {
            close(fd);
            return true;
        }
        std::vector<std::string> pictures[kPictureTypes];
        std::vector<std::string> subfolders;
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name.empty() || name[0] == '.') continue;  // hidden, "." and ".."
            struct stat es;
            if (fstatat(dirfd(dir), name.c_str(), &es, 0) != 0) continue;  // e.g. a broken link
            if (S_ISDIR(es.st_mode)) {
                subfolders.push_back(std::move(name));
            } else if (S_ISREG(es.st_mode)) {
                int kind = pictureExtensionIndex(name);
                if (kind >= 0) pictures[kind].push_back(std::move(name));
            }
        }
        bool go = true;
        for (auto& group : pictures) {
            std::sort(group.begin(), group.end(), pictureNameLess);
            for (const auto& name : group)
                if (go && !found(join(path, name))) go = false;
        }
        std::sort(subfolders.begin(), subfolders.end(), pictureNameLess);
        for (const auto& name : subfolders) {
            if (!go) break;
            int child = openat(dirfd(dir), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (child >= 0) go = folder(child, join(path, name));
        }
        closedir(dir);
        return go;
    }
};

}  // namespace

bool pictureNameLess(const std::string& a, const std::string& b) {
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        char x = upper(a[i]), y = upper(b[i]);
        if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

int pictureExtensionIndex(const std::string& name) {
    size_t dot = name.rfind('.');
    if (dot == std::string::npos) return -1;
    std::string ext = name.substr(dot + 1);
    for (char& c : ext) c = upper(c);
    for (int i = 0; i < kPictureTypes; ++i)
        for (const char* e : kPictureExtensions[i])
            if (e && ext == e) return i;
    return -1;
}

std::string absolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    std::vector<char> buffer(PATH_MAX);
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE) return path;
        buffer.resize(buffer.size() * 2);
    }
    return join(buffer.data(), path);
}

bool scanPictureFolder(const std::string& folder,
                       const std::function<bool(const std::string&)>& found) {
    std::string path = absolutePath(folder);
    int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return true;
    Scan scan{{}, found};
    return scan.folder(fd, path);
}

}  // namespace gx
