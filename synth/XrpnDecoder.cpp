#include "synth/XrpnDecoder.h"

namespace ZRS {

namespace {

constexpr uint8_t kDataEntryMsb = 6;
constexpr uint8_t kDataEntryLsb = 38;
constexpr uint8_t kNrpnLsb = 98;
constexpr uint8_t kNrpnMsb = 99;
constexpr uint8_t kRpnLsb = 100;
constexpr uint8_t kRpnMsb = 101;
constexpr uint8_t kResetAllControllers = 121;
constexpr uint8_t kRpn = 1;
constexpr uint8_t kNrpn = 0;

}  // namespace

void XrpnDecoder::reset()
{
    for (XrpnChannelState& s : channels)
        s = XrpnChannelState{};
}

void XrpnDecoder::deliver(uint8_t channel, XrpnChannelState& s)
{
    const uint16_t parameter = uint16_t((s.paramMsb << 7) | s.paramLsb);
    const uint8_t msb = s.dataMsb, lsb = s.dataLsb, kind = s.kind;
    s = XrpnChannelState{};
    if (kind == kRpn)
        listener.rpnReceived(channel, parameter, msb, lsb);
    else
        listener.nrpnReceived(channel, parameter, msb, lsb);
}

// A parameter stays selected only until its first data entry; any controller a state does not
// expect resets the channel and is not taken as a new selection.
void XrpnDecoder::handleController(uint8_t channel, uint8_t controller, uint8_t value)
{
    channel &= 15;
    value &= 127;
    XrpnChannelState& s = channels[channel];
    switch (s.state) {
    case XrpnChannelState::kIdle:
        switch (controller) {
        case kNrpnLsb: s.paramLsb = value; s.state = XrpnChannelState::kNrpnLsbHeld; break;
        case kNrpnMsb: s.paramMsb = value; s.state = XrpnChannelState::kNrpnMsbHeld; break;
        case kRpnLsb: s.paramLsb = value; s.state = XrpnChannelState::kRpnLsbHeld; break;
        case kRpnMsb: s.paramMsb = value; s.state = XrpnChannelState::kRpnMsbHeld; break;
        case kResetAllControllers: s = XrpnChannelState{}; break;
        default: break;
        }
        return;
    case XrpnChannelState::kRpnMsbHeld:
        if (controller == kRpnLsb) {
            s.paramLsb = value;
            s.kind = kRpn;
            s.state = XrpnChannelState::kSelected;
            return;
        }
        break;
    case XrpnChannelState::kRpnLsbHeld:
        if (controller == kRpnMsb) {
            s.paramMsb = value;
            s.kind = kRpn;
            s.state = XrpnChannelState::kSelected;
            return;
        }
        break;
    case XrpnChannelState::kNrpnMsbHeld:
        if (controller == kNrpnLsb) {
            s.paramLsb = value;
            s.kind = kNrpn;
            s.state = XrpnChannelState::kSelected;
            return;
        }
        break;
    case XrpnChannelState::kNrpnLsbHeld:
        if (controller == kNrpnMsb) {
            s.paramMsb = value;
            s.kind = kNrpn;
            s.state = XrpnChannelState::kSelected;
            return;
        }
        break;
    case XrpnChannelState::kSelected:
        if (controller == kDataEntryMsb) {
            s.dataMsb = value;
            s.state = XrpnChannelState::kDataMsbHeld;
            return;
        }
        if (controller == kDataEntryLsb) {
            s.dataLsb = value;
            s.state = XrpnChannelState::kDataLsbHeld;
            return;
        }
        break;
    case XrpnChannelState::kDataMsbHeld:
        if (controller == kDataEntryLsb)
            s.dataLsb = value;
        deliver(channel, s);
        return;
    case XrpnChannelState::kDataLsbHeld:
        if (controller == kDataEntryMsb)
            s.dataMsb = value;
        deliver(channel, s);
        return;
    default:
        break;
    }
    s = XrpnChannelState{};
}

}  // namespace ZRS
