// Counts every allocation of the process, so it runs alone: the ASID receiver, fed a text message
// far longer than it keeps, allocates nothing.
#define VANTOR_COUNT_MALLOC
#include "fixtures/AllocationCounter.h"

#include "media/Asid.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// Keeps the text in a fixed buffer: the listener allocates nothing either.
class Display : public MediaCallback
{
public:
    void writeMediaRegister(uint32_t, uint64_t, uint32_t, uint32_t, uint32_t, double) override {}
    void setDisplayText(const char* text) override
    {
        std::strncpy(shown, text, sizeof shown - 1);
        ++calls;
    }
    char shown[1024] = {};
    int calls = 0;
};

TEST(AsidAllocation, ALongTextMessageIsFedWithoutAllocating)
{
    Display display;
    ASIDReceiver receiver(&display, 80);
    std::vector<uint8_t> message{0xF0, 0x2D, 0x4F};
    for (int i = 0; i < 10000 - 4; ++i)
        message.push_back(uint8_t('A' + i % 26));
    message.push_back(0xF7);
    ASSERT_EQ(message.size(), 10000u);

    const long before = fixtures::allocationCount();
    for (int round = 0; round < 3; ++round)
        receiver.feedMessage(message.data(), message.size());
    EXPECT_EQ(fixtures::allocationCount() - before, 0);
    EXPECT_EQ(display.calls, 3);
    EXPECT_EQ(std::strlen(display.shown), 256u);
    EXPECT_EQ(std::memcmp(display.shown, message.data() + 3, 256), 0);
}

}  // namespace
