// Rendering never allocates: every operator new of the process is counted around renders of the
// chip's paths and models, so it runs alone.

#include "../SIDEmuTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

static std::atomic<long> g_news{0};

// The replacements pair malloc with free; GCC cannot see that through inlining.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

// Every form is replaced, so that the sanitizer's own forms never meet these deletes.
void* operator new(std::size_t n)
{
    ++g_news;
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept
{
    ++g_news;
    return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace {

TEST(SIDEmuNoAllocation, RenderAndRegisterAccess)
{
    const auto db = sidtest::loadDatabase({fixtures::syntheticChip("lin", 1, true),
                                           fixtures::syntheticChip("measured", 2, false)});
    const struct {
        int profile;  // -1: built-in model
        uint8_t controls[3];
    } kCases[] = {
        {-1, {0x11, 0x21, 0x41}},  // no source
        {-1, {0x15, 0x21, 0x81}},  // one ring voice
        {-1, {0x13, 0x23, 0x61}},  // sync voices: stepped phases
        {0, {0x13, 0x23, 0x61}},   {1, {0x11, 0x83, 0x41}},
    };
    std::vector<int32_t> out(5000, 0);
    int32_t* channels[1] = {out.data()};
    for (const auto& k : kCases) {
        auto chip = sidtest::makeChip(256);
        chip->extensionsEnabled = 1;
        chip->setParameter(SIDParam::kOscLeak, 1.0f);
        if (k.profile >= 0) {
            chip->useDatabase(*db);
            chip->setParameter(SIDParam::kModel, float(k.profile));
        }
        const long before = g_news.load();
        sidtest::write(*chip, {{24, 0x3F}, {23, 0x73}, {22, 40}, {1, 0x10}, {8, 0x21}, {15, 0x07}, {6, 0xF0},
                               {13, 0xF0}, {20, 0xF0}, {29, 0x40}});
        for (size_t v = 0; v < 3; ++v)
            chip->writeRegister(uint16_t(7 * v + 4), k.controls[v]);
        chip->render(channels, 300);   // more than the init block: rendered in pieces
        chip->render(channels, 5000);
        chip->writeRegister(23, 0x01);
        chip->render(channels, 100);
        chip->readRegister(27);
        chip->readRegister(28);
        EXPECT_EQ(g_news.load(), before) << "profile " << k.profile;
    }
}

}  // namespace
