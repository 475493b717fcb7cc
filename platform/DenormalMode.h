#pragma once
// Flush-to-zero and denormals-are-zero for the length of a scope, as audio code runs: decaying
// filters then reach 0 instead of crawling through subnormal numbers, which cost many times a
// normal operation. The caller's control word comes back whole on exit. Only x86-64 (its SSE
// control word, MXCSR) is handled; elsewhere the scope changes nothing.

#include <cstdint>

#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace vantor {

class ScopedFlushDenormals
{
public:
    static constexpr uint32_t kFlushToZero = 0x8000;       // MXCSR bit 15
    static constexpr uint32_t kDenormalsAreZero = 0x0040;  // MXCSR bit 6

    ScopedFlushDenormals();
    ~ScopedFlushDenormals();
    ScopedFlushDenormals(const ScopedFlushDenormals&) = delete;
    ScopedFlushDenormals& operator=(const ScopedFlushDenormals&) = delete;

private:
    [[maybe_unused]] uint32_t saved = 0;
};

#if defined(__x86_64__)
inline ScopedFlushDenormals::ScopedFlushDenormals() : saved(_mm_getcsr())
{
    _mm_setcsr(saved | kFlushToZero | kDenormalsAreZero);
}
inline ScopedFlushDenormals::~ScopedFlushDenormals()
{
    _mm_setcsr(saved);
}
#else
inline ScopedFlushDenormals::ScopedFlushDenormals() {}
inline ScopedFlushDenormals::~ScopedFlushDenormals() {}
#endif

}  // namespace vantor
