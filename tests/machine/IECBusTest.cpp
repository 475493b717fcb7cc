// The serial bus: wired-AND levels, change notices to the peripherals (never the host), the
// host's reset pulse, notices that set lines again, bad line numbers and tags, the trace lines.
#include "machine/IECBus.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

// A peripheral that logs every notice as "TAG line level" into a log shared with the others.
class RecordingPeripheral : public cbm_iec_slot_device, public device_cbm_iec_interface {
public:
    RecordingPeripheral(const char* tag, cbm_iec_host_device* host, std::vector<std::string>& log)
        : cbm_iec_slot_device(tag, host), log(log)
    {
    }

    // Runs inside the notice that matches, once.
    struct Action {
        std::string when;  // e.g. "data0"
        std::function<void()> run;
    };
    std::vector<Action> actions;

    void set(int line, int state) { iecBus()->setIecLine(this, line, state); }

    void srqChanged(int level) override { heard("srq", level); }
    void atnChanged(int level) override { heard("atn", level); }
    void clkChanged(int level) override { heard("clk", level); }
    void dataChanged(int level) override { heard("data", level); }
    void resetChanged(int level) override { heard("reset", level); }

private:
    void heard(const char* line, int level)
    {
        const std::string what = line + std::to_string(level);
        log.push_back(tag() + " " + what);
        for (Action& a : actions)
            if (a.run && a.when == what) {
                auto run = std::move(a.run);
                a.run = nullptr;
                run();
            }
    }

    std::vector<std::string>& log;
};

struct Bus {
    std::vector<std::string> log;
    cbm_iec_host_device host{"C64H"};
    RecordingPeripheral p1{"1541", &host, log};
    RecordingPeripheral p2{"1571", &host, log};

    Bus()
    {
        host.addDevice(&p1, &p1);
        host.addDevice(&p2, &p2);
    }
    std::vector<std::string> take() { return std::exchange(log, {}); }
};

using Log = std::vector<std::string>;

TEST(IecBus, AddDeviceWiresThePeripheral)
{
    Bus bus;
    EXPECT_EQ(bus.host.deviceCount(), 2u);
    EXPECT_EQ(bus.p1.iecBus(), &bus.host);
    EXPECT_EQ(bus.p1.iecDevice(), &bus.p1);
    EXPECT_EQ(bus.p2.getOwner(), &bus.host);
    EXPECT_EQ(bus.host.getOwner(), nullptr);
    EXPECT_EQ(bus.p1.deviceNumber, 0u);
    for (int line = 0; line < IEC_LINE_COUNT; ++line)
        EXPECT_EQ(bus.host.getIecLine(line), 1) << "line " << line;
}

TEST(IecBus, LevelIsTheWiredAndAndOnlyChangesAreTold)
{
    Bus bus;
    bus.p1.set(IEC_DATA, 0);
    bus.p2.set(IEC_DATA, 0);
    EXPECT_EQ(bus.take(), (Log{"1541 data0", "1571 data0"}));

    bus.p1.set(IEC_DATA, 1);
    EXPECT_EQ(bus.host.getIecLine(IEC_DATA), 0);
    EXPECT_TRUE(bus.take().empty());

    bus.p2.set(IEC_DATA, 1);
    EXPECT_EQ(bus.host.getIecLine(IEC_DATA), 1);
    EXPECT_EQ(bus.take(), (Log{"1541 data1", "1571 data1"}));

    bus.p1.set(IEC_DATA, 0);
    bus.p1.set(IEC_DATA, 0);
    EXPECT_EQ(bus.take(), (Log{"1541 data0", "1571 data0"}));

    bus.host.setIecLine(&bus.host, IEC_ATN, 0);
    EXPECT_EQ(bus.host.getIecLine(IEC_ATN), 0);
    EXPECT_EQ(bus.take(), (Log{"1541 atn0", "1571 atn0"}));

    // The host's own pull holds the line like any party's.
    bus.host.setIecLine(&bus.host, IEC_CLK, 0);
    bus.p2.set(IEC_CLK, 0);
    bus.host.setIecLine(&bus.host, IEC_CLK, 1);
    EXPECT_EQ(bus.host.getIecLine(IEC_CLK), 0);
    EXPECT_EQ(bus.take(), (Log{"1541 clk0", "1571 clk0"}));

    // Any non-zero state releases.
    bus.p2.set(IEC_CLK, 7);
    EXPECT_EQ(bus.host.getIecLine(IEC_CLK), 1);
    EXPECT_EQ(bus.take(), (Log{"1541 clk1", "1571 clk1"}));
}

TEST(IecBus, EachLineReachesItsOwnNotice)
{
    const char* const kNames[IEC_LINE_COUNT] = {"srq", "atn", "clk", "data", "reset"};
    for (int line = 0; line < IEC_LINE_COUNT; ++line) {
        Bus bus;
        bus.p2.set(line, 0);
        const std::string want = std::string(kNames[line]) + "0";
        EXPECT_EQ(bus.take(), (Log{"1541 " + want, "1571 " + want}));
        for (int other = 0; other < IEC_LINE_COUNT; ++other)
            EXPECT_EQ(bus.host.getIecLine(other), other == line ? 0 : 1);
    }
}

