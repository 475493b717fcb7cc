#pragma once
// The plug-in's constant configuration record (256 bytes) and its plug-in format codes.

#include <cstddef>
#include <cstdint>

// Plug-in formats; the log file's name takes the format's suffix.
enum PluginFormat : uint16_t {
    kPluginFormatSA = 0xFA90,
    kPluginFormatVST2X = 0xFA91,
    kPluginFormatVST3 = 0xFA92,
    kPluginFormatAU = 0xFA93,
    kPluginFormatAAX = 0xFA94,
    kPluginFormatMSVCTest = 0xFA95,
    kPluginFormatCLAP = 0xFA96,
    kPluginFormatPTest = 0xFA97,
};

// A four-character code as a number whose most significant byte is the first character.
constexpr uint32_t fourCharCode(const char (&code)[5])
{
    return uint32_t(uint8_t(code[0])) << 24 | uint32_t(uint8_t(code[1])) << 16 |
        uint32_t(uint8_t(code[2])) << 8 | uint32_t(uint8_t(code[3]));
}

struct SamplerPluginConfig {
    uint32_t magic;  // 0x12345678
    uint32_t reserved04;
    uint32_t stereoUniqueId;  // four-character code
    uint32_t stereoInputs;
    uint32_t stereoOutputs;
    uint32_t unused14;
    uint8_t reserved18[12];
    uint32_t automatableCount;
    uint32_t hasAudioInput;
    uint8_t reserved2C[20];
    char vendorName[64];  // zero-terminated
    char productName[64];  // zero-terminated
    uint8_t multiForm;  // the log name gets "_Multi" only when both are set
    uint8_t multiFormActive;
    uint8_t reservedC2[2];
    uint32_t multiInputs;
    uint32_t multiOutputs;
    uint32_t reservedCC;
    uint32_t multiUniqueId;  // four-character code
    uint32_t multiFamilyId;  // four-character code
    uint32_t unusedD8;
    uint8_t reservedDC[32];
    uint32_t magicEnd;  // 0x87654321
};
static_assert(sizeof(SamplerPluginConfig) == 256);
static_assert(offsetof(SamplerPluginConfig, reserved04) == 0x04);
static_assert(offsetof(SamplerPluginConfig, stereoUniqueId) == 0x08);
static_assert(offsetof(SamplerPluginConfig, stereoInputs) == 0x0C);
static_assert(offsetof(SamplerPluginConfig, stereoOutputs) == 0x10);
static_assert(offsetof(SamplerPluginConfig, unused14) == 0x14);
static_assert(offsetof(SamplerPluginConfig, reserved18) == 0x18);
static_assert(offsetof(SamplerPluginConfig, automatableCount) == 0x24);
static_assert(offsetof(SamplerPluginConfig, hasAudioInput) == 0x28);
static_assert(offsetof(SamplerPluginConfig, reserved2C) == 0x2C);
static_assert(offsetof(SamplerPluginConfig, vendorName) == 0x40);
static_assert(offsetof(SamplerPluginConfig, productName) == 0x80);
static_assert(offsetof(SamplerPluginConfig, multiForm) == 0xC0);
static_assert(offsetof(SamplerPluginConfig, multiFormActive) == 0xC1);
static_assert(offsetof(SamplerPluginConfig, reservedC2) == 0xC2);
static_assert(offsetof(SamplerPluginConfig, multiInputs) == 0xC4);
static_assert(offsetof(SamplerPluginConfig, multiOutputs) == 0xC8);
static_assert(offsetof(SamplerPluginConfig, reservedCC) == 0xCC);
static_assert(offsetof(SamplerPluginConfig, multiUniqueId) == 0xD0);
static_assert(offsetof(SamplerPluginConfig, multiFamilyId) == 0xD4);
static_assert(offsetof(SamplerPluginConfig, unusedD8) == 0xD8);
static_assert(offsetof(SamplerPluginConfig, reservedDC) == 0xDC);
static_assert(offsetof(SamplerPluginConfig, magicEnd) == 0xFC);

// This product's record.
extern const SamplerPluginConfig kSamplerPluginConfig;

namespace vantor {

// The log set-up of the engine bridge, run at most once per process (later calls do nothing);
// a log that cannot be opened leaves the plug-in working without one.
void startPluginLogOnce(const SamplerPluginConfig& config, uint16_t formatCode);

}  // namespace vantor
