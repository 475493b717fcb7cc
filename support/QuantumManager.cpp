#include "support/QuantumManager.h"

#include <algorithm>

namespace vantor {

uint64_t QuantumTimer::quantumElapsed(QuantumTimer*, uint64_t, double)
{
    return kNever;
}

QuantumManager::QuantumManager(size_t reserveCount)
{
    entries.reserve(reserveCount);
}

bool QuantumManager::addTimer(QuantumTimer* timer, uint64_t argument)
{
    frontFired = false;
    const uint64_t due = now + timer->quantumElapsed(timer, argument, rate);
    auto it = std::find_if(entries.begin(), entries.end(),
                           [due](const QuantumEntry& e) { return e.due > due; });
    entries.insert(it, QuantumEntry{due, timer, argument});
    return true;
}

uint64_t QuantumManager::cancel(QuantumTimer* timer)
{
    auto it = std::find_if(entries.begin(), entries.end(),
                           [timer](const QuantumEntry& e) { return e.timer == timer; });
    if (it == entries.end())
        return 0;
    const uint64_t left = it->due - now;
    entries.erase(it);
    frontFired = false;
    return left;
}

void QuantumManager::reschedule(QuantumTimer* timer, uint64_t delay)
{
    bool any = false;
    for (QuantumEntry& e : entries)
        if (e.timer == timer) {
            e.due = now + delay;
            any = true;
        }
    if (any)
        sortTimers();
}

void QuantumManager::rescheduleCookie(uint64_t argument, uint64_t delay)
{
    bool any = false;
    for (QuantumEntry& e : entries)
        if (e.argument == argument) {
            e.due = now + delay;
            any = true;
        }
    if (any)
        sortTimers();
}

void QuantumManager::sortTimers()
{
    std::sort(entries.begin(), entries.end(),
              [](const QuantumEntry& a, const QuantumEntry& b) { return a.due < b.due; });
}

void QuantumManager::rebase()
{
    // An overdue entry stays due now rather than wrapping to the far future.
    for (QuantumEntry& e : entries)
        e.due = e.due > now ? e.due - now : 0;
    now = 0;
    frontFired = false;
}

uint64_t QuantumManager::advance(uint64_t frames)
{
    if (entries.empty()) {
        now += frames;
        frontFired = false;
        return frames;
    }
    if (frontFired) {
        // Remove before re-adding, so the array never grows here.
        const QuantumEntry fired = entries.front();
        entries.erase(entries.begin());
        addTimer(fired.timer, fired.argument);
    }
    const uint64_t target = std::max(entries.front().due, now);
    if (frames >= target - now) {
        const uint64_t run = target - now;
        now = target;
        frontFired = true;
        return run;
    }
    now += frames;
    frontFired = false;
    return frames;
}

}  // namespace vantor
