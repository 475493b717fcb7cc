// Voice managers build their parameters from the process-wide generic descriptions.
#include "synth/GenericParam.h"
#include "synth/VoiceManager.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

using namespace ZRS;

namespace {

std::string join(std::initializer_list<long long> parts)
{
    std::string s;
    for (long long p : parts)
        s += ' ' + std::to_string(p);
    return s;
}

// Records every call; frees the voice from voiceEnded as the synth controller does.
class Recorder : public VoiceListener
{
public:
    explicit Recorder(VoiceManager& vm) : vm(vm) {}

    uint8_t voiceStarted(uint64_t g, int64_t v, uint8_t note, uint8_t velocity) override
    {
        add(g, "start" + join({v, note, velocity}));
        return note;
    }
    void voiceRetriggered(uint64_t g, int64_t v, uint8_t note, uint8_t velocity,
                          uint8_t newNote) override
    {
        add(g, "retrig" + join({v, note, velocity, newNote}));
    }
    void voiceEnded(uint64_t g, int64_t v, uint8_t note, uint8_t velocity) override
    {
        add(g, "end" + join({v, note, velocity}));
        vm.clearVoice(v);
    }
    void voiceStopped(uint64_t g, int64_t v, uint8_t note) override
    {
        add(g, "stop" + join({v, note}));
    }
    void voicePitchChanged(uint64_t g, int64_t v) override { add(g, "pitch" + join({v})); }
    void voiceUpdated(uint64_t g, int64_t v) override { add(g, "update" + join({v})); }
    void unusedVoiceHook8(uint64_t g) override { add(g, "hook8"); }
    void unusedVoiceHook9(uint64_t g, int64_t v, int32_t value) override
    {
        add(g, "hook9" + join({v, value}));
    }

    std::vector<std::string> take()
    {
        std::vector<std::string> out;
        out.swap(log);
        groups.clear();
        return out;
    }

    VoiceManager& vm;
    std::vector<std::string> log;
    std::vector<uint64_t> groups;
    bool recording = true;

private:
    void add(uint64_t g, std::string s)
    {
        if (!recording)
            return;
        groups.push_back(g);
        log.push_back(std::move(s));
    }
};

class FakeTuning : public NoteTuningSource
{
public:
    double noteFrequency(uint8_t note) override
    {
        ++calls;
        return 1000.0 + note;
    }
    double noteTuningOffset(uint8_t) override { return 0.0; }
    bool isNoteEnabled(uint8_t) override { return true; }
    int calls = 0;
};

using Log = std::vector<std::string>;

std::vector<std::string> stops(std::initializer_list<int> notes)
{
    Log out;
    int v = 0;
    for (int n : notes)
        out.push_back("stop" + join({v++, n}));
    while (v < 12)
        out.push_back("stop" + join({v++, 255}));
    return out;
}

class VoiceManagerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        vm.createVoiceParameters(&rec, 7);
        rec.take();
    }
    void play(std::initializer_list<int> notes, uint8_t velocity = 100)
    {
        for (int n : notes)
            vm.noteOn(uint8_t(n), velocity, -1, VoiceManager::kPlainMidi);
    }
    void lift(std::initializer_list<int> notes, uint8_t velocity = 64)
    {
        for (int n : notes)
            vm.noteOff(uint32_t(n), velocity, -1, VoiceManager::kPlainMidi);
    }

    VoiceManager vm;
    Recorder rec{vm};
};

}  // namespace

TEST_F(VoiceManagerTest, PolyTakesFreshVoicesInOrderThenTheLongestReleased)
{
    play({60, 61});
    lift({60});
    play({62});  // fresh voices (stamp 0) come before a released one
    EXPECT_EQ(rec.take(), (Log{"start 0 60 100", "start 1 61 100", "end 0 60 64",
                               "start 2 62 100"}));

    play({63, 64, 65, 66, 67, 68, 69, 70, 71});
    rec.take();
    lift({66, 64, 68});
    play({80, 81, 82, 83});
    EXPECT_EQ(rec.take(), (Log{"end 6 66 64", "end 4 64 64", "end 8 68 64", "start 0 80 100",
                               "start 6 81 100", "start 4 82 100", "start 8 83 100"}));
    EXPECT_EQ(vm.heldVoiceCount(), 12u);
    EXPECT_EQ(vm.lastVoice(), 8);
}

