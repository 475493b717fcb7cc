#pragma once
// The host side of the processing and editing interfaces: parameter changes, an event list, a
// component handler that records what the controller says, and a plug frame. They live on the
// host's stack, so reference counting does nothing.

#include <pluginterfaces/gui/iplugview.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>
#include <pluginterfaces/vst/ivstevents.h>
#include <pluginterfaces/vst/ivstparameterchanges.h>

#include <string>
#include <vector>

namespace vst3host {

#define VST3HOST_UNKNOWN(Interface)                                                                           \
    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** obj) override             \
    {                                                                                                         \
        if (Steinberg::FUnknownPrivate::iidEqual(iid, Interface::iid) ||                                      \
            Steinberg::FUnknownPrivate::iidEqual(iid, Steinberg::FUnknown::iid)) {                            \
            *obj = this;                                                                                      \
            return Steinberg::kResultOk;                                                                      \
        }                                                                                                     \
        *obj = nullptr;                                                                                       \
        return Steinberg::kNoInterface;                                                                       \
    }                                                                                                         \
    Steinberg::uint32 PLUGIN_API addRef() override { return 1; }                                             \
    Steinberg::uint32 PLUGIN_API release() override { return 1; }

class ParamQueue : public Steinberg::Vst::IParamValueQueue
{
public:
    explicit ParamQueue(Steinberg::Vst::ParamID id) : id(id) {}
    Steinberg::Vst::ParamID PLUGIN_API getParameterId() override { return id; }
    Steinberg::int32 PLUGIN_API getPointCount() override { return Steinberg::int32(points.size()); }
    Steinberg::tresult PLUGIN_API getPoint(Steinberg::int32 index, Steinberg::int32& offset,
                                           Steinberg::Vst::ParamValue& value) override;
    Steinberg::tresult PLUGIN_API addPoint(Steinberg::int32 offset, Steinberg::Vst::ParamValue value,
                                           Steinberg::int32& index) override;
    VST3HOST_UNKNOWN(Steinberg::Vst::IParamValueQueue)

private:
    Steinberg::Vst::ParamID id;
    std::vector<std::pair<Steinberg::int32, Steinberg::Vst::ParamValue>> points;
};

class ParamChanges : public Steinberg::Vst::IParameterChanges
{
public:
    Steinberg::int32 PLUGIN_API getParameterCount() override { return Steinberg::int32(queues.size()); }
    Steinberg::Vst::IParamValueQueue* PLUGIN_API getParameterData(Steinberg::int32 index) override;
    Steinberg::Vst::IParamValueQueue* PLUGIN_API addParameterData(const Steinberg::Vst::ParamID& id,
                                                                 Steinberg::int32& index) override;
    void clear() { queues.clear(); }
    VST3HOST_UNKNOWN(Steinberg::Vst::IParameterChanges)

private:
    std::vector<ParamQueue> queues;
};

class EventList : public Steinberg::Vst::IEventList
{
public:
    Steinberg::int32 PLUGIN_API getEventCount() override { return Steinberg::int32(events.size()); }
    Steinberg::tresult PLUGIN_API getEvent(Steinberg::int32 index, Steinberg::Vst::Event& e) override;
    Steinberg::tresult PLUGIN_API addEvent(Steinberg::Vst::Event& e) override;
    void clear() { events.clear(); }
    VST3HOST_UNKNOWN(Steinberg::Vst::IEventList)

private:
    std::vector<Steinberg::Vst::Event> events;
};

// Keeps one line per call: "begin 5", "perform 5 0.5", "end 5", "restart 20".
class HandlerRecorder : public Steinberg::Vst::IComponentHandler
{
public:
    Steinberg::tresult PLUGIN_API beginEdit(Steinberg::Vst::ParamID id) override;
    Steinberg::tresult PLUGIN_API performEdit(Steinberg::Vst::ParamID id, Steinberg::Vst::ParamValue value) override;
    Steinberg::tresult PLUGIN_API endEdit(Steinberg::Vst::ParamID id) override;
    Steinberg::tresult PLUGIN_API restartComponent(Steinberg::int32 flags) override;
    VST3HOST_UNKNOWN(Steinberg::Vst::IComponentHandler)

    std::vector<std::string> calls;
};

class PlugFrame : public Steinberg::IPlugFrame
{
public:
    Steinberg::tresult PLUGIN_API resizeView(Steinberg::IPlugView* view, Steinberg::ViewRect* rect) override;
    VST3HOST_UNKNOWN(Steinberg::IPlugFrame)

    std::vector<Steinberg::ViewRect> resizes;
};

#undef VST3HOST_UNKNOWN

}  // namespace vst3host
