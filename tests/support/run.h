// Running the real program and other commands from tests and benchmarks.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bodies/ring_tables.h"
#include "support/temp_folder.h"

namespace gxtest {

struct Child {
    pid_t pid = -1;
    std::string outPath, errPath;
};

// Starts argv with extra environment entries ("NAME=value"); output goes to files. With
// a workDir the program starts in that folder.
inline Child spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                   const std::string& outDir, const std::string& workDir = "") {
    Child c;
    static int counter = 0;
    ++counter;
    c.outPath = outDir + "/stdout-" + std::to_string(getpid()) + "-" + std::to_string(counter);
    c.errPath = outDir + "/stderr-" + std::to_string(getpid()) + "-" + std::to_string(counter);
    c.pid = fork();
    if (c.pid == 0) {
        int o = open(c.outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int e = open(c.errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int n = open("/dev/null", O_RDONLY);
        dup2(n, 0);
        dup2(o, 1);
        dup2(e, 2);
        for (const std::string& kv : env) putenv(strdup(kv.c_str()));
        if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(126);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    return c;
}

// Waits up to the timeout; returns the exit code, 128+signal, or -1 on timeout (the
// child is then killed).
inline int waitFor(Child& c, double seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (true) {
        int status = 0;
        pid_t r = waitpid(c.pid, &status, WNOHANG);
        if (r == c.pid) {
            if (WIFEXITED(status)) return WEXITSTATUS(status);
            if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
            return -2;
        }
        if (std::chrono::steady_clock::now() > end) {
            kill(c.pid, SIGKILL);
            waitpid(c.pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

struct Result {
    int code = -1;
    std::string out, err;
};

inline Result run(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                  const std::string& dir, double seconds = 120, const std::string& workDir = "") {
    Child c = spawn(argv, env, dir, workDir);
    Result r;
    r.code = waitFor(c, seconds);
    r.out = readFile(c.outPath);
    r.err = readFile(c.errPath);
    return r;
}

inline std::string binary() { return GLIMMERAX_BINARY; }
inline std::string sourceDir() { return GLIMMERAX_SOURCE_DIR; }

// Ring tables take a moment to generate; tests copy one shared file into their homes.
inline std::string sharedDataFile() {
    static std::string path;
    if (!path.empty()) return path;
    std::string dir = std::string(GLIMMERAX_BUILD_DIR) + "/test-data";
    mkdir(dir.c_str(), 0755);
    // Named after the tables' hash, so a file an earlier build made is not taken.
    char name[64];
    std::snprintf(name, sizeof name, "/Glimmerax-%016llx.dat",
                  (unsigned long long)gx::kRingTablesHash);
    path = dir + name;
    if (!fileExists(path)) {
        std::string tmp = makeTempDir("gxdat");
        Result r = run({binary(), "/s", "--headless", "--size", "64x48", "--seconds", "0.1"},
                       {"GLIMMERAX_HOME=" + tmp}, tmp, 120);
        std::string cmd = "cp '" + tmp + "/Glimmerax.dat' '" + path + ".tmp' && mv '" + path +
                          ".tmp' '" + path + "'";
        (void)std::system(cmd.c_str());
        removeTree(tmp);
    }
    return path;
}

inline std::string newHome(const std::string& tag = "gxhome") {
    std::string home = makeTempDir(tag);
    std::string cmd = "cp '" + sharedDataFile() + "' '" + home + "/Glimmerax.dat'";
    (void)std::system(cmd.c_str());
    return home;
}

}  // namespace gxtest
