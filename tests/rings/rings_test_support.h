// Small helpers of the ring tests: temporary folders, whole-file reads and writes,
// the file image of the tables, waiting on another thread.
#pragma once

#include <stdlib.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "bodies/ring_tables.h"

class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "rings-XXXXXX").string();
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline std::vector<char> readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeAll(const std::string& path, const std::vector<char>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
}

// The tables laid out as the data file holds them.
inline std::vector<char> imageOf(const gx::RingTables& t) {
    std::vector<char> out;
    auto put = [&](const void* p, size_t n) {
        const char* c = static_cast<const char*>(p);
        out.insert(out.end(), c, c + n);
    };
    const int32_t header[4] = {1600, 1200, t.ringCentreX, t.ringCentreY};
    put(header, sizeof header);
    if (!t.ringStart || !t.ringPoints || !t.directionCodes) return out;
    put(t.ringStart, gx::kRingStartBytes);
    put(t.ringShades, gx::kRingShadesBytes);
    put(t.ringPoints, gx::kRingPointsBytes);
    put(t.directionCodes, gx::kDirectionCodesBytes);
    return out;
}

// Spins until the condition holds or the time passes (twenty seconds unless told: a window comes up
// slowly on a loaded machine); returns the condition.
template <typename F>
bool waitFor(F condition, std::chrono::seconds within = std::chrono::seconds(20)) {
    const auto until = std::chrono::steady_clock::now() + within;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
