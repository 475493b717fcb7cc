#pragma once
// A test-only synth controller: a real scheduler at 44100 ticks per second, the four-layer test
// patch with the recording layer listener (31/31/31/19), a small parameter table, step-table and
// envelope records in buffers, and a record of every hook the core calls.

#include "platform/ParameterInfo.h"
#include "support/QuantumManager.h"
#include "synth/AutomTables.h"
#include "synth/SyncProvider.h"
#include "synth/SynthController.h"
#include "synth/support/LayerTestSupport.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace ZRS::test {

// Parameter numbers of the test table.
enum TestParameter : uint16_t {
    kFilter = 0,  // one action, 0..1
    kCutoff = 1,  // per voice, 0..127
    kPan = 2,     // per voice, -1..1, raw step sources scaled
    kZoned = 3,   // one action, zone-selectable layers 0-3
    kHooked = 4,  // routed by the controller's hook
    kGap = 5,     // no parameter (index 0xFFFF)
    kParameterCount
};

class TestSynth : public SynthController,
                  public ParameterActionListener,
                  public AutomSlotListener,
                  public SyncProvider
{
public:
    static constexpr double kRate = 44100.0;

    explicit TestSynth(size_t stepTableCount = 15, size_t envelopeCount = 3, uint32_t option = 0)
        : qm(1024), steps(stepTableCount), curves(envelopeCount)
    {
        qm.setRate(kRate);
        layerManager().setPatch(new TestPatch);
        layerListener.forwardTrigger = true;
        addParameter("Filter", 0.0f, 1.0f, 15, 0x00);
        addParameter("Cutoff", 0.0f, 127.0f, 15, 0x10);
        addParameter("Pan", -1.0f, 1.0f, 15, 0x30);
        addParameter("Zoned", 0.0f, 1.0f, 15, 0x40).layerMask = 0x000F;
        addParameter("Hooked", 0.0f, 1.0f, 0x82, 0x00);
        addParameter("Gap", 0.0f, 1.0f, 15, 0x00).index = 0xFFFF;
        for (std::vector<uint8_t>& b : steps) {
            b.assign(kStepTableSize, 0);
            writeDefaultStepTable(b.data(), b.size());
            addStepTableBlock(b.data(), b.size(), 0);
        }
        for (std::vector<uint8_t>& b : curves) {
            b.assign(kEnvelopeSize, 0);
            writeDefaultEnvelope(b.data(), b.size());
            b[12] |= 0x01;
            addCurveBlock(b.data(), b.size(), 0);
        }
        for (uint16_t p = 0; p < kParameterCount; ++p)
            values[p].fill(0.0f);
        setScheduler(&qm);
        setSyncProvider(this);
        createVoiceParameters(7);
        setupParameters(this, &layerListener, this, option);
        clearRecords();
    }

    ParameterInfo& addParameter(const char* label, float min, float max, uint8_t math,
                                uint8_t flags)
    {
        parameters.emplace_back(label, ParameterInfo::Continuous, min, max, 0.0f, math, 0);
        ParameterInfo& p = parameters.back();
        p.flags = flags;
        p.index = uint16_t(parameters.size() - 1);
        return p;
    }

    void clearRecords()
    {
        layerListener.take();
        hooks.clear();
        pitchReports = 0;
    }

    // Runs the scheduler for `ticks` ticks in blocks of 256.
    void advance(uint64_t ticks)
    {
        while (ticks > 0) {
            uint64_t left = std::min<uint64_t>(ticks, 256);
            ticks -= left;
            while (left > 0)
                left -= qm.advance(left);
        }
    }

    size_t entriesTagged(uint64_t tag) const
    {
        const auto& e = qm.getEntries();
        return size_t(std::count_if(e.begin(), e.end(),
                                    [tag](const vantor::QuantumEntry& x) {
                                        return x.argument == tag;
                                    }));
    }

    size_t entriesOf(const vantor::QuantumTimer* timer) const
    {
        const auto& e = qm.getEntries();
        return size_t(std::count_if(e.begin(), e.end(),
                                    [timer](const vantor::QuantumEntry& x) {
                                        return x.timer == timer;
                                    }));
    }

    // The due tick of the timer's first entry, or -1.
    int64_t dueOf(const vantor::QuantumTimer* timer) const
    {
        for (const vantor::QuantumEntry& x : qm.getEntries())
            if (x.timer == timer)
                return int64_t(x.due);
        return -1;
    }

    // The value last applied to parameter p's action for voice v.
    float applied(uint16_t p, size_t v = 0) const
    {
        const auto it = values.find(p);
        return it == values.end() ? -999.0f : it->second[v];
    }

    // SynthParams
    void setParameter(uint16_t index, float value) override
    {
        if (recording)
            hooks.push_back("set " + std::to_string(index) + " " + std::to_string(value));
    }

    // ParameterActionListener
    void applyParameterAction(uint64_t index, uint16_t code, float value, bool) override
    {
        if (index < 12)
            values[code][index] = value;
    }

    // AutomSlotListener
    void automSlotChanged(uint8_t slot, uint16_t setting, uint8_t modulated, float value) override
    {
        if (recording)
            hooks.push_back("slot " + std::to_string(slot) + " " + std::to_string(setting) + " " +
                            std::to_string(modulated) + " " + std::to_string(value));
    }

    // SyncProvider: 120 BPM, at beat 9.25 of a bar that began at beat 8.
    float getTempo() override { return 125.0f; }
    float getSyncValueA() override { return 120.0f; }
    float getSyncValueB() override { return 9.25f; }
    float getSyncValueC() override { return 8.0f; }

    // MasterSettingsListener, the instrument's part.
    void setInstrumentOption(uint32_t, double) override {}
    void mediaCommand(uint32_t, vantor::Mutex*, double) override {}

    // Hooks.
    void forwardAddressedEvent(uint32_t kind, uint64_t index, uint64_t value) override
    {
        if (recording)
            hooks.push_back("addressed " + std::to_string(kind) + " " + std::to_string(index) + " " +
                            std::to_string(value));
    }
    uint8_t setHookedParameterByAddress(const ModRouteRow& row, uint16_t index) override
    {
        if (recording)
            hooks.push_back("hooked " + std::to_string(index) + " " + row.source);
        return hookAnswer;
    }
    void layerVoicesReset(uint64_t group) override
    {
        if (recording)
            hooks.push_back("voicesReset " + std::to_string(group));
    }
    void programChange(uint64_t group, uint8_t program) override
    {
        if (recording)
            hooks.push_back("program " + std::to_string(group) + " " + std::to_string(program));
    }
    void systemMessage(uint8_t status, uint8_t data1) override
    {
        if (recording)
            hooks.push_back("system " + std::to_string(status) + " " + std::to_string(data1));
    }
    void controllerHook(uint64_t group, uint8_t controller, uint8_t value) override
    {
        if (recording)
            hooks.push_back("cc " + std::to_string(group) + " " + std::to_string(controller) + " " +
                            std::to_string(value));
    }
    void rpnReceived(uint8_t channel, uint16_t parameter, uint8_t msb, uint8_t lsb) override
    {
        if (recording)
            hooks.push_back("rpn " + std::to_string(channel) + " " + std::to_string(parameter) + " " +
                            std::to_string(msb) + " " + std::to_string(lsb));
        SynthController::rpnReceived(channel, parameter, msb, lsb);
    }
    void nrpnReceived(uint8_t channel, uint16_t parameter, uint8_t msb, uint8_t lsb) override
    {
        if (recording)
            hooks.push_back("nrpn " + std::to_string(channel) + " " + std::to_string(parameter) +
                            " " + std::to_string(msb) + " " + std::to_string(lsb));
        SynthController::nrpnReceived(channel, parameter, msb, lsb);
    }
    void voicePitchChanged(uint64_t group, int64_t voice) override
    {
        ++pitchReports;
        SynthController::voicePitchChanged(group, voice);
    }

    // Exposed for the tests.
    using SynthController::setGroupPolyphony;

    vantor::QuantumManager qm;
    RecordingLayerListener layerListener;
    std::vector<std::vector<uint8_t>> steps;
    std::vector<std::vector<uint8_t>> curves;
    std::map<uint16_t, std::array<float, 12>> values;
    std::vector<std::string> hooks;
    int pitchReports = 0;
    uint8_t hookAnswer = 0;
    bool recording = true;  // off: the hooks allocate nothing
};

// Counts the calls and allocates nothing.
class CountingLayerListener : public LayerListener
{
public:
    void voicePitchChanged(uint64_t, uint64_t) override { ++calls; }
    void voiceParametersChanged(uint64_t, uint64_t) override { ++calls; }
    void voiceStart(uint64_t, uint64_t, uint8_t) override { ++calls; }
    void voiceRelease(uint64_t, uint64_t) override { ++calls; }
    void voiceAmplitudeChanged(uint64_t, uint64_t) override { ++calls; }
    void voiceRetrigger(uint64_t, uint64_t, uint8_t) override { ++calls; }
    uint32_t layerParameterMask(uint64_t l) override { return l == 3 ? 19u : 31u; }
    long calls = 0;
};

}  // namespace ZRS::test
