// A hint that memory will soon be read. GCC 12 drops __builtin_prefetch from some loops
// whose only other work is calls (the hint has no effect it can see), so on x86 the
// instruction is written out.
#pragma once

namespace gx {

inline void prefetchForRead(const void* p) {
#if defined(__x86_64__) || defined(__i386__)
    asm volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(p)));
#else
    __builtin_prefetch(p);
#endif
}

}  // namespace gx
