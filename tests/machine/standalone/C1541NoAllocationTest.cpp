// The drive runs inside the audio render: once built and given its disk, serving a file, the
// directory (twice, so that a listing is replaced), the status and a name that matches nothing
// allocates nothing. Every allocation of the process is counted around the transfers.
#include "../DriveRig.h"

#include "fixtures/AllocationCounter.h"

#include <gtest/gtest.h>

TEST(C1541NoAllocation, LoadsAfterSetDisk)
{
    const drive_rig::Bytes image = drive_rig::standardImage();
    drive_rig::Rig rig(&image);
    fixtures::IecBusMaster::Received r;
    r.bytes.reserve(4096);

    const long before = fixtures::allocationCount();
    rig.master.load("HELLO", r);
    const size_t helloSize = r.bytes.size();
    rig.master.load("$", r);
    rig.master.load("$", r);
    const size_t listingSize = r.bytes.size();
    rig.master.talk(8, 15, r);
    const size_t statusSize = r.bytes.size();
    rig.master.load(std::string_view("ANY NAME OF A GOOD LENGTH, NOT ON THE DISK"), r);
    const long allocations = fixtures::allocationCount() - before;

    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(helloSize, 600u);
    EXPECT_EQ(listingSize, 64u + 32u * 4);
    EXPECT_EQ(statusSize, 4u);
    EXPECT_TRUE(r.timedOut);
}
