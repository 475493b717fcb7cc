#pragma once
// A protocol-level 1541: no drive processor and no drive ROM. A table of state handlers speaks
// the serial bus protocol bit by bit and serves the files of one disk image to LOAD, the
// directory "$" included. Nothing is ever written to the image.

#include "machine/DiskFile.h"
#include "machine/IECBus.h"

#include <array>
#include <cstdint>
#include <string>

class C1541 : public cbm_iec_slot_device, public device_cbm_iec_interface {
public:
    enum State : int32_t {
        cSTATE_IDLE,
        cSTATE_WAIT_ATN_RESPONSE_REQUIRED,
        cSTATE_WAIT_TALKER_READY,
        cSTATE_LISTENER_READY_DELAY,
        cSTATE_WAIT_FIRST_BIT,
        cSTATE_RECEIVE_BITS,
        cSTATE_WAIT_BYTE_END,
        cSTATE_ACKNOWLEDGE_BYTE,
        cSTATE_EOI_ACKNOWLEDGE,
        cSTATE_TURNAROUND,
        cSTATE_TALK_DELAY,
        cSTATE_WAIT_LISTENER_READY,
        cSTATE_SEND_BIT,
        cSTATE_BIT_VALID,
        cSTATE_BYTE_DONE,
        cSTATE_WAIT_BYTE_ACK,
        cSTATE_WAIT_NEXT_BYTE,
        cSTATE_WAIT_EOI_ACK,
        cSTATE_WAIT_EOI_ACK_END,
        cSTATE_COUNT
    };

    enum Event : int32_t {
        cEVENT_ATN_RELEASED,
        cEVENT_ATN_ASSERTED,
        cEVENT_CLK_RELEASED,
        cEVENT_CLK_ASSERTED,
        cEVENT_DATA_RELEASED,
        cEVENT_DATA_ASSERTED,
        cEVENT_TIMER
    };

    enum BusRole : uint32_t { kRoleNone, kRoleListener, kRoleTalker, kRoleTalkReady };

    struct Channel {
        uint8_t open = 0;
        uint8_t spare = 0;
        uint8_t owner = 0xFF;  // device number of the opener; 0xFF none
    };

    static constexpr uint8_t kNone = 0xFF;
    static constexpr uint64_t kNoTimer = UINT64_MAX;

    // The drive answers as device 8; its lines reach the bus once the host has added it.
    C1541(std::string tag, cbm_iec_host_device* bus);

    // The image served (not owned); null serves the dummy program for every name.
    void setDisk(const DiskFile* image);

    // Machine cycles that passed. Idle, this is one add and one compare.
    void tick(uint64_t cycles)
    {
        timerElapsed += cycles;
        if (timerElapsed >= timerLimit) [[unlikely]]
            timerExpired();
    }

    void srqChanged(int) override {}
    void atnChanged(int level) override;
    void clkChanged(int level) override;
    void dataChanged(int level) override;
    void resetChanged(int) override {}

    // The two process-wide entries: a one-line BASIC program served for any name when no disk
    // is in, and the status text of the command channel. Built on first use, read-only after.
    static const DiskFileEntry& dummyProgramFile();
    static const DiskFileEntry& dummyStatusFile();

    // State view for the machine and the tests.
    int32_t currentState() const { return state; }
    uint32_t role() const { return busRole; }
    uint8_t primary() const { return currentPrimary; }
    uint8_t secondary() const { return currentSecondary; }
    const Channel& channel(unsigned s) const { return channels[s & 15]; }
    const std::string& nameBytes() const { return channelName; }
    const DiskFileEntry* file() const { return currentFile; }
    const DiskFileEntry* listing() const { return directoryFile; }
    bool timerPending() const { return timerLimit != kNoTimer; }
    // Ticks of this many cycles may pass before the timer fires: at least 1, huge with none.
    uint64_t cyclesToTimer() const { return timerElapsed < timerLimit ? timerLimit - timerElapsed : 1; }

private:
    using StateHandler = bool (C1541::*)(Event);
    static const std::array<StateHandler, cSTATE_COUNT + 1> kStateTable;

    void dispatch(Event event)
    {
        if (const StateHandler handler = stateHandlers[size_t(state)])
            (this->*handler)(event);
    }
    void timerExpired();

    void setTimer(uint64_t cycles)
    {
        timerElapsed = 0;
        timerLimit = cycles;
    }
    void go(State next, uint64_t timer)
    {
        setTimer(timer);
        state = next;
    }
    // Own line changes; the bus's notice of them is dropped.
    void driveClk(int level);
    void driveData(int level);
    bool answerAtn(Event event);
    bool cutOffTalk(Event event);
    void takeClk();

    bool stateIdle(Event event);
    bool stateWaitAtnResponseRequired(Event event);
    bool stateWaitTalkerReady(Event event);
    bool stateListenerReadyDelay(Event event);
    bool stateWaitFirstBit(Event event);
    bool stateReceiveBits(Event event);
    bool stateWaitByteEnd(Event event);
    bool stateAcknowledgeByte(Event event);
    bool stateEoiAcknowledge(Event event);
    bool stateTurnaround(Event event);
    bool stateTalkDelay(Event event);
    bool stateWaitListenerReady(Event event);
    bool stateSendBit(Event event);
    bool stateBitValid(Event event);
    bool stateByteDone(Event event);
    bool stateWaitByteAck(Event event);
    bool stateWaitNextByte(Event event);
    bool stateWaitEoiAck(Event event);
    bool stateWaitEoiAckEnd(Event event);

    void handleCommandByte(uint8_t byte);
    void selectChannel(uint8_t s);
    void handleDataByte(uint8_t byte);
    const DiskFileEntry* findFile(const std::string& fileName);
    int nextBit();

    std::array<StateHandler, cSTATE_COUNT + 1> stateHandlers;
    bool eoiNext = false;       // the byte being sent is the second-to-last
    bool lastByteSent = false;  // the byte being sent is the last
    std::string channelName;    // data bytes sent to an open channel since its OPEN, until UNTALK
    uint32_t busRole = kRoleNone;
    int32_t state = cSTATE_IDLE;
    std::array<Channel, 16> channels{};
    uint8_t currentSecondary = kNone;
    uint8_t currentPrimary = kNone;
    const DiskFile* disk = nullptr;
    uint32_t inShift = 0;
    uint64_t inBitCount = 0;
    uint64_t outBitIndex = 0;  // bits of the current byte already sent, 0-8
    bool atnAsserted = false;
    uint32_t dataLevel = 1;
    uint32_t clkLevel = 1;  // last CLK level reported by the bus
    bool drivingData = false;
    bool drivingClk = false;
    uint64_t timerElapsed = 0;
    uint64_t timerLimit = kNoTimer;
    const DiskFileEntry* currentFile = nullptr;
    uint64_t sendIndex = 0;
    DiskFileEntry* directoryFile = nullptr;   // the last listing: one of the two slots, or none
    std::array<DiskFileEntry, 2> listingSlots;  // a new listing goes into the other slot
    const DiskFileEntry* programDummy;
    const DiskFileEntry* statusDummy;
};