TEST(IecBus, HostResetIsAPulseEveryPeripheralSees)
{
    Bus bus;
    bus.host.reset();
    EXPECT_EQ(bus.take(), (Log{"1541 reset0", "1571 reset0", "1541 reset1", "1571 reset1"}));
    EXPECT_EQ(bus.host.getIecLine(IEC_RESET), 1);
}

TEST(IecBus, NoticesMaySetLinesAgain)
{
    Bus bus;
    bus.p1.actions.push_back({"data0", [&] { bus.p1.set(IEC_CLK, 0); }});
    bus.p2.set(IEC_DATA, 0);
    EXPECT_EQ(bus.take(), (Log{"1541 data0", "1541 clk0", "1571 clk0", "1571 data0"}));
    EXPECT_EQ(bus.host.getIecLine(IEC_CLK), 0);
}

TEST(IecBus, NoPeripheralHearsALevelThatANoticeAlreadyUndid)
{
    Bus bus;
    // 1541 answers DATA low by releasing its own hold at once: 1571 must end on the true level.
    bus.p1.actions.push_back({"data0", [&] { bus.p1.set(IEC_DATA, 1); }});
    bus.p1.set(IEC_DATA, 0);
    EXPECT_EQ(bus.take(), (Log{"1541 data0", "1541 data1", "1571 data1"}));
    EXPECT_EQ(bus.host.getIecLine(IEC_DATA), 1);
}

TEST(IecBus, BadLinesAndUnknownDevicesChangeNothing)
{
    Bus bus;
    cbm_iec_slot_device stranger{"1581", &bus.host};  // never added
    for (const int line : {-1, 5, 99, INT32_MIN}) {
        bus.p1.set(line, 0);
        bus.host.setIecLine(&bus.host, line, 0);
        EXPECT_EQ(bus.host.getIecLine(line), 1) << "line " << line;
    }
    bus.host.setIecLine(&stranger, IEC_DATA, 0);
    bus.host.setIecLine(nullptr, IEC_DATA, 0);
    bus.host.addDevice(nullptr, &bus.p1);
    EXPECT_EQ(bus.host.deviceCount(), 2u);
    for (int line = 0; line < IEC_LINE_COUNT; ++line)
        EXPECT_EQ(bus.host.getIecLine(line), 1) << "line " << line;
    EXPECT_TRUE(bus.take().empty());
}

std::string readAll(FILE* f)
{
    std::rewind(f);
    std::string text;
    char buffer[512];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
        text.append(buffer, n);
    return text;
}

TEST(IecBus, TraceWritesBeforeAndAfterAndEachPartyChange)
{
    Bus bus;
    FILE* trace = std::tmpfile();
    ASSERT_NE(trace, nullptr);
    bus.host.setTraceStream(trace);
    bus.host.setIecLine(&bus.host, IEC_ATN, 0);
    bus.p1.set(IEC_DATA, 0);
    bus.p1.set(IEC_DATA, 0);  // no change: only the bus lines
    bus.p2.set(IEC_SRQ, 0);
    EXPECT_EQ(readAll(trace),
              ";--- *FINAL*  IEC BUS ATN (IEC_FALSE) CLK (IEC_FALSE) DATA(IEC_FALSE) *BEFORE*\n"
              ";--- CBM THIS  'C64H' ATN (IEC_TRUE )\n"
              ";--- *FINAL*  IEC BUS ATN (IEC_TRUE ) CLK (IEC_FALSE) DATA(IEC_FALSE) *AFTER*\n"
              ";--- *FINAL*  IEC BUS ATN (IEC_TRUE ) CLK (IEC_FALSE) DATA(IEC_FALSE) *BEFORE*\n"
              ";--- CBM OTHER '1541' DATA(IEC_TRUE )\n"
              ";--- *FINAL*  IEC BUS ATN (IEC_TRUE ) CLK (IEC_FALSE) DATA(IEC_TRUE ) *AFTER*\n"
              ";--- *FINAL*  IEC BUS ATN (IEC_TRUE ) CLK (IEC_FALSE) DATA(IEC_TRUE ) *BEFORE*\n"
              ";--- *FINAL*  IEC BUS ATN (IEC_TRUE ) CLK (IEC_FALSE) DATA(IEC_TRUE ) *AFTER*\n"
              ";--- *FINAL*  IEC BUS ATN (IEC_TRUE ) CLK (IEC_FALSE) DATA(IEC_TRUE ) *BEFORE*\n"
              ";--- CBM OTHER '1571' SRQ (IEC_TRUE )\n"
              ";--- *FINAL*  IEC BUS ATN (IEC_TRUE ) CLK (IEC_FALSE) DATA(IEC_TRUE ) *AFTER*\n");
    bus.host.setTraceStream(nullptr);
    std::fclose(trace);
}

}  // namespace
