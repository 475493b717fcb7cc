#include "support/MappedFile.h"

#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A sparse file of the given length (no disk blocks are written).
std::string sparseFile(const fixtures::TempDir& dir, const std::string& name, uint64_t length)
{
    const std::string path = dir / name;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(ftruncate(fd, off_t(length)), 0);
    close(fd);
    return path;
}

}  // namespace

TEST(MappedFile, MapsWholeFiles)
{
    fixtures::TempDir dir;
    const std::string path = dir.write("f.bin", "mapped bytes");
    const size_t descriptors = fixtures::openDescriptorCount();
    const size_t entries = MappedFileRegistry::instance().size();

    uint64_t length1 = 0, length2 = 0;
    const uint8_t* first = mapFileReadOnly(path, length1);
    const uint8_t* second = mapFileReadOnly(path, length2);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(length1, 12u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(first), length1), "mapped bytes");
    EXPECT_EQ(MappedFileRegistry::instance().size(), entries + 2);
    EXPECT_EQ(fixtures::openDescriptorCount(), descriptors + 2);

    unmapFile(first + 1);  // not a start address: ignored
    unmapFile(nullptr);
    EXPECT_EQ(MappedFileRegistry::instance().size(), entries + 2);

    unmapFile(first);
    EXPECT_FALSE(MappedFileRegistry::instance().contains(first));
    EXPECT_TRUE(MappedFileRegistry::instance().contains(second));
    EXPECT_EQ(second[0], 'm');  // the other mapping is still there
    unmapFile(first);           // a second release of the same address does nothing
    unmapFile(second);
    EXPECT_EQ(MappedFileRegistry::instance().size(), entries);
    EXPECT_EQ(fixtures::openDescriptorCount(), descriptors);
}

TEST(MappedFile, RefusedFilesLeaveNothingOpen)
{
    fixtures::TempDir dir;
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    const std::string kPaths[] = {dir.write("empty", ""), sparseFile(dir, "huge", kMaxMappedFileLength + 1),
                                  dir / "missing", dir.path(), dir / "fifo"};
    const size_t descriptors = fixtures::openDescriptorCount();
    for (const std::string& path : kPaths) {
        uint64_t length = 99;
        EXPECT_EQ(mapFileReadOnly(path, length), nullptr) << path;
        EXPECT_EQ(length, 0u);
    }
    EXPECT_EQ(fixtures::openDescriptorCount(), descriptors);
}

TEST(MappedFile, LargestFileIsAccepted)
{
    fixtures::TempDir dir;
    const std::string path = sparseFile(dir, "largest", kMaxMappedFileLength);
    uint64_t length = 0;
    const uint8_t* data = mapFileReadOnly(path, length);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(length, 4294967294u);
    EXPECT_EQ(data[length - 1], 0);
    unmapFile(data);
}
