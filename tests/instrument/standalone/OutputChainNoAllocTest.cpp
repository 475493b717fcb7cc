// Counts every operator new of the process and, outside the sanitizer build (whose allocator
// must not be replaced), every malloc, calloc and realloc too - speexdsp allocates with those.
// So it runs alone.

#include "instrument/OutputFilters.h"
#include "instrument/Repackager.h"
#include "instrument/SpeexProvider.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

static std::atomic<long> g_allocations{0};

// The replacements pair malloc with free; GCC cannot see that through inlining.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t n)
{
    ++g_allocations;
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

#if !defined(__SANITIZE_ADDRESS__)
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* malloc(size_t n)
{
    ++g_allocations;
    return __libc_malloc(n);
}
void* calloc(size_t n, size_t size)
{
    ++g_allocations;
    return __libc_calloc(n, size);
}
void* realloc(void* p, size_t n)
{
    ++g_allocations;
    return __libc_realloc(p, n);
}
}
#endif

namespace {

class Tone : public SRCSubRenderer<float>
{
public:
    void renderSubBlock(float** buffers, uint64_t frames) override
    {
        for (uint64_t i = 0; i < frames; ++i) {
            buffers[0][i] = float(std::sin(0.01 * double(n++)));
            buffers[1][i] = 0.0f;
        }
    }
    uint64_t n = 0;
};

TEST(OutputChain, RunsWithoutAllocating)
{
    SpeexProvider provider;
    ASSERT_TRUE(provider.setup(2, 985248, 48000, 4, true));
    Repackager<float> repackager;
    ASSERT_TRUE(repackager.setup(111472, 2));
    Tone tone;
    repackager.setProvider(&provider);
    repackager.setRenderer(&tone);
    LPFilter lp;
    HPFilter hp;
    SIDOutputFilter out;
    out.setMode(1);
    out.updateCoefficients();
    std::vector<float> left(256), right(256), chip(8192, 0.5f);

    const long before = g_allocations.load();
    for (int block = 0; block < 200; ++block) {
        hp.process(chip.data(), int(chip.size()));
        lp.process(chip.data(), int(chip.size()));
        float* outs[2] = {left.data(), right.data()};
        repackager.pull(outs, 256);
        out.process(left.data(), 256);
    }
    float* ins[2] = {chip.data(), chip.data()};
    float* outs[2] = {left.data(), right.data()};
    uint64_t in = 1000, produced = 40;
    provider.process(ins, outs, &in, &produced);
    provider.reset();
    EXPECT_EQ(g_allocations.load(), before);
    EXPECT_GT(tone.n, 0u);
}

}  // namespace
