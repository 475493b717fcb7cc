#pragma once
// Test doubles around the layer manager: a four-layer patch and a layer listener that records
// every call as text and answers the instrument's kind masks (31 for layers 0-2, 19 for 3).

#include "synth/LayerListener.h"
#include "synth/PatchBase.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ZRS::test {

class TestLayer : public LayerBase
{
};

// Layers 0-3, only layer 0 active.
class TestPatch : public PatchBase
{
public:
    TestPatch()
    {
        setName("Test");
        for (size_t i = 0; i < 4; ++i)
            layers[i] = new TestLayer;
        layers[0]->active = 1;
    }
};

class RecordingLayerListener : public LayerListener
{
public:
    void voicePitchChanged(uint64_t v, uint64_t l) override { add("pitch", v, l); }
    void voiceParametersChanged(uint64_t v, uint64_t l) override { add("params", v, l); }
    void voiceStart(uint64_t v, uint64_t l, uint8_t note) override { add("start", v, l, note); }
    void voiceRelease(uint64_t v, uint64_t l) override { add("release", v, l); }
    void voiceAmplitudeChanged(uint64_t v, uint64_t l) override { add("amp", v, l); }
    void voiceRetrigger(uint64_t v, uint64_t l, uint8_t note) override
    {
        add("retrig", v, l, note);
    }
    void layerInfoChanged(const uint8_t* keyMap) override
    {
        lastKeyMap.assign(keyMap, keyMap + 128);
        calls.push_back("info");
    }
    void triggerLayerVoice(uint64_t v, uint64_t l, uint8_t note) override
    {
        add("trigger", v, l, note);
        if (forwardTrigger)
            LayerListener::triggerLayerVoice(v, l, note);
    }
    void layerActiveChanged(uint64_t l, uint8_t active) override
    {
        calls.push_back("active " + std::to_string(l) + " " + std::to_string(active));
    }
    uint32_t layerParameterMask(uint64_t l) override
    {
        maskAsked.push_back(l);
        return l == 3 ? 19u : 31u;
    }
    void layerParameterChanged(uint64_t l, uint16_t id, uint8_t modulated, float value) override
    {
        calls.push_back("changed " + std::to_string(l) + " " + std::to_string(id) + " " +
                        std::to_string(modulated) + " " + std::to_string(value));
    }

    std::vector<std::string> take()
    {
        std::vector<std::string> out;
        out.swap(calls);
        return out;
    }

    std::vector<std::string> calls;
    std::vector<uint8_t> lastKeyMap;
    std::vector<uint64_t> maskAsked;
    bool forwardTrigger = false;

private:
    void add(const char* what, uint64_t v, uint64_t l)
    {
        calls.push_back(std::string(what) + " " + std::to_string(v) + " " + std::to_string(l));
    }
    void add(const char* what, uint64_t v, uint64_t l, uint8_t note)
    {
        calls.push_back(std::string(what) + " " + std::to_string(v) + " " + std::to_string(l) +
                        " " + std::to_string(note));
    }
};

}  // namespace ZRS::test
