#pragma once
// The NKS interfaces the edit controller carries and uses, and the fixed page layout it describes
// to an NKS host. Only the one call of each interface is relied on; their ids are the NKS ones.

#include "vst3/Metadata.h"

#include <pluginterfaces/base/funknown.h>
#include <pluginterfaces/base/ibstream.h>

#include <cstdint>

namespace nks {

// Vendor-specific properties and messages from an NKS host.
class INKS1Plugin : public Steinberg::FUnknown
{
public:
    // True when the message was handled.
    virtual bool PLUGIN_API nksDispatch(Steinberg::int32 message, Steinberg::uint64 value, void* data, float opt) = 0;

    static const Steinberg::FUID iid;
};

// The NKS host, offered by the controller's context.
class INKS1Host : public Steinberg::FUnknown
{
public:
    // True when the host accepted the message.
    virtual bool PLUGIN_API nksHostMessage(Steinberg::int32 id, Steinberg::uint64 size, void* data) = 0;

    static const Steinberg::FUID iid;
};

// The parameter description for hardware controllers.
class INKSMetadataPlugin : public Steinberg::FUnknown
{
public:
    // Writes the MessagePack document to the stream.
    virtual Steinberg::tresult PLUGIN_API getNksMetadata(Steinberg::IBStream* stream) = 0;

    static const Steinberg::FUID iid;
};

DECLARE_CLASS_IID(INKS1Plugin, kINKS1PluginIID[0], kINKS1PluginIID[1], kINKS1PluginIID[2], kINKS1PluginIID[3])
DECLARE_CLASS_IID(INKS1Host, kINKS1HostIID[0], kINKS1HostIID[1], kINKS1HostIID[2], kINKS1HostIID[3])
DECLARE_CLASS_IID(INKSMetadataPlugin, kINKSMetadataPluginIID[0], kINKSMetadataPluginIID[1],
                  kINKSMetadataPluginIID[2], kINKSMetadataPluginIID[3])

// Host message ids: kind in the high 16 bits, property in the low 16.
enum MessageKind : uint32_t {
    kGetProperty = 0x4E49,
    kSetProperty = 0x6E69,
    kPropertyInfo = 0x4E69,
    kToHost = 0x4B49,
};

// Messages to the host about the key map, one of each per note.
enum HostMessage : int32_t {
    kKeyColour = 0x4B490014,   // {note, colour}
    kKeyName = 0x4B490015,     // vse::note_name
    kKeySwitch = 0x4B49001B,   // {note, flag}
};

namespace vse {
#pragma pack(push, 1)
struct note_name
{
    uint8_t note;
    char name[129];
};
#pragma pack(pop)
static_assert(sizeof(note_name) == 130);
}  // namespace vse

// One slot of a page: an engine parameter index (-1 for an empty slot) and its short name.
struct PageSlot
{
    int32_t id;
    const char* name;
};

struct Page
{
    const char* name;
    PageSlot slots[8];
};

extern const Page NKS2PerfSection;
extern const Page NKS2Pages[8];
// Parameters shown with waveform icons, and their nine value names.
extern const int32_t NKS2SpecialDisplayParams[3];
extern const char* const NKS2WaveformNames[9];

// A page as a navigation section of its name, empty slots as the all-ones id.
metadata::v1::parameter_navigation::Section pageSection(const Page& page);

}  // namespace nks