TEST_F(VoiceManagerTest, SoundingKeyRestartsItsVoiceWhenNoneIsFree)
{
    play({60, 61, 62, 63, 64, 65, 66, 67, 68, 69, 70, 71});
    rec.take();
    vm.noteOn(65, 90, -1, VoiceManager::kPlainMidi);
    EXPECT_EQ(rec.take(), Log{"retrig 5 65 90 1"});
    EXPECT_EQ(vm.voice(5).velocity, 90);
    EXPECT_EQ(vm.heldVoiceCount(), 12u);
    EXPECT_EQ(vm.heldKeyCount(), 12);
}

TEST_F(VoiceManagerTest, StealingSparesTheLowestNoteAndTakesTheOldestOther)
{
    play({60, 70, 71, 72, 73, 74, 75, 76, 77, 78, 79, 80});  // the lowest is also the oldest
    rec.take();
    play({90, 91});
    EXPECT_EQ(rec.take(), (Log{"retrig 1 90 100 1", "retrig 2 91 100 1"}));

    VoiceManager other;
    Recorder otherRec(other);
    other.createVoiceParameters(&otherRec, 7);
    for (int n : {70, 60, 71, 72, 73, 74, 75, 76, 77, 78, 79, 80})
        other.noteOn(uint8_t(n), 100, -1, VoiceManager::kPlainMidi);
    otherRec.take();
    other.noteOn(90, 100, -1, VoiceManager::kPlainMidi);
    EXPECT_EQ(otherRec.take(), Log{"retrig 0 90 100 1"});
}

TEST_F(VoiceManagerTest, MonoReturnsToTheHeldKey)
{
    vm.setVoiceCount(1);
    EXPECT_EQ(rec.take(), stops({}));
    EXPECT_FALSE(vm.isRetriggerOn());
    EXPECT_FALSE(vm.isMonoLayerFlagOn());
    vm.noteOn(60, 90, -1, VoiceManager::kPlainMidi);
    vm.noteOn(64, 100, -1, VoiceManager::kPlainMidi);
    lift({64}, 30);
    lift({60}, 20);
    EXPECT_EQ(rec.take(), (Log{"start 0 60 90", "retrig 0 64 100 1", "retrig 0 60 90 0",
                               "end 0 60 20", "hook8"}));
    EXPECT_EQ(vm.voice(0).note, VoiceManager::kNoNote);
    EXPECT_EQ(vm.heldVoiceCount(), 0u);
}

TEST_F(VoiceManagerTest, SustainDefersTheReleaseToThePedal)
{
    play({60});
    vm.controlChange(64, 1);
    lift({60});
    EXPECT_EQ(rec.take(), Log{"start 0 60 100"});
    EXPECT_EQ(vm.heldKeyCount(), 1);
    EXPECT_EQ(vm.key(60).velocity, 100);
    vm.controlChange(64, 0);
    EXPECT_EQ(rec.take(), (Log{"end 0 60 0", "hook8"}));
    EXPECT_EQ(vm.heldKeyCount(), 0);
}

TEST_F(VoiceManagerTest, SostenutoHeldKeyIsWhereMonoReturns)
{
    vm.setVoiceCount(1);
    rec.take();
    vm.noteOn(60, 90, -1, VoiceManager::kPlainMidi);
    vm.controlChange(66, 127);
    lift({60});  // held by sostenuto: still counts as held
    vm.noteOn(64, 100, -1, VoiceManager::kPlainMidi);
    lift({64}, 10);
    vm.controlChange(66, 0);
    EXPECT_EQ(rec.take(), (Log{"start 0 60 90", "retrig 0 64 100 1", "retrig 0 60 90 0",
                               "end 0 60 0", "hook8"}));
}

