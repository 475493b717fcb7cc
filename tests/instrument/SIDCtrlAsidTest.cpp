#include "SIDCtrlDoubles.h"

#include "fixtures/TempDir.h"
#include "instrument/ChipHWHookEngineSDK.h"
#include "media/Asid.h"
#include "media/VGMReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace sidctrl_test;
using Bytes = std::vector<uint8_t>;
using Calls = std::vector<std::string>;

// Records the media callback calls that ASID input makes.
class AsidCtrl : public TestCtrl
{
public:
    using TestCtrl::TestCtrl;
    void addChip(uint32_t kind, uint32_t subtype, uint32_t rate) override
    {
        calls.push_back("addChip " + std::to_string(kind) + " " + std::to_string(subtype) + " " +
                        std::to_string(rate));
    }
    void releaseAllGates(uint32_t kind) override { calls.push_back("release " + std::to_string(kind)); }
    void writeMediaRegister(uint32_t kind, uint64_t delay, uint32_t port, uint32_t reg, uint32_t value,
                            double rate) override
    {
        std::ostringstream s;
        s << "write " << kind << " " << delay << " " << port << " " << reg << " 0x" << std::hex << value;
        calls.push_back(s.str());
        TestCtrl::writeMediaRegister(kind, delay, port, reg, value, rate);
    }
    void captureRegisters(uint64_t tick) override { calls.push_back("capture " + std::to_string(tick)); }
    void setDisplayText(const char* text) override { calls.push_back(std::string("text ") + text); }

    Calls calls;
};

class SIDCtrlAsid : public ::testing::Test
{
protected:
    SIDCtrlAsid() : chipObjects(ChipController::kChips)
    {
        for (RecordingChip& c : chipObjects)
            chips.push_back(&c);
        ctrl = std::make_unique<AsidCtrl>(&chips, &listener);
        ctrl->init("d/chips/db", 1006);
    }

    Calls feed(const Bytes& message)
    {
        ctrl->calls.clear();
        ctrl->receiveSysEx(message.data(), message.size());
        return ctrl->calls;
    }
    void clearMidi()
    {
        listener.midiOut.clear();
        listener.sysex.clear();
    }

    std::vector<RecordingChip> chipObjects;
    std::vector<ChipEmu*> chips;
    RecordingListener listener;
    std::unique_ptr<AsidCtrl> ctrl;
};

Bytes registerMessage(std::initializer_list<uint8_t> masks, size_t dataBytes, uint8_t first = 1)
{
    Bytes m{0xF0, 0x2D, 0x4E};
    m.insert(m.end(), masks);
    m.insert(m.end(), 4, 0x00);
    for (size_t i = 0; i < dataBytes; ++i)
        m.push_back(uint8_t(first + i));
    m.push_back(0xF7);
    return m;
}

