#pragma once
// Time-ordered timer list that cuts rendering into stretches ending at the timers' due ticks.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vantor {

// Something the manager calls back when its tick is reached. The manager never owns a timer.
class QuantumTimer
{
public:
    static constexpr uint64_t kNever = 0x7FFFFFFFFFFFFFFFull;

    virtual ~QuantumTimer() = default;
    // Not called by the manager.
    virtual uint64_t advanceTicks(uint64_t ticks) { return ticks; }
    // Called when the timer is added and each time it fires: does the work and returns the ticks
    // until the next call (kNever for none). `timer` is the timer itself.
    virtual uint64_t quantumElapsed(QuantumTimer* timer, uint64_t argument, double rate);
    // Not called by the manager.
    virtual void quantumIdle() {}
};

struct QuantumEntry
{
    uint64_t due;
    QuantumTimer* timer;
    uint64_t argument;
};

class QuantumManager
{
public:
    // Reserves room for `reserveCount` entries (std::length_error past the maximum).
    explicit QuantumManager(size_t reserveCount = 32);
    virtual ~QuantumManager() = default;

    QuantumManager(const QuantumManager&) = delete;
    QuantumManager& operator=(const QuantumManager&) = delete;

    // Asks the timer for its first interval and inserts it after every entry due at the same tick.
    bool addTimer(QuantumTimer* timer, uint64_t argument);
    // Removes the timer's first entry; returns its ticks left (0 when it has none).
    uint64_t cancel(QuantumTimer* timer);
    // Every entry of the timer (or with the argument) becomes due at now + delay.
    void reschedule(QuantumTimer* timer, uint64_t delay);
    void rescheduleCookie(uint64_t argument, uint64_t delay);
    void sortTimers();
    // Moves the time origin to now: every due tick less now, now 0.
    void rebase();
    // Frames that may be rendered before the next timer is due; fires the timer reached by the
    // previous call first. Never allocates.
    uint64_t advance(uint64_t frames);

    void setRate(double r) { rate = r; }
    double getRate() const { return rate; }
    uint64_t getNow() const { return now; }
    bool isFrontFired() const { return frontFired; }
    const std::vector<QuantumEntry>& getEntries() const { return entries; }

protected:
    std::vector<QuantumEntry> entries;  // ascending by due
    double rate = 1.0;
    uint64_t now = 0;
    bool frontFired = false;  // the first entry was reported due and is re-armed by the next advance
};

}  // namespace vantor