TEST_F(VoiceManagerTest, AllNotesOffStopsEveryVoiceAndEmptiesTheChannelSlots)
{
    for (uint8_t controller : {120, 123}) {
        SCOPED_TRACE(int(controller));
        play({60, 61});
        vm.noteOn(62, 100, 3, VoiceManager::kPerChannel);
        vm.controlChange(64, 1);
        vm.setChannelPitchBend(3, 0.5f);
        EXPECT_EQ(vm.channel(3).voice, 2);
        rec.take();

        vm.controlChange(controller, 0);
        EXPECT_EQ(rec.take(), stops({60, 61, 62}));
        for (size_t v = 0; v < VoiceManager::kVoices; ++v) {
            EXPECT_EQ(vm.voice(v).released, 1);
            EXPECT_EQ(vm.voice(v).note, VoiceManager::kNoNote);
        }
        for (size_t c = 0; c < VoiceManager::kChannels; ++c)
            EXPECT_EQ(vm.channel(c).voice, -1);
        EXPECT_EQ(vm.channel(3).bend, 0.5f);  // kept for the channel's next note
        EXPECT_EQ(vm.heldKeyCount(), 0);
        EXPECT_EQ(vm.heldVoiceCount(), 0u);
        EXPECT_EQ(vm.lastVoice(), -1);
        EXPECT_EQ(vm.key(60).pedal.state, 0);  // pedal states cleared too

        play({40});
        vm.setChannelPitchBend(3, 0.25f);  // the old slot no longer moves the new note
        lift({40});
        EXPECT_EQ(rec.take(), (Log{"start 3 40 100", "end 3 40 64", "hook8"}));
        vm.resetVoices();
        rec.take();
    }
}

TEST_F(VoiceManagerTest, PitchBendAndMasterTuneNotifyEveryVoice)
{
    vm.setPitchBend(0.5f);
    vm.setPitchBend(0.5f);
    Log once;
    for (int v = 0; v < 12; ++v)
        once.push_back("pitch" + join({v}));
    EXPECT_EQ(rec.take(), once);
    EXPECT_EQ(vm.pitchBendCents(), 600.0f);
    vm.setPitchBend14(0, 64);
    EXPECT_EQ(vm.pitchBendCents(), 0.0f);
    rec.take();

    vm.setMasterTune(0.0f);
    vm.setMasterTune(0.0f);
    Log twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(rec.take(), twice);
}

TEST_F(VoiceManagerTest, FrequenciesFromTableTuningAndOffsets)
{
    EXPECT_EQ(vm.noteFrequency(69), 440.0f);
    EXPECT_NEAR(vm.noteFrequency(0), 8.1758f, 1e-4);
    EXPECT_NEAR(vm.noteFrequency(127), 12543.85f, 1e-2);

    play({69});
    const VoiceManager::VoiceRecord& r = vm.voice(0);
    EXPECT_EQ(r.baseFrequency, 440.0f);
    EXPECT_EQ(r.frequency, r.baseFrequency);  // no offset: the base bit for bit
    EXPECT_EQ(vm.voiceFrequency(0), 440.0f);

    vm.setMasterTune(1200.0f);
    const float ulp = std::nextafter(880.0f, 1e9f) - 880.0f;
    EXPECT_LE(std::fabs(vm.voiceFrequency(0) - 880.0f), ulp);
    EXPECT_EQ(vm.voicePitchCents(0), 1200.0f);
    vm.setMasterTune(0.0f);
    EXPECT_EQ(vm.voiceFrequency(0), 440.0f);

    FakeTuning tuning;
    vm.setTuningSource(&tuning);
    play({60});
    EXPECT_EQ(vm.voice(1).baseFrequency, 1060.0f);
    EXPECT_EQ(vm.voiceFrequency(1), 1060.0f);
    EXPECT_EQ(tuning.calls, 1);
    vm.setTuningSource(nullptr);
    EXPECT_NEAR(vm.noteFrequency(60), 261.6256f, 1e-3);
}

