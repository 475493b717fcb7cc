#pragma once
// Registered and non-registered parameter numbers decoded from the control changes of the 16
// MIDI channels: a selection (101/100 or 99/98, either order) and one data entry (6 and/or 38).

#include <cstddef>
#include <cstdint>

namespace ZRS {

class XRPNListener
{
public:
    virtual ~XRPNListener() = default;
    // parameter = (msb << 7) | lsb of the selection.
    virtual void rpnReceived(uint8_t channel, uint16_t parameter, uint8_t dataMsb,
                             uint8_t dataLsb) = 0;
    virtual void nrpnReceived(uint8_t /*channel*/, uint16_t /*parameter*/, uint8_t /*dataMsb*/,
                              uint8_t /*dataLsb*/)
    {
    }
};

struct XrpnChannelState
{
    enum State : uint8_t {
        kIdle = 0,
        kRpnMsbHeld = 1,
        kRpnLsbHeld = 2,
        kNrpnMsbHeld = 3,
        kNrpnLsbHeld = 4,
        kSelected = 5,
        kDataMsbHeld = 6,
        kDataLsbHeld = 7,
    };

    uint8_t paramMsb = 127;
    uint8_t paramLsb = 127;
    uint8_t dataMsb = 0;
    uint8_t dataLsb = 0;
    uint8_t state = kIdle;
    uint8_t kind = 0;  // 1 RPN, 0 NRPN
};

class XrpnDecoder
{
public:
    static constexpr size_t kChannels = 16;

    explicit XrpnDecoder(XRPNListener& target) : listener(target) {}

    // One control change; the caller still uses it as a control change afterwards.
    void handleController(uint8_t channel, uint8_t controller, uint8_t value);
    void reset();

    const XrpnChannelState& channel(size_t c) const { return channels[c & 15]; }

private:
    void deliver(uint8_t channel, XrpnChannelState& s);

    XRPNListener& listener;
    XrpnChannelState channels[kChannels];
};

}  // namespace ZRS
