#pragma once
// Description of one instrument parameter. Records cross between the two deliverables by address,
// so the 64-byte layout below is binding (packed to 4 bytes; pointers are 64-bit).

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#pragma pack(push, 4)
class ParameterInfo
{
public:
    enum Type : uint32_t { Continuous = 0, Integer = 1, Switch = 2, Choice = 3 };

    // Values are stored in presets and sent to the plug-in: they must not change.
    enum DisplayMode : uint32_t {
        ByType = 0,
        CFormat = 1,  // "cformat", "cformatoffsetfactor": (x + offset) * factor
        OnOffCenter = 2,
        OnOffZero = 3,
        StereoPan = 4,
        Linear2Db = 5,
        Linear2DbConcave = 6,
        Float2Midi7 = 7,
        Float2Midi14 = 8,
        List = 9,
        OnOffValue = 10,
        CFormatFactorOffset = 11,  // x * factor + offset
        FixedString = 12,
        DisplayModeCount
    };

    enum MathFlag : uint8_t { Replace = 1, Offset = 2, Accum = 4, Scale = 8 };

    static constexpr uint32_t kVersion = 2121;
    static constexpr size_t kMaxDisplayFormat = 511;

    ParameterInfo() = default;
    ParameterInfo(const char* labelText, uint32_t valueType, float minimum, float maximum,
                  float defaultVal, uint8_t math, uint16_t modulation);
    ParameterInfo(const ParameterInfo& other);
    ParameterInfo& operator=(const ParameterInfo& other);
    ~ParameterInfo();

    void setLabel(const char* text);
    void setList(const char* text);
    void setDisplayFormat(const char* text);
    void clearLabel();
    void clearList();
    void clearDisplayFormat();
    void resetEverythingButLabel();
    void reset();

    // In-place conversions between the value and the host's 0..1 form.
    void pack01(float& v) const;
    void pack(float& v) const;
    void unpack01(float& v) const;
    void unpack(float& v) const;

    void toString(char* buffer, float x, size_t capacity) const;

    static uint32_t getDisplayModeFromText(const char* text);
    static void listMathFlags(std::vector<uint8_t>& out);
    static void getMathFlagName(uint8_t flag, std::string& out);
    static void listModFlags(std::vector<uint16_t>& out);

    uint32_t version = kVersion;
    uint32_t type = Continuous;
    uint32_t displayMode = ByType;
    uint8_t flags = 0;       // owned by the record's users, never interpreted here
    uint8_t mathFlags = 0;   // OR of MathFlag
    uint16_t modFlags = 0;   // OR of 0x0001..0x0400
    float minValue = 0.0f;
    float maxValue = 1.0f;
    float defaultValue = 0.0f;
    float factor = 1.0f;     // display factor; a switch's on value
    char* label = nullptr;   // owned texts, null when absent (never empty)
    char* list = nullptr;
    uint16_t index = 0xFFFF;
    uint16_t layerMask = 0xFFFF;
    char* displayFormat = nullptr;
    float offset = 0.0f;     // display offset; a switch's off value
};
#pragma pack(pop)

static_assert(sizeof(ParameterInfo) == 64);
static_assert(offsetof(ParameterInfo, version) == 0);
static_assert(offsetof(ParameterInfo, type) == 4);
static_assert(offsetof(ParameterInfo, displayMode) == 8);
static_assert(offsetof(ParameterInfo, flags) == 12);
static_assert(offsetof(ParameterInfo, mathFlags) == 13);
static_assert(offsetof(ParameterInfo, modFlags) == 14);
static_assert(offsetof(ParameterInfo, minValue) == 16);
static_assert(offsetof(ParameterInfo, maxValue) == 20);
static_assert(offsetof(ParameterInfo, defaultValue) == 24);
static_assert(offsetof(ParameterInfo, factor) == 28);
static_assert(offsetof(ParameterInfo, label) == 32);
static_assert(offsetof(ParameterInfo, list) == 40);
static_assert(offsetof(ParameterInfo, index) == 48);
static_assert(offsetof(ParameterInfo, layerMask) == 50);
static_assert(offsetof(ParameterInfo, displayFormat) == 52);
static_assert(offsetof(ParameterInfo, offset) == 60);

// Assigns every source entry to the target entry of the same key (created when new).
void mergeParamInfo(std::map<uint16_t, ParameterInfo>& target,
                    const std::map<uint16_t, ParameterInfo>& source);