TEST_F(VoiceManagerTest, ChannelBendMovesTheChannelsVoice)
{
    play({50});
    vm.noteOn(60, 100, 5, VoiceManager::kPerChannel);
    rec.take();
    EXPECT_EQ(vm.channel(5).voice, 1);
    vm.setChannelPitchBend(5 + 16, 0.25f);  // 0.25 x 4800 cents: two octaves
    vm.setChannelPitchBend(5, 0.25f);       // unchanged: nobody told
    vm.setChannelPitchBend(6, 1.0f);        // no voice: only stored
    EXPECT_EQ(rec.take(), Log{"pitch 1"});
    EXPECT_EQ(vm.voice(1).voiceBendCents, 1200.0f);
    const float base = vm.voice(1).baseFrequency;
    EXPECT_LE(std::fabs(vm.voiceFrequency(1) - 2 * base), 2 * base * 1e-6f);
    EXPECT_EQ(vm.channel(6).bend, 1.0f);
    EXPECT_EQ(vm.voiceFrequency(0), vm.voice(0).baseFrequency);

    vm.setChannelBendRange(48.0f);
    vm.setChannelPitchBend(5, 0.5f);
    EXPECT_EQ(vm.voice(1).voiceBendCents, 24.0f);
}

TEST(VoiceManagerParameters, CreatedWithoutNotifyingAnybody)
{
    VoiceManager vm;
    Recorder rec(vm);
    vm.createVoiceParameters(&rec, 7);
    EXPECT_EQ(rec.take(), stops({}));  // only the closing stop, no update or pitch

    const GenericParam& g = GenericParam::instance();
    ASSERT_EQ(vm.amplitudeParameterActions().size(), 12u);
    for (size_t i = 0; i < 12; ++i) {
        const ParameterAction& amp = vm.amplitudeParameterActions()[i];
        EXPECT_EQ(amp.code(), 1);
        EXPECT_EQ(amp.index(), i);
        EXPECT_EQ(amp.descriptor(), &g.record(GenericParam::kAmplitude7Bit));
        EXPECT_EQ(amp.listener(), &vm);
        EXPECT_EQ(vm.detuneParameterActions()[i].code(), 4);
        EXPECT_EQ(vm.transposeParameterActions()[i].code(), 8);
        EXPECT_EQ(vm.voice(i).amplitudeFactor, 127.0f * 0.007874016f);
    }

    std::vector<ParameterInfo> infos;
    vm.collectParameterInfos(infos);
    ASSERT_EQ(infos.size(), 3u);
    const char* names[] = {"Voice Amplitude", "Voice Detune", "Voice Transpose"};
    const float maxima[] = {127, 100, 127};
    for (size_t i = 0; i < 3; ++i) {
        const char* label = infos[i].label;
        EXPECT_STREQ(label, names[i]);
        EXPECT_EQ(infos[i].flags, 0x13);
        EXPECT_EQ(infos[i].maxValue, maxima[i]);
    }
    const char* genericLabel = g.record(GenericParam::kDetune).label;
    EXPECT_STREQ(genericLabel, "Detune");  // the template is untouched

    EXPECT_EQ(vm.findVoiceParameterActions("VOICE DETUNE"), &vm.detuneParameterActions());
    EXPECT_EQ(vm.findVoiceParameterActions("VOICE AMPLITUDE"), &vm.amplitudeParameterActions());
    EXPECT_EQ(vm.findVoiceParameterActions("VOICE TRANSPOSE"), &vm.transposeParameterActions());
    EXPECT_TRUE(vm.findVoiceParameterActions("Voice Detune") == nullptr);
    EXPECT_TRUE(vm.findVoiceParameterActions("VOICE DETUNE ") == nullptr);

    vm.amplitudeParameterActions()[2].setValue(0.0f);
    vm.detuneParameterActions()[1].setValue(50.0f);
    vm.transposeParameterActions()[1].setValue(12.0f);
    EXPECT_EQ(rec.take(), (Log{"update 2", "pitch 1", "pitch 1"}));
    EXPECT_EQ(vm.voiceAmplitude(2), 0.0f);
    EXPECT_EQ(vm.voicePitchCents(1), 1250.0f);
}

TEST(VoiceManagerParameters, KindFourUsesTheFourBitAmplitude)
{
    VoiceManager vm;
    Recorder rec(vm);
    vm.setVoiceCount(4);
    vm.createVoiceParameters(&rec, 4);
    ASSERT_EQ(vm.amplitudeParameterActions().size(), 4u);
    const ParameterAction& amp = vm.amplitudeParameterActions()[3];
    EXPECT_EQ(amp.code(), 2);
    EXPECT_EQ(amp.descriptor(), &GenericParam::instance().record(GenericParam::kAmplitude4Bit));
    EXPECT_EQ(vm.voice(3).amplitudeFactor, 15.0f * 0.06666667f);
    EXPECT_EQ(vm.voice(4).amplitudeFactor, 1.0f);  // no action beyond the count

    vm.setVoiceCount(2);
    vm.createVoiceParameters(&rec, 4);
    EXPECT_EQ(vm.detuneParameterActions().size(), 2u);
}

