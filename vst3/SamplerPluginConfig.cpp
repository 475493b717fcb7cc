#include "vst3/SamplerPluginConfig.h"

#include "platform/ConsoleLogger.h"

#include <cstring>
#include <mutex>
#include <string>

const SamplerPluginConfig kSamplerPluginConfig = {
    .magic = 0x12345678,
    .reserved04 = 0,
    .stereoUniqueId = fourCharCode("QVM2"),
    .stereoInputs = 0,
    .stereoOutputs = 2,
    .unused14 = 1,
    .reserved18 = {},
    .automatableCount = 256,
    .hasAudioInput = 0,
    .reserved2C = {},
    .vendorName = "Vantor Works",
    .productName = "orbella C64",
    .multiForm = 0,
    .multiFormActive = 0,
    .reservedC2 = {},
    .multiInputs = 0,
    .multiOutputs = 32,
    .reservedCC = 0,
    .multiUniqueId = fourCharCode("QVX2"),
    .multiFamilyId = fourCharCode("QVx2"),
    .unusedD8 = 1,
    .reservedDC = {},
    .magicEnd = 0x87654321,
};

namespace vantor {

namespace {

std::string fieldText(const char (&field)[64]) { return std::string(field, strnlen(field, sizeof field)); }

}  // namespace

void startPluginLogOnce(const SamplerPluginConfig& config, uint16_t formatCode)
{
    static std::once_flag once;
    // The result is not looked at: without a log the plug-in works on.
    std::call_once(once, [&] {
        setUpPluginLog(fieldText(config.vendorName), fieldText(config.productName), formatCode,
                       config.multiForm, config.multiFormActive);
    });
}

}  // namespace vantor
