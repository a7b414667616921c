// Temporary folders and whole files, for tests and benchmarks: a folder under /tmp for one
// test, removed with everything in it (read-only parts too), and whole-file reads and
// writes.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace gxtest {

// A fresh folder /tmp/<tag>-XXXXXX, or an empty string when none could be made.
inline std::string makeTempDir(const std::string& tag = "gx") {
    std::string tmpl = "/tmp/" + tag + "-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back(0);
    char* d = mkdtemp(buf.data());
    return d ? std::string(d) : std::string();
}

// Removes a folder made by makeTempDir (or any folder below /tmp) with everything in it.
inline void removeTree(const std::string& dir) {
    namespace fs = std::filesystem;
    if (dir.size() <= 5 || dir.rfind("/tmp/", 0) != 0) return;
    std::error_code ec;
    // A test may have taken the write permission away to make writes fail.
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(dir, ec);
}

class TempFolder {
public:
    explicit TempFolder(const std::string& tag = "gx") : path_(makeTempDir(tag)) {}
    ~TempFolder() { removeTree(path_); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    std::string operator/(const std::string& name) const { return file(name); }

private:
    std::string path_;
};

// Empty when the file is missing or is a folder.
inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

inline bool fileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

}  // namespace gxtest
