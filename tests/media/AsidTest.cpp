#include "media/Asid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// Records register writes as their values; every other call as a count.
class RegisterImage : public MediaCallback
{
public:
    void writeMediaRegister(uint32_t kind, uint64_t, uint32_t, uint32_t reg, uint32_t value, double) override
    {
        ++calls;
        lastKind = kind;
        if (reg < 25)
            regs[reg] = uint8_t(value);
        else
            badRegister = true;
        if (value > 0xFF)
            badRegister = true;
    }
    void addChip(uint32_t, uint32_t, uint32_t) override { ++calls; }
    void releaseAllGates(uint32_t) override { ++calls; }
    void captureRegisters(uint64_t) override { ++calls; }
    void setDisplayText(const char*) override { ++calls; }

    uint8_t regs[25] = {};
    uint32_t lastKind = 0;
    long calls = 0;
    bool badRegister = false;
};

Bytes built(bool (*build)(std::vector<uint8_t>&))
{
    Bytes out;
    EXPECT_TRUE(build(out));
    return out;
}

TEST(AsidBuilders, StartStopAndText)
{
    EXPECT_EQ(built(buildAsidStart), (Bytes{0xF0, 0x2D, 0x4C, 0xF7}));
    EXPECT_EQ(built(buildAsidStop), (Bytes{0xF0, 0x2D, 0x4D, 0xF7}));

    Bytes out{0x99};  // appended, not replaced
    const uint8_t ab[] = {'A', 'B'};
    EXPECT_TRUE(buildAsidText(ab, 2, out));
    EXPECT_EQ(out, (Bytes{0x99, 0xF0, 0x2D, 0x4F, 0x41, 0x42, 0xF7}));

    out.clear();
    const uint8_t bad[] = {'A', 0x80, 'B'};
    EXPECT_FALSE(buildAsidText(bad, 3, out));
    EXPECT_EQ(out, (Bytes{0xF0, 0x2D, 0x4F, 0x41}));
}

TEST(AsidBuilders, AllRegisters)
{
    uint8_t image[25] = {};
    image[4] = 0x81;
    Bytes out;
    EXPECT_TRUE(buildAsidRegisters(image, out));
    Bytes expected{0xF0, 0x2D, 0x4E, 0x7F, 0x7F, 0x7F, 0x0F, 0x00, 0x00, 0x00, 0x02};
    expected.insert(expected.end(), 22, 0x00);
    expected.insert(expected.end(), {0x01, 0x00, 0x00, 0xF7});
    EXPECT_EQ(out.size(), 37u);
    EXPECT_EQ(out, expected);
}

TEST(AsidBuilders, OneRegister)
{
    Bytes out;
    EXPECT_TRUE(buildAsidRegister(18, 0xFF, out));
    EXPECT_EQ(out, (Bytes{0xF0, 0x2D, 0x4E, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x08, 0x7F, 0xF7}));
    EXPECT_FALSE(buildAsidRegister(25, 0x12, out));
    EXPECT_TRUE(out.empty());

    // Every register 0-24 travels alone, value intact.
    for (uint8_t reg = 0; reg < 25; ++reg) {
        RegisterImage image;
        ASIDReceiver receiver(&image, 77);
        out.clear();
        ASSERT_TRUE(buildAsidRegister(reg, uint8_t(0x80 | reg), out));
        ASSERT_EQ(out.size(), 13u);
        receiver.feedMessage(out.data(), out.size());
        EXPECT_EQ(image.regs[reg], 0x80 | reg) << int(reg);
        EXPECT_EQ(image.calls, 2) << int(reg);  // the write and the capture
        EXPECT_EQ(image.lastKind, 77u);
    }
}

TEST(AsidBuilders, RandomImagesSurviveEncodingAndDecoding)
{
    std::mt19937 random(39);
    for (int round = 0; round < 200; ++round) {
        uint8_t image[25];
        for (uint8_t& r : image)
            r = uint8_t(random());
        Bytes out;
        ASSERT_TRUE(buildAsidRegisters(image, out));
        RegisterImage decoded;
        ASSERT_TRUE(decodeAsidRegisters(out.data() + 3, out.size() - 4, decoded, 80));
        for (size_t r = 0; r < 25; ++r)
            ASSERT_EQ(decoded.regs[r], image[r]) << "round " << round << " register " << r;
    }
}