TEST_F(VoiceManagerTest, NoteExpressionsByKind)
{
    vm.noteOnWithId(60, 77, 0.5f);
    rec.take();
    EXPECT_EQ(vm.findVoiceByNoteId(77), 0);
    EXPECT_EQ(vm.setNoteExpression(0, 77, 0.5f), 0);
    EXPECT_EQ(vm.setNoteExpression(1, 77, 0.3f), 0);
    EXPECT_EQ(vm.setNoteExpression(2, 77, 1200.0f), 0);
    EXPECT_EQ(vm.setNoteExpression(5, 77, 9.0f), 0);
    EXPECT_EQ(vm.setNoteExpression(0, 78, 0.1f), -1);
    EXPECT_EQ(rec.take(), (Log{"update 0", "hook9 0 1", "pitch 0"}));
    EXPECT_FLOAT_EQ(vm.voiceAmplitude(0), 0.5f);
    EXPECT_NEAR(vm.voiceFrequency(0), 2 * vm.voice(0).baseFrequency, 1e-3);
}

TEST_F(VoiceManagerTest, HostVelocitiesBecomeSevenBits)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct
    {
        float velocity;
        int want;
    } kCases[] = {{0.5f, 64}, {1.0f, 127}, {0.0f, 0},   {nan, 0},
                  {1e30f, 127}, {-1e30f, 0}, {2.0f, 126}, {0.003f, 0}};
    for (const auto& c : kCases) {
        vm.noteOnWithId(60, 5, c.velocity);
        EXPECT_EQ(vm.voice(vm.lastVoice()).velocity, c.want) << c.velocity;
        EXPECT_EQ(vm.key(60).velocity, c.want) << c.velocity;
        EXPECT_EQ(vm.heldKeyCount(), c.want != 0 ? 1 : 0) << c.velocity;
        rec.take();
        vm.noteOffWithId(60, 5, c.velocity);
        EXPECT_EQ(rec.take(), (Log{"end" + join({vm.findVoiceByNoteId(5), 60, c.want}), "hook8"}))
            << c.velocity;
        EXPECT_EQ(vm.heldKeyCount(), 0);
    }
}

TEST_F(VoiceManagerTest, HostIdsRestartTheirVoice)
{
    vm.noteOnWithId(60, 9, 1.0f);
    vm.noteOnWithId(64, 9, 1.0f);  // same id: same voice, started again
    vm.noteOnWithId(67, 10, 1.0f);
    EXPECT_EQ(rec.take(), (Log{"start 0 60 127", "start 0 64 127", "start 1 67 127"}));
    EXPECT_EQ(vm.findVoiceByNote(64), 0);
    EXPECT_EQ(vm.findVoiceByNote(60), -1);
    EXPECT_EQ(vm.findVoiceByNoteId(-1), -1);
}

TEST_F(VoiceManagerTest, BadInputChangesNothing)
{
    play({60, 61});
    rec.take();
    vm.setVoiceCount(13);
    vm.setVoiceCount(12);
    lift({62});                // key is up
    vm.controlChange(7, 100);  // not a controller of the voice manager
    EXPECT_TRUE(rec.take().empty());
    EXPECT_EQ(vm.voiceCount(), 12u);
    vm.noteOn(70 + 128, 200, -1, VoiceManager::kPlainMidi);  // note 70, velocity 72
    EXPECT_EQ(rec.take(), Log{"start 2 70 72"});
    EXPECT_EQ(vm.heldVoiceCount(), 3u);
    vm.applyParameterAction(12, 1, 0.0f, false);  // no such voice
    vm.applyParameterAction(0, 3, 0.0f, false);   // no such code
    EXPECT_TRUE(rec.take().empty());
}

