#pragma once
// The serial bus between the computer and its drives, at the level of its five open-collector
// lines. Each party holds each line released (1) or pulled low (0); the bus level is the wired
// AND of all parties. Peripherals hear every change of a bus level; the host only polls.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Base of the emulated bus devices (the bus parties, the CIAs).
class device_t {
public:
    device_t(device_t* owner, std::string tag) : owner(owner), deviceTag(std::move(tag)) {}
    virtual ~device_t() = default;
    device_t(const device_t&) = delete;
    device_t& operator=(const device_t&) = delete;

    // The eight hooks; a device overrides the ones it has a use for.
    virtual void todPulseAt(int /*level*/) {}
    virtual void deviceHook3() {}
    virtual void deviceHook4() {}
    virtual void releaseInputs() {}
    virtual void deviceHook6() {}
    virtual void reset() {}
    virtual void deviceHook8() {}
    virtual void runPending() {}

    device_t* getOwner() const { return owner; }
    const std::string& tag() const { return deviceTag; }

private:
    [[maybe_unused]] uint32_t reserved = 0;
    device_t* owner;
    std::string deviceTag;
};

// Line indices.
enum IecLine : int32_t { IEC_SRQ = 0, IEC_ATN = 1, IEC_CLK = 2, IEC_DATA = 3, IEC_RESET = 4, IEC_LINE_COUNT = 5 };

class cbm_iec_host_device;

// A peripheral on the bus; its owner is the bus host.
class cbm_iec_slot_device : public device_t {
public:
    cbm_iec_slot_device(std::string tag, cbm_iec_host_device* bus);

    uint32_t deviceNumber = 0;  // set by the peripheral (a drive sets 8)
};

// How the bus tells a peripheral about line changes; each call carries the new bus level.
class device_cbm_iec_interface {
public:
    virtual ~device_cbm_iec_interface() = default;

    virtual void srqChanged(int level) = 0;
    virtual void atnChanged(int level) = 0;
    virtual void clkChanged(int level) = 0;
    virtual void dataChanged(int level) = 0;
    virtual void resetChanged(int level) = 0;

    // Filled in by cbm_iec_host_device::addDevice.
    cbm_iec_host_device* iecBus() const { return bus; }
    device_t* iecDevice() const { return device; }

private:
    friend class cbm_iec_host_device;
    cbm_iec_host_device* bus = nullptr;
    device_t* device = nullptr;
};

// The computer's side of the bus; it owns the chain of attached peripherals.
class cbm_iec_host_device : public device_t {
public:
    struct daisy_entry {
        device_t* device;
        device_cbm_iec_interface* iface;
        uint8_t lines[IEC_LINE_COUNT];
    };

    explicit cbm_iec_host_device(std::string tag);

    // Appends the device with all its lines released; the device stays the caller's.
    void addDevice(device_t* device, device_cbm_iec_interface* iface);
    // Bus level of a line; 1 for an index outside 0-4.
    int getIecLine(int line) const;
    // Sets one party's state of a line (the host itself or a peripheral, found by its tag) and
    // tells every peripheral when the bus level changes. Peripherals may call it again from
    // inside a notice.
    void setIecLine(const device_t* device, int line, int state);
    // A reset pulse: RESET low, then released.
    void reset() override;

    // Trace lines of every setIecLine go here when set; none by default.
    void setTraceStream(FILE* stream) { trace = stream; }
    size_t deviceCount() const { return chain.size(); }

private:
    void traceBus(const char* when) const;
    void notify(size_t entry, int line, int level) const;

    std::vector<daisy_entry> chain;
    FILE* trace = nullptr;
    uint8_t lines[IEC_LINE_COUNT] = {1, 1, 1, 1, 1};
    uint32_t levelChanges[IEC_LINE_COUNT] = {};  // bus level changes per line, for nested notices
};
