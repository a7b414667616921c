#include "core/large_memory.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

namespace gx {

namespace {

constexpr size_t kHugePage = size_t(2) << 20;

// The few live mappings and their lengths; anything else came from calloc.
std::mutex mappingsLock;
std::vector<std::pair<void*, size_t>>& mappings() {
    static std::vector<std::pair<void*, size_t>> list;
    return list;
}

}  // namespace

void* allocateLargeZeroed(size_t count, size_t size) {
    if (size != 0 && count > SIZE_MAX / size) return nullptr;
    const size_t bytes = count * size;
    if (bytes < kHugePage) return std::calloc(count > 0 ? count : 1, size > 0 ? size : 1);
    if (bytes > SIZE_MAX - kHugePage) return nullptr;
    const size_t length = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    madvise(p, length, MADV_HUGEPAGE);
    try {
        std::lock_guard<std::mutex> hold(mappingsLock);
        mappings().push_back({p, length});
    } catch (...) {
        munmap(p, length);
        return nullptr;
    }
    return p;
}

void freeLarge(void* p) {
    if (p == nullptr) return;
    {
        std::lock_guard<std::mutex> hold(mappingsLock);
        auto& list = mappings();
        for (size_t i = 0; i < list.size(); ++i) {
            if (list[i].first != p) continue;
            munmap(p, list[i].second);
            list[i] = list.back();
            list.pop_back();
            return;
        }
    }
    std::free(p);
}

}  // namespace gx