TEST_F(SIDCtrlAsid, InputMessagesBecomeMediaCalls)
{
    ctrl->setInstrumentOption(4, -1.0);
    Bytes longPayload{0xF0, 0x2D, 0x4E};
    longPayload.insert(longPayload.end(), 65, 0x00);
    longPayload.push_back(0xF7);
    const std::string start = "addChip 80 0 1000000";

    const struct
    {
        Bytes message;
        Calls calls;
    } kRows[] = {
        {{0xF0, 0x2D, 0x4C, 0xF7}, {start}},
        {{0xF0, 0x2D, 0x4D, 0xF7}, {"release 80"}},
        {registerMessage({0, 0, 0, 0}, 0), {"capture 0"}},
        {{0xF0, 0x2D, 0x4E, 0x01, 0, 0, 0, 0x01, 0, 0, 0, 0x05, 0xF7}, {"write 80 0 0 0 0x85", "capture 0"}},
        {registerMessage({0x02, 0, 0, 0}, 10), {"capture 0"}},
        {registerMessage({0, 0, 0, 0x7F}, 7),
         {"write 80 0 0 24 0x1", "write 80 0 0 4 0x2", "write 80 0 0 11 0x3", "write 80 0 0 18 0x4",
          "write 80 0 0 4 0x5", "write 80 0 0 11 0x6", "write 80 0 0 18 0x7", "capture 0"}},
        {{0xF0, 0x2D, 0x4F, 0x41, 0x42, 0xF7}, {"text AB"}},
        {{0xF0, 0x2D, 0x4F, 0x41, 0x80, 0x42, 0xF7}, {}},
        {longPayload, {}},
        {{0xF0, 0x2D, 0x4C, 0xF7}, {start}},
        {{0xF0, 0x2D, 0x50, 0xF7}, {}},
        {{0xF0, 0x2D, 0x4C, 0xF7}, {start}},
        {{0xF0, 0x2D, 0x4C, 0x00}, {start}},  // acts on the command byte; then an error
        {{0xF0, 0x2D, 0x4D, 0x4C, 0xF7}, {"release 80"}},
        {{0xF0, 0x7E, 0x4C, 0xF7}, {}},
        {{0xF0, 0x2D, 0x4C}, {}},
        {{0xF0, 0x2D, 0x4E, 0x01, 0, 0, 0, 0x01, 0, 0, 0, 0x05, 0xF7, 0xF0, 0x2D, 0x4D, 0xF7},
         {"write 80 0 0 0 0x85", "capture 0", "release 80"}},
    };
    for (size_t i = 0; i < std::size(kRows); ++i)
        EXPECT_EQ(feed(kRows[i].message), kRows[i].calls) << "row " << i;

    // Decoded writes play chip 15.
    EXPECT_EQ(chipObjects[15].lastWrite(0), 0x85);

    ctrl->setInstrumentOption(4, 0.0);
    EXPECT_TRUE(feed({0xF0, 0x2D, 0x4C, 0xF7}).empty());
    ctrl->setInstrumentOption(4, -1.0);
    ctrl->receiveSysEx(nullptr, 4);
    EXPECT_TRUE(ctrl->calls.empty());
}

// ---------------------------------------------------------------------------------------------
// Output

Bytes textMessage(const std::string& text)
{
    Bytes m{0xF0, 0x2D, 0x4F};
    m.insert(m.end(), text.begin(), text.end());
    m.push_back(0xF7);
    return m;
}

// The registers a register message carries.
class Decoded : public MediaCallback
{
public:
    void writeMediaRegister(uint32_t, uint64_t, uint32_t, uint32_t reg, uint32_t value, double) override
    {
        regs[reg] = int(value);
    }
    int regs[25] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                    -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
};

