// The module's four exports. Each module target links this file's object (its link line asks for
// the four names) and supplies createModuleInstrument.

#include "instrument/ModuleExports.h"
#include "instrument/EnginePluginSDK.h"

#include <cstring>

namespace {

constexpr const char* kInstrumentName = "C64";
constexpr uint32_t kExtensionIds[8] = {35607, 61715, 22362, 50789, 32391, 12497, 12499, 47731};
constexpr uint32_t kIgnoredExtensionId = 20824;

void putWord(void* record, size_t offset, uint32_t value)
{
    std::memcpy(static_cast<uint8_t*>(record) + offset, &value, sizeof value);
}

void putText(void* record, size_t offset, const char* first, const char* second)
{
    char* out = static_cast<char*>(record) + offset;
    const size_t a = std::strlen(first), b = std::strlen(second);
    std::memcpy(out, first, a);
    std::memcpy(out + a, second, b);
    out[a + b] = '\0';
}

}  // namespace

#define VANTOR_EXPORT extern "C" __attribute__((visibility("default")))

VANTOR_EXPORT int32_t getNumTarnPlugins(void)
{
    return 1;
}

// Writes only the named fields; the rest of the engine's record stays as it was.
VANTOR_EXPORT int32_t fillTarnPluginInfo(int32_t index, void* record)
{
    if (index != 0 || !record)
        return 1;
    putWord(record, offsetof(PluginInfoRecord, word100), 0);
    putWord(record, offsetof(PluginInfoRecord, word104), 4);
    putWord(record, offsetof(PluginInfoRecord, word1C0), 1);
    putWord(record, offsetof(PluginInfoRecord, sdkVersion), kEngineSDKVersion);
    for (size_t i = 0; i < 8; ++i)
        putWord(record, offsetof(PluginInfoRecord, extensionIds) + 4 * i, kExtensionIds[i]);
    putWord(record, offsetof(PluginInfoRecord, extensionCount), 8);
    putWord(record, offsetof(PluginInfoRecord, word1FC), 1);
    putWord(record, offsetof(PluginInfoRecord, ignoredExtensionId), kIgnoredExtensionId);
    putWord(record, offsetof(PluginInfoRecord, word580), 1);
    constexpr uint32_t words600[4] = {2, 1, 3, 15};
    constexpr uint32_t words610[4] = {4, 2, 1, 1};
    for (size_t i = 0; i < 4; ++i) {
        putWord(record, offsetof(PluginInfoRecord, words600) + 4 * i, words600[i]);
        putWord(record, offsetof(PluginInfoRecord, words610) + 4 * i, words610[i]);
    }
    putWord(record, offsetof(PluginInfoRecord, word620), 1);
    putText(record, offsetof(PluginInfoRecord, identifier), kIdentifierPrefix, kInstrumentName);
    putText(record, offsetof(PluginInfoRecord, name), "", kInstrumentName);
    putText(record, offsetof(PluginInfoRecord, description), "Emulator\t", kInstrumentName);
    return 0;
}

VANTOR_EXPORT PluginEntryRecord* newInstance(const char* identifier, PluginHostRecord* host)
{
    const size_t prefix = std::strlen(kIdentifierPrefix);
    if (!identifier || std::strncmp(identifier, kIdentifierPrefix, prefix) != 0)
        return nullptr;
    try {
        vantor::EnginePluginSDK::Plugin* plugin =
            vantor::EnginePluginSDK::createModuleInstrument(host, identifier + prefix);
        return plugin ? plugin->getEntryRecord() : nullptr;
    } catch (...) {
        return nullptr;
    }
}

VANTOR_EXPORT void deleteInstance(PluginEntryRecord* entry)
{
    if (!entry || !entry->object)
        return;
    try {
        delete static_cast<vantor::EnginePluginSDK::Plugin*>(entry->object);
    } catch (...) {
        // Nothing crosses the C boundary.
    }
}
