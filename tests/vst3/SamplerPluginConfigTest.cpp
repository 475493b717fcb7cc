#include "vst3/SamplerPluginConfig.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(SamplerPluginConfig, ProductRecord)
{
    const SamplerPluginConfig& c = kSamplerPluginConfig;
    EXPECT_EQ(c.magic, 0x12345678u);
    EXPECT_EQ(c.magicEnd, 0x87654321u);
    EXPECT_EQ(c.stereoUniqueId, 0x51564D32u);  // "QVM2", first character most significant
    EXPECT_EQ(c.multiUniqueId, fourCharCode("QVX2"));
    EXPECT_EQ(c.multiFamilyId, fourCharCode("QVx2"));
    EXPECT_EQ(c.stereoInputs, 0u);
    EXPECT_EQ(c.stereoOutputs, 2u);
    EXPECT_EQ(c.multiOutputs, 32u);
    EXPECT_EQ(c.automatableCount, 256u);
    EXPECT_STREQ(c.vendorName, "Vantor Works");
    EXPECT_STREQ(c.productName, "orbella C64");
    EXPECT_EQ(c.multiForm, 0);
    EXPECT_EQ(c.multiFormActive, 0);

    // The fields sit where the engine reads them.
    const auto* bytes = reinterpret_cast<const uint8_t*>(&c);
    EXPECT_EQ(memcmp(bytes + 0x40, "Vantor Works", 13), 0);
    EXPECT_EQ(memcmp(bytes + 0x80, "orbella C64", 12), 0);
    uint32_t word;
    memcpy(&word, bytes + 0xC8, 4);
    EXPECT_EQ(word, 32u);
    EXPECT_EQ(kPluginFormatVST3, 0xFA92);
}