TEST_F(SIDCtrlAsid, OutputMirrorsTheChosenChip)
{
    ctrl->writeRegister(0, 4, 0x81);
    ctrl->writeRegister(0, 24, 0x1F);
    ctrl->writeRegister(0, 0, 0x34);
    EXPECT_TRUE(listener.midiOut.empty());  // output off

    ctrl->mediaCommand(10, nullptr, 1.0);
    ASSERT_EQ(listener.midiOut.size(), 3u);
    for (const HostMidiOutRecord& r : listener.midiOut) {
        EXPECT_EQ(r.version, 2123u);
        EXPECT_EQ(r.kind, 1u);
        EXPECT_EQ(r.port, 0u);
    }
    EXPECT_EQ(listener.sysex[0], textMessage("orbella C64 ASID Output"));
    EXPECT_EQ(listener.sysex[0].size(), 27u);
    EXPECT_EQ(listener.sysex[1], (Bytes{0xF0, 0x2D, 0x4C, 0xF7}));
    ASSERT_EQ(listener.sysex[2].size(), 37u);
    Decoded image;
    ASSERT_TRUE(decodeAsidRegisters(listener.sysex[2].data() + 3, 33, image, 77));
    EXPECT_EQ(image.regs[4], 0x81);
    EXPECT_EQ(image.regs[24], 0x1F);
    EXPECT_EQ(image.regs[0], 0x34);
    for (int r = 0; r < 25; ++r)
        EXPECT_EQ(image.regs[r], ctrl->shadow(0).regs[r]) << r;

    // A voice write goes out as written, before the sample player's claim.
    clearMidi();
    SID_DAC_sub& dac = *ctrl->dacSub(0);
    dac.ownedMask |= 1u << 4;
    dac.ownedBits[4] = 0xF0;
    dac.ownedValue[4] = 0x20;
    ctrl->writeRegister(0, 4, 0x41);
    EXPECT_EQ(chipObjects[0].lastWrite(4), 0x21);
    ASSERT_EQ(listener.sysex.size(), 1u);
    EXPECT_EQ(listener.sysex[0], (Bytes{0xF0, 0x2D, 0x4E, 0, 0, 0, 0x02, 0, 0, 0, 0, 0x41, 0xF7}));

    clearMidi();
    ctrl->writeRegister(0, 25, 0x01);
    ctrl->writeRegister(0 | ChipSubWriter::DIRECT_WRITE, 4, 0x01);
    ctrl->writeRegister(1, 4, 0x01);
    EXPECT_TRUE(listener.midiOut.empty());

    // The tune's first SID, silenced with the player chips.
    ctrl->mediaCommand(10, nullptr, 13.0);
    EXPECT_EQ(listener.midiOut.size(), 3u);
    clearMidi();
    ctrl->silencePlayerChips();
    EXPECT_EQ(listener.midiOut.size(), 6u);
    ASSERT_FALSE(listener.sysex.empty());
    EXPECT_EQ(listener.sysex[0], (Bytes{0xF0, 0x2D, 0x4E, 0, 0, 0, 0x02, 0, 0, 0, 0, 0x08, 0xF7}));

    // Off: the hook goes, no stop message, nothing more.
    clearMidi();
    ctrl->mediaCommand(10, nullptr, 0.0);
    EXPECT_EQ(ctrl->getHardwareHook(), nullptr);
    ctrl->writeRegister(12, 4, 0x11);
    ctrl->refreshAsidOutput();
    EXPECT_TRUE(listener.midiOut.empty());

    ctrl->mediaCommand(10, nullptr, 1.0);
    clearMidi();
    ctrl->refreshAsidOutput();
    ASSERT_EQ(listener.sysex.size(), 3u);
    EXPECT_EQ(listener.sysex[1], (Bytes{0xF0, 0x2D, 0x4C, 0xF7}));
}

TEST(ChipHWHookEngineSDK, RecordsForTheHost)
{
    RecordingListener listener;
    ChipHWHookEngineSDK hook(&listener);
    hook.writeRegister(5, 0x66, 0x90, 77);
    ASSERT_EQ(listener.midiOut.size(), 1u);
    const HostMidiOutRecord& r = listener.midiOut[0];
    EXPECT_EQ(r.version, 2123u);
    EXPECT_EQ(r.kind, 0u);
    EXPECT_EQ(r.size, 4u);
    EXPECT_EQ(r.port, 0u);
    EXPECT_TRUE(listener.sysex[0].empty());
    EXPECT_EQ(Bytes(r.bytes, r.bytes + 4), (Bytes{0x90, 5, 0x66, 0}));

    EXPECT_EQ(hook.readRegister(), 255);
    uint32_t pending = 9;
    hook.getPendingCount(&pending);
    EXPECT_EQ(pending, 0u);
    EXPECT_EQ(hook.run(), nullptr);

    hook.setPort(3);
    const Bytes start{0xF0, 0x2D, 0x4C, 0xF7};
    hook.sendSysEx(start.data(), start.size());
    ASSERT_EQ(listener.midiOut.size(), 2u);
    EXPECT_EQ(listener.midiOut[1].kind, 1u);
    EXPECT_EQ(listener.midiOut[1].port, 3u);
    EXPECT_EQ(listener.midiOut[1].size, 4u);
    EXPECT_EQ(listener.sysex[1], start);
    EXPECT_EQ(Bytes(listener.midiOut[1].bytes, listener.midiOut[1].bytes + 4), Bytes(4, 0));
}

