// The temporary copies of in-memory zips, counted in a temporary folder of this process's own
// (the folder is fixed at first use, so it is set before main).
#include "support/MetaContainer.h"

#include "platform/PlatformTools.h"
#include "platform/PlatformToolsDesktop.h"

#include "fixtures/ArchiveWriters.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using fixtures::Bytes;
using vantor::MetaContainer;

namespace {

struct PrivateTempFolder {
    PrivateTempFolder()
    {
        const char* tmp = getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/vantor-metacontainer-XXXXXX";
        if (mkdtemp(pattern.data())) {
            path = pattern;
            setenv("TMPDIR", path.c_str(), 1);
        }
    }
    ~PrivateTempFolder()
    {
        std::error_code ec;
        if (!path.empty())
            std::filesystem::remove_all(path, ec);
    }
    std::string path;
} g_folder;

std::vector<std::string> deletemeFiles()
{
    std::vector<std::string> found;
    for (const std::string& name : fixtures::folderEntries(g_folder.path))
        if (getFileExtension(name) == "deleteme")
            found.push_back(g_folder.path + "/" + name);
    return found;
}

bool isTemporaryName(const std::string& path)
{
    const std::string name = getFileFromPath(path);
    const std::string suffix = ".deleteme";
    if (name.size() <= 3 + suffix.size() || name.rfind("zrg", 0) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
        return false;
    return name.find_first_not_of("0123456789", 3) == name.size() - suffix.size();  // zrg<digits>.deleteme
}

const Bytes kZip = fixtures::makeZip({{"a.sid", "aaaa"}, {"b.sid", "bbbb"}});

}  // namespace

TEST(MetaContainerTempFile, FolderIsThisProcesssOwn)
{
    ASSERT_FALSE(g_folder.path.empty());
    EXPECT_EQ(getTempDir(), g_folder.path);
}

TEST(MetaContainerTempFile, CopyExistsWhileTheContainerLives)
{
    {
        MetaContainer c(kZip.data(), kZip.size());
        ASSERT_TRUE(c.scan());
        const std::vector<std::string> files = deletemeFiles();
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(files[0], c.path());
        EXPECT_TRUE(isTemporaryName(files[0])) << files[0];

        ASSERT_TRUE(c.scan());  // the earlier copy goes first
        EXPECT_EQ(deletemeFiles(), std::vector<std::string>{c.path()});
    }
    EXPECT_TRUE(deletemeFiles().empty());
}

TEST(MetaContainerTempFile, FailedScanRemovesItsCopyAtOnce)
{
    Bytes garbage = kZip;
    const size_t end = fixtures::zipEnd(garbage).record;
    const size_t directory = fixtures::little32(garbage, end + fixtures::ZipEnd::kDirectoryOffset);
    std::fill(garbage.begin() + std::ptrdiff_t(directory), garbage.begin() + std::ptrdiff_t(end), 0x55);
    MetaContainer c(garbage.data(), garbage.size());
    EXPECT_FALSE(c.scan());
    EXPECT_TRUE(c.path().empty());
    EXPECT_TRUE(deletemeFiles().empty());

    for (size_t n = 5; n < kZip.size(); ++n) {
        MetaContainer cut(kZip.data(), n);
        if (!cut.scan()) {
            EXPECT_TRUE(deletemeFiles().empty()) << "prefix " << n;
        }
    }
    EXPECT_TRUE(deletemeFiles().empty());
}

TEST(MetaContainerTempFile, OtherFormatsMakeNoCopy)
{
    const Bytes gz = fixtures::makeGzip("data");
    const Bytes sevenZip = fixtures::make7z({{"a", "data"}});
    MetaContainer g(gz.data(), gz.size());
    MetaContainer s(sevenZip.data(), sevenZip.size());
    ASSERT_TRUE(g.scan());
    ASSERT_TRUE(s.scan());
    EXPECT_TRUE(deletemeFiles().empty());
    EXPECT_TRUE(g.path().empty());
}
