// Neither the CIA's stepping nor the bus's line changes allocate: every allocation of the
// process is counted around them.
#include "machine/CIA6526.h"
#include "machine/IECBus.h"

#include "fixtures/AllocationCounter.h"

#include <gtest/gtest.h>

namespace {

class CountingListener : public CIAListener {
public:
    uint64_t calls = 0;
    uint8_t readCiaPort(mos6526_new*, int) override { return 0xFF; }
    void writeCiaPort(mos6526_new*, int, uint8_t) override { ++calls; }
    uint8_t readCiaPortB(mos6526_new*, int) override { return 0xFF; }
    void ciaIrq(mos6526_new*, bool) override { ++calls; }
    void ciaHook8(mos6526_new*, bool) override { ++calls; }
};

class Peripheral : public cbm_iec_slot_device, public device_cbm_iec_interface {
public:
    explicit Peripheral(cbm_iec_host_device* host) : cbm_iec_slot_device("1541", host) {}
    uint64_t notices = 0;
    void srqChanged(int) override { ++notices; }
    void atnChanged(int) override
    {
        ++notices;
        iecBus()->setIecLine(this, IEC_DATA, 0);  // answers from inside the notice
    }
    void clkChanged(int) override { ++notices; }
    void dataChanged(int) override { ++notices; }
    void resetChanged(int) override { ++notices; }
};

TEST(CiaIecNoAllocation, StepRunAndSetIecLine)
{
    CountingListener listener;
    mos6526_new cia(&listener, "CIA1");
    cbm_iec_host_device host("C64H");
    Peripheral drive(&host);
    host.addDevice(&drive, &drive);

    const long before = fixtures::allocationCount();
    cia.writeRegister(4, 3);
    cia.writeRegister(5, 0);
    cia.writeRegister(6, 2);
    cia.writeRegister(7, 0);
    cia.writeRegister(13, 0x8B);
    cia.writeRegister(14, 0x51);
    cia.writeRegister(15, 0x41);
    for (int i = 0; i < 10000; ++i) {
        cia.step();
        if (i % 97 == 0) {
            cia.writeRegister(12, uint8_t(i));
            cia.readRegister(13);
        }
    }
    cia.run(1000000);
    cia.todPulse(true);
    for (int i = 0; i < 1000; ++i) {
        host.setIecLine(&host, IEC_ATN, i & 1);
        host.setIecLine(&drive, IEC_DATA, 1);
        host.setIecLine(&drive, IEC_CLK, i & 1);
    }
    host.reset();
    EXPECT_EQ(fixtures::allocationCount(), before);
    EXPECT_GT(listener.calls, 10u);
    EXPECT_GT(drive.notices, 2000u);
}

}  // namespace
