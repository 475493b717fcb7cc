// The generic descriptions are a process-wide singleton created on first use.
#include "synth/GenericParam.h"

#include <gtest/gtest.h>

#include <string>

using ZRS::GenericParam;

namespace {

std::string text(const char* p)
{
    return p ? std::string(p) : std::string("<none>");
}

}  // namespace

TEST(GenericParam, CreatedOnFirstUseAndShared)
{
    EXPECT_FALSE(GenericParam::isCreated());
    GenericParam& first = GenericParam::instance();
    EXPECT_TRUE(GenericParam::isCreated());
    EXPECT_EQ(&GenericParam::instance(), &first);
    EXPECT_EQ(&GenericParam::instance().record(3), &first.record(3));
}

TEST(GenericParam, RecordsFieldByField)
{
    const struct
    {
        const char* label;
        uint32_t type;
        float min, max, def;
        uint32_t displayMode;
        const char* format;
        float onValue;
        uint8_t flags, math;
        uint16_t modulation;
    } kRecords[] = {
        {"Amplitude (4-bit)", 1, 0, 15, 15, 0, nullptr, 1, 0x10, 11, 0x441},
        {"Amplitude (7-bit)", 1, 0, 127, 127, 0, nullptr, 1, 0x10, 11, 0x541},
        {"Amplitude", 0, 0, 1, 1, 11, "%3.0f", 100, 0x10, 11, 0x501},
        {"Detune", 1, -100, 100, 0, 0, nullptr, 1, 0x10, 3, 0x541},
        {"Transpose", 1, -128, 127, 0, 0, nullptr, 1, 0x10, 7, 0x541},
        {"Fixed Freq", 2, 0, 1, 0, 0, nullptr, 1, 0x10, 1, 0x481},
    };
    const GenericParam& g = GenericParam::instance();
    for (size_t i = 0; i < GenericParam::kRecordCount; ++i) {
        const auto& want = kRecords[i];
        const ParameterInfo& p = g.record(i);
        SCOPED_TRACE(want.label);
        const char* label = p.label;
        const char* format = p.displayFormat;
        const char* list = p.list;
        EXPECT_EQ(text(label), want.label);
        EXPECT_EQ(text(format), text(want.format));
        EXPECT_TRUE(list == nullptr);
        EXPECT_EQ(p.version, 2121u);
        EXPECT_EQ(p.type, want.type);
        EXPECT_EQ(p.minValue, want.min);
        EXPECT_EQ(p.maxValue, want.max);
        EXPECT_EQ(p.defaultValue, want.def);
        EXPECT_EQ(p.displayMode, want.displayMode);
        EXPECT_EQ(p.factor, want.onValue);
        EXPECT_EQ(p.flags, want.flags);
        EXPECT_EQ(p.mathFlags, want.math);
        EXPECT_EQ(p.modFlags, want.modulation);
        EXPECT_EQ(p.index, 0xFFFF);
        EXPECT_EQ(p.offset, 0.0f);
    }
}
