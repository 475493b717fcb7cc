#include "HostDoubles.h"

#include <cstdio>

using namespace Steinberg;
using namespace Steinberg::Vst;

namespace vst3host {

tresult PLUGIN_API ParamQueue::getPoint(int32 index, int32& offset, ParamValue& value)
{
    if (index < 0 || size_t(index) >= points.size())
        return kResultFalse;
    offset = points[size_t(index)].first;
    value = points[size_t(index)].second;
    return kResultOk;
}

tresult PLUGIN_API ParamQueue::addPoint(int32 offset, ParamValue value, int32& index)
{
    index = int32(points.size());
    points.emplace_back(offset, value);
    return kResultOk;
}

IParamValueQueue* PLUGIN_API ParamChanges::getParameterData(int32 index)
{
    return index >= 0 && size_t(index) < queues.size() ? &queues[size_t(index)] : nullptr;
}

IParamValueQueue* PLUGIN_API ParamChanges::addParameterData(const ParamID& id, int32& index)
{
    for (size_t i = 0; i < queues.size(); ++i)
        if (queues[i].getParameterId() == id) {
            index = int32(i);
            return &queues[i];
        }
    index = int32(queues.size());
    return &queues.emplace_back(id);
}

tresult PLUGIN_API EventList::getEvent(int32 index, Event& e)
{
    if (index < 0 || size_t(index) >= events.size())
        return kResultFalse;
    e = events[size_t(index)];
    return kResultOk;
}

tresult PLUGIN_API EventList::addEvent(Event& e)
{
    events.push_back(e);
    return kResultOk;
}

tresult PLUGIN_API HandlerRecorder::beginEdit(ParamID id)
{
    calls.push_back("begin " + std::to_string(id));
    return kResultOk;
}

tresult PLUGIN_API HandlerRecorder::performEdit(ParamID id, ParamValue value)
{
    char text[64];
    std::snprintf(text, sizeof text, "perform %u %g", unsigned(id), value);
    calls.emplace_back(text);
    return kResultOk;
}

tresult PLUGIN_API HandlerRecorder::endEdit(ParamID id)
{
    calls.push_back("end " + std::to_string(id));
    return kResultOk;
}

tresult PLUGIN_API HandlerRecorder::restartComponent(int32 flags)
{
    calls.push_back("restart " + std::to_string(flags));
    return kResultOk;
}

tresult PLUGIN_API PlugFrame::resizeView(IPlugView*, ViewRect* rect)
{
    if (!rect)
        return kInvalidArgument;
    resizes.push_back(*rect);
    return kResultOk;
}

}  // namespace vst3host
