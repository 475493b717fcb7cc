#pragma once
// The drive alone on a bus with the test master: a D64 built by the test builder (a SEQ file
// first, then "HELLO" of 600 bytes, "A" of 1 byte and "AB" of 2), the host, the drive stepped one
// cycle at a time.

#include "fixtures/c64/D64Builder.h"
#include "fixtures/c64/IecBusMaster.h"
#include "machine/C1541.h"
#include "machine/DiskImages.h"
#include "support/VirtualFile.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace drive_rig {

using Bytes = std::vector<uint8_t>;

// Distinct bytes, so that a shifted or repeated byte shows.
inline Bytes pattern(size_t n, uint8_t seed)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t(seed + i * 7 + (i >> 8) * 3);
    return b;
}

inline const Bytes& helloBytes()
{
    static const Bytes b = [] {
        Bytes p = pattern(600, 0x11);
        p[0] = 0x00;  // load address $C000
        p[1] = 0xC0;
        return p;
    }();
    return b;
}
inline const Bytes& seqBytes()
{
    static const Bytes b = pattern(40, 0x5A);
    return b;
}
inline const Bytes kA = {0xA5};
inline const Bytes kAB = {0x3C, 0xC3};

// Reads an image through the disk classes, as the tune reader does.
inline std::unique_ptr<D64File> openD64(const Bytes& image)
{
    vantor::VirtualRAMFile source(image.data(), image.size());
    auto disk = std::make_unique<D64File>(&source);
    EXPECT_TRUE(disk->scan());
    return disk;
}

inline Bytes standardImage()
{
    fixtures::D64Builder builder;
    builder.name("TEST DISK").id('I', 'D');
    builder.addFile("NOTES", seqBytes(), 0x81);
    builder.addFile("HELLO", helloBytes());
    builder.addFile("A", kA);
    builder.addFile("AB", kAB);
    return builder.image();
}

inline Bytes emptyImage() { return fixtures::D64Builder().image(); }

struct Rig
{
    std::unique_ptr<D64File> disk;
    cbm_iec_host_device host{"C64H"};
    C1541 drive{"1541", &host};
    fixtures::IecBusMaster master{host, [this] { drive.tick(1); }};

    // Without an image the drive has no disk.
    explicit Rig(const Bytes* image = nullptr)
    {
        if (image)
            disk = openD64(*image);
        drive.setDisk(disk.get());
        host.addDevice(&drive, &drive);
    }

    // The drive rests: back in state 0 with no timer, and it moves no line for a while.
    void expectIdle(const char* what)
    {
        EXPECT_EQ(drive.currentState(), C1541::cSTATE_IDLE) << what;
        EXPECT_FALSE(drive.timerPending()) << what;
        std::vector<fixtures::IecBusMaster::Edge> edges;
        master.setEdgeLog(&edges);
        master.idle(5000);
        master.setEdgeLog(nullptr);
        EXPECT_TRUE(edges.empty()) << what;
    }
};

}  // namespace drive_rig
