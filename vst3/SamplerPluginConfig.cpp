#include "vst3/SamplerPluginConfig.h"

#include "platform/ConsoleLogger.h"

#include <cstring>
#include <mutex>
#include <string>

const SamplerPluginConfig kSamplerPluginConfig = {
    0x12345678, 0, fourCharCode("QVM2"), 0, 2, 1, {}, 256, 0, {}, "Vantor Works", "orbella C64", 0, 0, {},
    0,          32, 0, fourCharCode("QVX2"), fourCharCode("QVx2"), 1, {}, 0x87654321,
};

namespace vantor {

namespace {

std::string fieldText(const char (&field)[64]) { return std::string(field, strnlen(field, sizeof field)); }

}  // namespace

void startPluginLogOnce(const SamplerPluginConfig& config, uint16_t formatCode)
{
    static std::once_flag once;
    std::call_once(once, [&] {
        setUpPluginLog(fieldText(config.vendorName), fieldText(config.productName), formatCode, config.multiForm,
                       config.multiFormActive);  // without a log the plug-in works on
    });
}

}  // namespace vantor
