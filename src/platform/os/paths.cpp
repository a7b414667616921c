#include "platform/os/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <string>

namespace gx {
namespace {

std::string userHome() {
    const char* h = std::getenv("HOME");
    return (h && *h) ? std::string(h) : std::string("/tmp");
}

bool isDir(const std::string& p) {
    struct stat st {};
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isFile(const std::string& p) {
    struct stat st {};
    return stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string withSlash(std::string p) {
    if (p.empty() || p.back() != '/') p += '/';
    return p;
}

std::string currentFolder() {
    std::string buffer(PATH_MAX, '\0');
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE) return "";
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(std::char_traits<char>::length(buffer.c_str()));
    return buffer;
}

bool startingFolderKnown = false;
std::string startingFolderPath;

// A folder named in the environment, taken from the starting folder when relative.
std::string envFolder(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return (v && *v) ? fromStartingFolder(v) : fallback;
}

}  // namespace

void rememberStartingFolder() {
    startingFolderPath = currentFolder();
    startingFolderKnown = true;
}

const std::string& startingFolder() {
    if (!startingFolderKnown) rememberStartingFolder();
    return startingFolderPath;
}

std::string fromStartingFolder(const std::string& path) {
    if (path.empty() || path.front() == '/') return path;
    const std::string& start = startingFolder();
    // Without a known starting folder the path stays as given.
    if (start.empty()) return path;
    std::string rest = path;
    while (rest.size() >= 2 && rest.compare(0, 2, "./") == 0) {
        rest.erase(0, 2);
        while (!rest.empty() && rest.front() == '/') rest.erase(0, 1);
    }
    if (rest.empty() || rest == ".") return start;
    return withSlash(start) + rest;
}

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    if (!name.empty() && name.front() == '/') return name;
    return withSlash(folder) + name;
}

bool makeFolders(const std::string& path) {
    if (path.empty()) return false;
    std::string cur;
    size_t i = 0;
    while (i <= path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string::npos) j = path.size();
        cur = path.substr(0, j);
        if (!cur.empty() && !isDir(cur)) {
            if (mkdir(cur.c_str(), 0755) != 0 && errno != EEXIST) return false;
        }
        i = j + 1;
    }
    return isDir(path);
}

std::string programFolder() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "./";
    buf[n] = 0;
    std::string p(buf);
    size_t slash = p.rfind('/');
    return slash == std::string::npos ? std::string("./") : p.substr(0, slash + 1);
}

std::string homeFolder() {
    std::string dir;
    if (const char* h = std::getenv("GLIMMERAX_HOME"); h && *h) {
        dir = fromStartingFolder(h);
    } else if (isFile(programFolder() + "Glimmerax.ini")) {
        dir = programFolder();
    } else {
        dir = envFolder("XDG_CONFIG_HOME", userHome() + "/.config") + "/glimmerax";
    }
    makeFolders(dir);
    return withSlash(dir);
}

std::string cacheFolder() {
    std::string dir;
    if (const char* h = std::getenv("GLIMMERAX_HOME"); h && *h) {
        dir = fromStartingFolder(h);
    } else {
        dir = envFolder("XDG_CACHE_HOME", userHome() + "/.cache") + "/glimmerax";
    }
    makeFolders(dir);
    return withSlash(dir);
}

std::string userPicturesFolder() {
    std::string home = userHome();
    std::string dirsFile = envFolder("XDG_CONFIG_HOME", home + "/.config") + "/user-dirs.dirs";
    std::ifstream in(dirsFile);
    std::string line;
    while (std::getline(in, line)) {
        const std::string key = "XDG_PICTURES_DIR=";
        if (line.rfind(key, 0) != 0) continue;
        std::string v = line.substr(key.size());
        if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
        if (v.rfind("$HOME", 0) == 0) v = home + v.substr(5);
        if (!v.empty() && v != home && v != home + "/") return v;
    }
    return home + "/Pictures";
}

std::string samplesFolder() {
    std::string prog = programFolder();
    // Installed: <prefix>/bin/glimmerax with <prefix>/share/glimmerax/samples.
    std::string installed = prog + "../share/glimmerax/samples";
    if (isDir(installed)) {
        char real[PATH_MAX];
        return realpath(installed.c_str(), real) ? std::string(real) : installed;
    }
    // A portable copy keeps its samples beside it.
    if (isDir(prog + "samples")) return prog + "samples";
#ifdef GLIMMERAX_INSTALL_DATADIR
    if (isDir(GLIMMERAX_INSTALL_DATADIR "/glimmerax/samples"))
        return GLIMMERAX_INSTALL_DATADIR "/glimmerax/samples";
#endif
#ifdef GLIMMERAX_SOURCE_SAMPLES
    if (isDir(GLIMMERAX_SOURCE_SAMPLES)) return GLIMMERAX_SOURCE_SAMPLES;
#endif
    return "";
}

}  // namespace gx
