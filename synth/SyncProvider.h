#pragma once
// Tempo and transport as the timed modulation actions read them.

namespace ZRS {

class SyncProvider
{
public:
    virtual ~SyncProvider() = default;
    virtual float getTempo() = 0;        // internal tempo, beats per minute
    virtual float getSyncValueA() = 0;   // host tempo, beats per minute (0 when the host has none)
    virtual float getSyncValueB() = 0;   // host position in quarter notes
    virtual float getSyncValueC() = 0;   // start of the current bar in quarter notes
};

}  // namespace ZRS