TEST(AsidDecoder, LengthMustMatchTheMaskBits)
{
    RegisterImage image;
    // Bit 7 of a mask byte counts but selects nothing.
    const uint8_t counted[] = {0x81, 0, 0, 0, 0, 0, 0, 0, 0x11, 0x22};
    EXPECT_TRUE(decodeAsidRegisters(counted, sizeof counted, image, 80));
    EXPECT_EQ(image.regs[0], 0x11);
    EXPECT_EQ(image.calls, 1);

    RegisterImage untouched;
    EXPECT_FALSE(decodeAsidRegisters(counted, sizeof counted - 1, untouched, 80));
    EXPECT_FALSE(decodeAsidRegisters(counted, 7, untouched, 80));
    EXPECT_FALSE(decodeAsidRegisters(nullptr, 0, untouched, 80));
    EXPECT_EQ(untouched.calls, 0);
}

// Records each display text.
class Display : public MediaCallback
{
public:
    void writeMediaRegister(uint32_t, uint64_t, uint32_t, uint32_t, uint32_t, double) override {}
    void setDisplayText(const char* text) override { texts.push_back(text); }
    std::vector<std::string> texts;
};

Bytes textMessage(size_t length)
{
    Bytes m{0xF0, 0x2D, 0x4F};
    for (size_t i = 0; i < length; ++i)
        m.push_back(uint8_t(0x20 + i % 95));
    m.push_back(0xF7);
    return m;
}

// A text message shows its first 256 characters; the rest is dropped.
TEST(AsidReceiver, TextMessagesKeepTheirFirst256Characters)
{
    Display display;
    ASIDReceiver receiver(&display, 80);
    EXPECT_GE(receiver.textCapacity(), 256u);
    for (size_t length : {0, 2, 255, 256, 257, 10000}) {
        SCOPED_TRACE(length);
        const Bytes m = textMessage(length);
        receiver.feedMessage(m.data(), m.size());
        ASSERT_FALSE(display.texts.empty());
        EXPECT_EQ(display.texts.back(), std::string(m.begin() + 3, m.begin() + 3 + int64_t(std::min<size_t>(length, 256))));
        EXPECT_EQ(receiver.getState(), ASIDReceiver::kWaitStart);
    }
    EXPECT_EQ(display.texts.size(), 6u);
    // A byte of 80 or above fails the message even past the kept part.
    Bytes bad = textMessage(300);
    bad[3 + 280] = 0x80;
    receiver.feedMessage(bad.data(), bad.size());
    EXPECT_EQ(display.texts.size(), 6u);
    EXPECT_EQ(receiver.getState(), ASIDReceiver::kError);
}

// Random messages, mostly well framed: the buffer never passes 64 bytes, nothing is called once a
// message has failed, and the next message starts clean.
TEST(AsidReceiverBadInput, RandomMessages)
{
    std::mt19937 random(1639);
    RegisterImage image;
    ASIDReceiver receiver(&image, 80);
    EXPECT_EQ(receiver.bufferCapacity(), 64u);
    const uint8_t commands[] = {0x4C, 0x4D, 0x4E, 0x4F, 0x50, 0x4B, 0x51, 0xF7};
    for (int m = 0; m < 10000; ++m) {
        Bytes message{0xF0, uint8_t(random() % 8 ? 0x2D : random())};
        message.push_back(commands[random() % std::size(commands)]);
        const size_t length = random() % 90;
        for (size_t i = 0; i < length; ++i)
            message.push_back(uint8_t(random() % 4 ? random() & 0x7F : random()));
        message.push_back(0xF7);

        receiver.reset();
        bool failed = false;
        for (const uint8_t b : message) {
            const long before = image.calls;
            receiver.feed(b);
            ASSERT_LE(receiver.bufferedBytes(), 64u);
            ASSERT_LE(receiver.bufferCapacity(), 64u);
            if (failed) {
                ASSERT_EQ(image.calls, before) << "message " << m;
            }
            failed = failed || receiver.getState() == ASIDReceiver::kError;
        }
        ASSERT_FALSE(image.badRegister);

        // The next message parses normally.
        const Bytes start{0xF0, 0x2D, 0x4C, 0xF7};
        const long before = image.calls;
        receiver.feedMessage(start.data(), start.size());
        ASSERT_EQ(image.calls, before + 1);
        ASSERT_EQ(receiver.getState(), ASIDReceiver::kWaitStart);
    }
}

}  // namespace