TEST_F(VoiceManagerTest, NoVoicesDropsEveryNoteAfterRecordingTheKey)
{
    vm.setVoiceCount(0);
    rec.take();
    vm.noteOnWithId(60, 3, 1.0f);
    play({61});
    EXPECT_TRUE(rec.take().empty());
    EXPECT_EQ(vm.heldKeyCount(), 2);
    lift({61});
    EXPECT_EQ(rec.take(), Log{"hook8"});
    EXPECT_EQ(vm.heldKeyCount(), 1);
}

TEST_F(VoiceManagerTest, GroupAndVelocityGain)
{
    vm.setLayerIndex(2);
    play({60}, 64);
    vm.controlChange(120, 0);
    for (uint64_t g : rec.groups)
        EXPECT_EQ(g, 2u);
    EXPECT_EQ(rec.groups.size(), 13u);

    play({60}, 64);
    vm.setVelocitySensitivity(0.5f);
    EXPECT_EQ(vm.velocityGain(vm.lastVoice()), float(64.0 / 127.0) * 0.5f + 0.5f);
    vm.setVelocitySensitivity(0.0f);
    EXPECT_EQ(vm.velocityGain(vm.lastVoice()), 1.0f);
}

// Random traffic in every id mode with both pedals, stops, voice counts, expressions and bends;
// the counters must agree with the records after every step.
TEST(VoiceManagerRandom, CountersAgreeWithTheRecords)
{
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 rng(seed);
        auto pick = [&](uint32_t n) { return uint32_t(rng() % n); };
        auto unit = [&] { return float(rng() % 1001) / 1000.0f; };
        VoiceManager vm;
        Recorder rec(vm);
        rec.recording = false;
        vm.createVoiceParameters(&rec, 7);

        for (int step = 0; step < 4000; ++step) {
            const uint32_t op = pick(16);
            const uint8_t note = uint8_t(48 + pick(20));
            const int32_t mode = int32_t(pick(3));
            const int64_t id = mode == 1 ? int64_t(pick(16)) : mode == 2 ? int64_t(pick(8)) : -1;
            switch (op) {
            case 0: case 1: case 2: case 3:
                vm.noteOn(note, uint8_t(pick(128)), id, mode);
                break;
            case 4: case 5: case 6:
                vm.noteOff(note, pick(128), id, mode);
                break;
            case 7:
                vm.noteOnWithId(note, pick(8), unit());
                break;
            case 8:
                vm.noteOffWithId(note, pick(8), unit());
                break;
            case 9: case 10:
                vm.controlChange(pick(2) ? 64 : 66, pick(2) ? 0 : uint8_t(1 + pick(127)));
                break;
            case 11:
                if (pick(8) == 0) {
                    vm.controlChange(pick(2) ? 120 : 123, 0);
                    for (size_t v = 0; v < VoiceManager::kVoices; ++v)
                        ASSERT_TRUE(vm.voice(v).released == 1 &&
                                    vm.voice(v).note == VoiceManager::kNoNote) << step;
                    for (size_t c = 0; c < VoiceManager::kChannels; ++c)
                        ASSERT_EQ(vm.channel(c).voice, -1) << step;
                }
                break;
            case 12:
                if (pick(16) == 0)
                    vm.setVoiceCount(pick(14));
                break;
            case 13:
                vm.setNoteExpression(int32_t(pick(4)), pick(8), unit() * 2.0f - 1.0f);
                break;
            case 14:
                vm.setChannelPitchBend(pick(16), unit() * 2.0f - 1.0f);
                break;
            default:
                vm.setPitchBend(unit() * 2.0f - 1.0f);
                break;
            }

            uint64_t held = 0;
            for (size_t v = 0; v < vm.voiceCount(); ++v)
                held += vm.voice(v).released == 0;
            for (size_t v = vm.voiceCount(); v < VoiceManager::kVoices; ++v)
                ASSERT_EQ(vm.voice(v).released, 1) << "step " << step << " op " << op;
            int32_t keys = 0;
            for (size_t k = 0; k < VoiceManager::kKeys; ++k)
                keys += vm.key(k).velocity != 0;
            ASSERT_EQ(vm.heldVoiceCount(), held) << "step " << step << " op " << op;
            ASSERT_EQ(vm.heldKeyCount(), keys) << "step " << step << " op " << op;
            ASSERT_LT(vm.lastVoice(), int64_t(vm.voiceCount())) << "step " << step;
        }
    }
}
