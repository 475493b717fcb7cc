#include "instrument/ChipHWHookEngineSDK.h"

#include "abi/ModuleABI.h"
#include "instrument/ChipControllerListener.h"

ChipHWHookEngineSDK::ChipHWHookEngineSDK(ChipControllerListener* l) : ChipHWHook(false, nullptr), listener(l) {}

void ChipHWHookEngineSDK::writeRegister(uint8_t reg, uint8_t value, uint8_t status, uint64_t /*extra*/)
{
    HostMidiOutRecord record;
    record.kind = 0;
    record.size = 4;
    record.bytes[0] = status;
    record.bytes[1] = reg;
    record.bytes[2] = value;
    if (listener)
        listener->callHostOpcode12(&record);
}

void ChipHWHookEngineSDK::sendSysEx(const uint8_t* bytes, uint64_t length)
{
    HostMidiOutRecord record;
    record.kind = 1;
    record.size = length;
    record.port = port;
    record.sysex = bytes;
    if (listener)
        listener->callHostOpcode12(&record);
}
