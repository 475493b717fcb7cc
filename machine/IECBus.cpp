#include "machine/IECBus.h"

namespace {

constexpr const char* kLineNames[IEC_LINE_COUNT] = {"SRQ ", "ATN ", "CLK ", "DATA", "RSET"};

// The bus calls a pulled line "true".
const char* stateWord(int state) { return state ? "IEC_FALSE" : "IEC_TRUE "; }

bool validLine(int line) { return line >= 0 && line < IEC_LINE_COUNT; }

}  // namespace

cbm_iec_slot_device::cbm_iec_slot_device(std::string tag, cbm_iec_host_device* bus)
    : device_t(bus, std::move(tag))
{
}

cbm_iec_host_device::cbm_iec_host_device(std::string tag) : device_t(nullptr, std::move(tag)) {}

void cbm_iec_host_device::addDevice(device_t* device, device_cbm_iec_interface* iface)
{
    if (!device || !iface)
        return;
    chain.push_back({device, iface, {1, 1, 1, 1, 1}});
    iface->bus = this;
    iface->device = device;
}

int cbm_iec_host_device::getIecLine(int line) const
{
    if (!validLine(line))
        return 1;
    if (!lines[line])
        return 0;
    for (const daisy_entry& e : chain)
        if (!e.lines[line])
            return 0;
    return 1;
}

void cbm_iec_host_device::setIecLine(const device_t* device, int line, int state)
{
    if (!device || !validLine(line))
        return;
    const uint8_t s = state ? 1 : 0;
    traceBus("*BEFORE*");
    const int before = getIecLine(line);
    if (device == this) {
        if (lines[line] != s) {
            if (trace) {
                std::fprintf(trace, ";--- CBM THIS  '%s' %s(%s)\n", tag().c_str(), kLineNames[line], stateWord(s));
                std::fflush(trace);
            }
            lines[line] = s;
        }
    } else {
        // Indices, not iterators: a notice may attach another device.
        for (size_t i = 0; i < chain.size(); ++i) {
            daisy_entry& e = chain[i];
            if (e.lines[line] == s || e.device->tag() != device->tag())
                continue;
            if (trace) {
                std::fprintf(trace, ";--- CBM OTHER '%s' %s(%s)\n", e.device->tag().c_str(), kLineNames[line],
                             stateWord(s));
                std::fflush(trace);
            }
            e.lines[line] = s;
        }
    }
    const int after = getIecLine(line);
    if (after != before) {
        const uint32_t change = ++levelChanges[line];
        for (size_t i = 0; i < chain.size(); ++i) {
            // A peripheral that changed this line again from inside its notice has already told
            // everyone the newer level; the rest must not hear this stale one after it.
            if (levelChanges[line] != change)
                break;
            notify(i, line, after);
        }
    }
    traceBus("*AFTER*");
}

void cbm_iec_host_device::reset()
{
    setIecLine(this, IEC_RESET, 0);
    setIecLine(this, IEC_RESET, 1);
}

void cbm_iec_host_device::traceBus(const char* when) const
{
    if (!trace)
        return;
    std::fprintf(trace, ";--- *FINAL*  IEC BUS ATN (%s) CLK (%s) DATA(%s) %s\n", stateWord(getIecLine(IEC_ATN)),
                 stateWord(getIecLine(IEC_CLK)), stateWord(getIecLine(IEC_DATA)), when);
    std::fflush(trace);
}

void cbm_iec_host_device::notify(size_t entry, int line, int level) const
{
    device_cbm_iec_interface* iface = chain[entry].iface;
    switch (line) {
    case IEC_SRQ: iface->srqChanged(level); break;
    case IEC_ATN: iface->atnChanged(level); break;
    case IEC_CLK: iface->clkChanged(level); break;
    case IEC_DATA: iface->dataChanged(level); break;
    case IEC_RESET: iface->resetChanged(level); break;
    default: break;
    }
}
