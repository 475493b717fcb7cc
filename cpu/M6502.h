// NMOS 6502 with the undocumented opcodes, timed to the cycle, on an abstract bus.
#pragma once

#include <cstdint>

namespace M6502CPP {

class M6502;

namespace detail {
template <class Regs>
class Exec;
}

// The bus: memory, cycles and events. Stack bytes never pass through it.
class Listener {
public:
    virtual ~Listener() = default;

    // Called once per step while the CPU is in STATE_USER; its result is the step's cycles.
    virtual uint64_t handleUserState(M6502* cpu) = 0;
    // Only the low 8 bits of the result are used.
    virtual uint32_t readMemory(uint16_t address) = 0;
    virtual void writeMemory(uint16_t address, uint8_t value) = 0;
    // The core always passes a = b = 0 and ignores the result.
    virtual int64_t cpuEvent(M6502* cpu, uint16_t address, int32_t id, int64_t a, int64_t b) = 0;
    // Text-trace hook; the core never calls it.
    virtual void traceLine(const char* text) = 0;
    // Advances the rest of the machine; may call setIrqLine / setNmiLine from inside.
    virtual void tick(uint64_t cycles) = 0;
};

class M6502 {
public:
    enum State : int32_t {
        STATE_INIT = 0,
        STATE_RESET = 1,
        STATE_IRQ = 2,
        STATE_NMI = 3,
        STATE_USER = 4,
        STATE_RUN = 5,
        STATE_JAMMED = 6,
        STATE_STOPPED = 7,
        STATE_COUNT = 8
    };

    enum Request : int32_t { REQUEST_STEP = 0, REQUEST_RESET = 1, REQUEST_IRQ = 2, REQUEST_NMI = 3 };

    // Event ids passed to Listener::cpuEvent; their names must not change (cpuEventName).
    enum Event : int32_t {
        RESET = 0,
        IRQ = 1,
        NMI = 2,
        BRK = 3,
        USER_OPCODE = 4,
        POP_FAULT = 5,
        PUSH_FAULT = 6,
        JAM = 7,
        ERROR = 8,
        EVENT_COUNT = 9
    };

    // P bits.
    static constexpr uint8_t FLAG_C = 0x01;
    static constexpr uint8_t FLAG_Z = 0x02;
    static constexpr uint8_t FLAG_I = 0x04;
    static constexpr uint8_t FLAG_D = 0x08;
    static constexpr uint8_t FLAG_B = 0x10;
    static constexpr uint8_t FLAG_5 = 0x20;
    static constexpr uint8_t FLAG_V = 0x40;
    static constexpr uint8_t FLAG_N = 0x80;

    // Interrupt counter value meaning "never pending".
    static constexpr int64_t NEVER = INT64_MAX;

    using Handler = uint64_t (M6502::*)(int32_t request);

    // ram: the machine's 64 KiB (stack page read and written directly); neither is owned.
    M6502(uint8_t* ram, Listener* listener);
    virtual ~M6502();

    M6502(const M6502&) = delete;
    M6502& operator=(const M6502&) = delete;

    // STATE_INIT handler: STATE_RESET on REQUEST_RESET, else STATE_STOPPED; returns 1.
    virtual uint64_t setRunState(int32_t request);

    // One unit of work of the current state: an instruction, an entry sequence or an idle tick.
    uint64_t stepState();
    uint64_t requestReset();
    uint64_t powerOnReset();

    // Exactly one instruction at PC on the object's registers (the work of STATE_RUN).
    uint64_t stepInstruction();
    // Whole instructions on working copies of the registers while the budget (in instructions)
    // lasts; the budget is decremented before each instruction and once at the end.
    uint64_t runCycles(int64_t& budget);

    // Both lines released and nothing pending, a requested but not yet entered IRQ or NMI
    // included (STATE_IRQ and STATE_NMI return to STATE_RUN).
    void clearInterrupts();
    void setIrqLine(int level);
    void setNmiLine(int level);
    void push(uint8_t value);

    // Name of an event id; "UNKNOWN" outside 0..8.
    static const char* cpuEventName(int32_t id);

    int32_t getStateIndex() const { return stateIndex; }
    int64_t getIrqCounter() const { return irqCounter; }
    int64_t getNmiCounter() const { return nmiCounter; }
    uint8_t getLatchedI() const { return latchedI; }
    uint8_t getIrqLineLevel() const { return irqLineLevel; }
    uint8_t getNmiLineLevel() const { return nmiLineLevel; }

private:
    template <class Regs>
    friend class detail::Exec;

    uint64_t stateReset(int32_t request);
    uint64_t stateIrq(int32_t request);
    uint64_t stateNmi(int32_t request);
    uint64_t stateUser(int32_t request);
    uint64_t stateRun(int32_t request);
    uint64_t stateJammed(int32_t request);
    uint64_t stateStopped(int32_t request);

    uint64_t dispatch(int32_t request) { return (this->*handlers[stateIndex])(request); }
    uint16_t readVector(uint16_t address);

    static const Handler kStateHandlers[STATE_COUNT];

    Handler handlers[STATE_COUNT];
    int32_t stateIndex = STATE_INIT;

public:
    uint8_t A = 0;
    uint8_t X = 0;
    uint8_t Y = 0;
    uint8_t P = 0;
    uint8_t SP = 0;
    uint16_t PC = 0;

private:
    int64_t irqCounter = 0;
    int64_t nmiCounter = NEVER;
    uint8_t* ram;
    Listener* listener;
    uint8_t latchedI = 0;
    uint8_t irqLineLevel = 0;
    uint8_t nmiLineLevel = 0;
};

}  // namespace M6502CPP
