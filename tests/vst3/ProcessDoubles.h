#pragma once
// Small host-side doubles of the VST3 processing interfaces: parameter changes with their
// queues, an event list and a connection point that keeps what it was sent. They live on the
// test's stack, so reference counting is a no-op.

#include <pluginterfaces/vst/ivstevents.h>
#include <pluginterfaces/vst/ivstmessage.h>
#include <pluginterfaces/vst/ivstparameterchanges.h>
#include <public.sdk/source/vst/hosting/hostclasses.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace processdoubles {

using namespace Steinberg;
using namespace Steinberg::Vst;

#define PROCESS_DOUBLE_UNKNOWN(Interface)                                                      \
    tresult PLUGIN_API queryInterface(const TUID iid, void** obj) override                    \
    {                                                                                          \
        if (FUnknownPrivate::iidEqual(iid, Interface::iid) || FUnknownPrivate::iidEqual(iid, FUnknown::iid)) { \
            *obj = this;                                                                       \
            return kResultOk;                                                                  \
        }                                                                                      \
        *obj = nullptr;                                                                        \
        return kNoInterface;                                                                   \
    }                                                                                          \
    uint32 PLUGIN_API addRef() override { return 1; }                                          \
    uint32 PLUGIN_API release() override { return 1; }

class Queue : public IParamValueQueue
{
public:
    Queue(ParamID id, std::vector<std::pair<int32, ParamValue>> points, bool readable = true)
        : id(id), points(std::move(points)), readable(readable)
    {
    }
    ParamID PLUGIN_API getParameterId() override { return id; }
    int32 PLUGIN_API getPointCount() override { return int32(points.size()); }
    tresult PLUGIN_API getPoint(int32 index, int32& offset, ParamValue& value) override
    {
        if (!readable || index < 0 || size_t(index) >= points.size())
            return kResultFalse;
        offset = points[size_t(index)].first;
        value = points[size_t(index)].second;
        return kResultOk;
    }
    tresult PLUGIN_API addPoint(int32, ParamValue, int32&) override { return kResultFalse; }
    PROCESS_DOUBLE_UNKNOWN(IParamValueQueue)

private:
    ParamID id;
    std::vector<std::pair<int32, ParamValue>> points;
    bool readable;
};

class Changes : public IParameterChanges
{
public:
    Changes() = default;
    Changes(std::vector<Queue> queues) : queues(std::move(queues)) {}
    int32 PLUGIN_API getParameterCount() override { return int32(queues.size()) + nullQueues; }
    IParamValueQueue* PLUGIN_API getParameterData(int32 index) override
    {
        return index >= 0 && size_t(index) < queues.size() ? &queues[size_t(index)] : nullptr;
    }
    IParamValueQueue* PLUGIN_API addParameterData(const ParamID&, int32&) override { return nullptr; }
    PROCESS_DOUBLE_UNKNOWN(IParameterChanges)

    std::vector<Queue> queues;
    int32 nullQueues = 0;  // indices past the queues that answer null
};

class Events : public IEventList
{
public:
    Events() = default;
    Events(std::vector<Event> events) : events(std::move(events)) {}
    int32 PLUGIN_API getEventCount() override { return int32(events.size()) + unreadable; }
    tresult PLUGIN_API getEvent(int32 index, Event& e) override
    {
        if (index < 0 || size_t(index) >= events.size())
            return kResultFalse;
        e = events[size_t(index)];
        return kResultOk;
    }
    tresult PLUGIN_API addEvent(Event&) override { return kResultFalse; }
    PROCESS_DOUBLE_UNKNOWN(IEventList)

    std::vector<Event> events;
    int32 unreadable = 0;  // indices past the events that cannot be read
};

inline Event noteOn(int16 pitch, int16 channel, float velocity, int32 noteId, int32 offset = 0, float tuning = 0.0f)
{
    Event e = {};
    e.type = Event::kNoteOnEvent;
    e.sampleOffset = offset;
    e.noteOn = {channel, pitch, tuning, velocity, 0, noteId};
    return e;
}

inline Event noteOff(int16 pitch, int16 channel, float velocity, int32 noteId, int32 offset = 0)
{
    Event e = {};
    e.type = Event::kNoteOffEvent;
    e.sampleOffset = offset;
    e.noteOff = {channel, pitch, velocity, noteId, 0.0f};
    return e;
}

inline Event polyPressure(int16 pitch, int16 channel, float pressure, int32 offset = 0)
{
    Event e = {};
    e.type = Event::kPolyPressureEvent;
    e.sampleOffset = offset;
    e.polyPressure = {channel, pitch, pressure, 0};
    return e;
}

inline Event expression(uint32 type, double value, int32 noteId, int32 offset = 0)
{
    Event e = {};
    e.type = Event::kNoteExpressionValueEvent;
    e.sampleOffset = offset;
    e.noteExpressionValue = {type, noteId, value};
    return e;
}

// A peer that keeps each message's id and its integer "No".
class Peer : public IConnectionPoint
{
public:
    tresult PLUGIN_API connect(IConnectionPoint*) override { return kResultOk; }
    tresult PLUGIN_API disconnect(IConnectionPoint*) override { return kResultOk; }
    tresult PLUGIN_API notify(IMessage* message) override
    {
        int64 no = 0;
        const bool hasNo = message->getAttributes() && message->getAttributes()->getInt("No", no) == kResultOk;
        received.push_back({message->getMessageID() ? message->getMessageID() : "", hasNo ? no : -1});
        return kResultOk;
    }
    PROCESS_DOUBLE_UNKNOWN(IConnectionPoint)

    std::vector<std::pair<std::string, int64>> received;
};

// A host whose application name is given.
class NamedHost : public HostApplication
{
public:
    explicit NamedHost(const char16_t* name) : name(name) {}
    tresult PLUGIN_API getName(String128 out) override
    {
        std::u16string n(name);
        std::memcpy(out, n.c_str(), (n.size() + 1) * sizeof(char16_t));
        return kResultOk;
    }

private:
    const char16_t* name;
};

#undef PROCESS_DOUBLE_UNKNOWN

}  // namespace processdoubles