// ---------------------------------------------------------------------------------------------
// Capture timing and export

class SIDCtrlCaptureRules : public ::testing::Test
{
protected:
    SIDCtrlCaptureRules() : chipObjects(ChipController::kChips)
    {
        for (RecordingChip& c : chipObjects)
            chips.push_back(&c);
        ctrl = std::make_unique<CaptureCtrl>(&chips, &listener);
        ctrl->init("d/chips/db", 1006);
        ctrl->setRate(0, 985248.0, 985248.0);
    }

    std::vector<RecordingChip> chipObjects;
    std::vector<ChipEmu*> chips;
    RecordingListener listener;
    std::unique_ptr<CaptureCtrl> ctrl;
};

TEST_F(SIDCtrlCaptureRules, LogTicksCountAtTheStreamRate)
{
    ctrl->adoptReader(new VGM::Reader(ctrl.get(), nullptr, nullptr));
    ctrl->addChip(77, 0, 44100);
    for (uint64_t frame = 1; frame <= 4; ++frame)
        ctrl->captureRegisters(882 * frame);
    EXPECT_EQ(ctrl->getCyclesPerFrame(), 19705u);

    // A rewind keeps the cycles per frame; the next frame measures from the rewound tick.
    ctrl->captureRegisters(882);
    EXPECT_EQ(ctrl->getCyclesPerFrame(), 19705u);
    ctrl->captureRegisters(882 * 3);
    EXPECT_EQ(ctrl->getCyclesPerFrame(), 39410u);
    EXPECT_EQ(ctrl->frames().size(), 6u);

    // A stream without a rate keeps them too.
    ctrl->addChip(77, 0, 0);
    ctrl->captureRegisters(882 * 10);
    EXPECT_EQ(ctrl->getCyclesPerFrame(), 39410u);
}

TEST_F(SIDCtrlCaptureRules, TuneTicksScaleByTheSpeed)
{
    auto* tune = new TickReader(ctrl.get());
    ctrl->adoptReader(tune);
    tune->speed = 2.0;
    ctrl->captureRegisters(1000);
    ctrl->captureRegisters(20000);
    EXPECT_EQ(ctrl->getCyclesPerFrame(), 38000u);
    ctrl->captureRegisters(5000);
    EXPECT_EQ(ctrl->getCyclesPerFrame(), 38000u);
}

TEST_F(SIDCtrlCaptureRules, ExportMedia)
{
    fixtures::TempDir dir;
    auto* tune = new TickReader(ctrl.get());
    ctrl->adoptReader(tune);
    for (uint64_t frame = 1; frame <= 60; ++frame) {
        ctrl->writeRegister(12, 4, frame < 50 ? 0x41 : 0x40);
        ctrl->writeRegister(12, 1, uint8_t(frame));
        ctrl->captureRegisters(frame * 19656);
    }
    const std::string other = dir / "other.vgmx";
    EXPECT_FALSE(ctrl->exportMedia(1, other.c_str()));
    EXPECT_FALSE(std::filesystem::exists(other));
    EXPECT_FALSE(ctrl->isCapturePaused());
    EXPECT_TRUE(tune->playing);

    const std::string unwritable = dir / "missing/cap.vgmx";
    EXPECT_FALSE(ctrl->exportMedia(0, unwritable.c_str()));
    EXPECT_TRUE(ctrl->isCapturePaused());
    EXPECT_EQ(ctrl->getReader(), nullptr);  // stopped and closed before the write

    listener.reports.clear();
    const std::string path = dir / "cap.vgmx";
    EXPECT_TRUE(ctrl->exportMedia(0, path.c_str()));
    EXPECT_TRUE(ctrl->isCapturePaused());
    EXPECT_GT(std::filesystem::file_size(path), 0u);
}

}  // namespace
