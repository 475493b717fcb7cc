#include "synth/Modulator.h"

#include "platform/PlatformTools.h"

#include <algorithm>

namespace ZRS {

void Modulator::writeValue(float v)
{
    value = v;
    setActive(1);
    notifyActiveChanged(1, 0);
    notifyValueChanged(false);
}

// Indexed loops that re-read the size: a listener may unbind itself while being told.
void Modulator::notifyActiveChanged(uint8_t flag, uint8_t extra)
{
    for (size_t i = 0; i < listenerList.size(); ++i)
        listenerList[i]->modulatorActiveChanged(this, flag, extra);
}

void Modulator::notifyValueChanged(bool reset)
{
    for (size_t i = 0; i < listenerList.size(); ++i)
        listenerList[i]->modulatorValueChanged(this, reset);
}

void Modulator::addListener(ModListener* listener)
{
    if (listener && !hasListener(listener))
        listenerList.push_back(listener);
}

void Modulator::removeListener(ModListener* listener)
{
    const auto it = std::find(listenerList.begin(), listenerList.end(), listener);
    if (it != listenerList.end())
        listenerList.erase(it);
}

bool Modulator::hasListener(const ModListener* listener) const
{
    return std::find(listenerList.begin(), listenerList.end(), listener) != listenerList.end();
}

void RandomModulator::draw()
{
    writeValue(float(PUrand()));
}

void writeBend(PitchBendModulator& bend, PitchBendPosModulator& up, PitchBendNegModulator& down,
               float normalised)
{
    bend.writeValue(normalised);
    up.writeValue(normalised > 0.0f ? normalised : 0.0f);
    down.writeValue(normalised < 0.0f ? -normalised : 0.0f);
}

}  // namespace ZRS
