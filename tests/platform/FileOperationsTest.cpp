// Standard folders, temporary names, copies, listings and the other file operations.
#include "platform/PlatformToolsDesktop.h"

#include "platform/PlatformTools.h"

#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using fixtures::ScopedEnv;
using fixtures::TempDir;
using Paths = std::set<std::string>;
using Strings = std::vector<std::string>;

TEST(TempFiles, NamesAreDistinct)
{
    const std::string temp = getTempDir();
    ASSERT_FALSE(temp.empty());
    EXPECT_NE(temp.back(), '/');
    const std::string name = makeTempFileName(".wav");
    const std::string head = temp + "/zrg";
    ASSERT_EQ(name.rfind(head, 0), 0u) << name;
    ASSERT_GT(name.size(), head.size() + 4);
    EXPECT_EQ(name.substr(name.size() - 4), ".wav");
    const std::string digits = name.substr(head.size(), name.size() - head.size() - 4);
    EXPECT_EQ(digits.find_first_not_of("0123456789"), std::string::npos) << digits;

    Paths names;
    for (int i = 0; i < 10000; ++i)
        names.insert(makeTempFileName(".tmp"));
    EXPECT_EQ(names.size(), 10000u);
}

TEST(TempFiles, WriteAccessProbe)
{
    TempDir dir;
    EXPECT_FALSE(directoryWriteAccess(""));
    EXPECT_TRUE(directoryWriteAccess(dir.path()));
    EXPECT_TRUE(fixtures::folderEntries(dir.path()).empty());
    const std::string file = dir.write("plain", "x");
    EXPECT_FALSE(directoryWriteAccess(file));
    EXPECT_FALSE(directoryWriteAccess(dir / "missing"));
    EXPECT_EQ(fixtures::folderEntries(dir.path()), Strings{"plain"});
}

TEST(StandardFolders, UnknownValuesChangeNothing)
{
    std::string out = "kept";
    EXPECT_FALSE(wrap_FindFolder(ZRC_FindFolder(3), kDomainUser, out, false));
    EXPECT_FALSE(wrap_FindFolder(kFolderApplicationSupport, ZRC_FindFolderDomain(2), out, false));
    EXPECT_FALSE(wrap_FindFolder(kFolderDesktop, kDomainLocal, out, false));
    EXPECT_EQ(out, "kept");
}

TEST(StandardFolders, FromTheEnvironment)
{
    TempDir dir;
    const std::string home = dir / "home";
    const std::string local = dir / "local";
    ScopedEnv setHome("HOME", (home + "/").c_str());
    ScopedEnv noXdg("XDG_DATA_HOME", nullptr);
    ScopedEnv setRoot("VANTOR_LOCAL_ROOT", local.c_str());

    const struct { ZRC_FindFolder folder; ZRC_FindFolderDomain domain; std::string want; } kCases[] = {
        {kFolderApplicationSupport, kDomainUser, home + "/.local/share"},
        {kFolderDesktop, kDomainUser, home + "/Desktop"},
        {kFolderLibrary, kDomainUser, home + "/Library"},
        {kFolderLibrary, kDomainLocal, local + "/Library"},
        {kFolderApplicationSupport, kDomainLocal, local + "/Library/Application Support"},
    };
    for (const auto& c : kCases) {
        std::string out;
        EXPECT_TRUE(wrap_FindFolder(c.folder, c.domain, out, false));
        EXPECT_EQ(out, c.want);
        EXPECT_FALSE(fileExists(c.want)) << "made without the create flag: " << c.want;
        EXPECT_TRUE(wrap_FindFolder(c.folder, c.domain, out, true));
        EXPECT_TRUE(std::filesystem::is_directory(c.want)) << c.want;
    }
    EXPECT_EQ(getUserPath(), home + "/.local/share");
    EXPECT_EQ(getUserDesktop(), home + "/Desktop");

    ScopedEnv xdg("XDG_DATA_HOME", (dir / "data").c_str());
    EXPECT_EQ(getUserPath(), dir / "data");
    EXPECT_EQ(setUserPathVendorProduct("Vendor", "Product"), dir / "data/Vendor/Product");
    EXPECT_TRUE(std::filesystem::is_directory(dir / "data/Vendor/Product"));

    // Under a plain file nothing can be made.
    const std::string file = dir.write("file", "x");
    ScopedEnv fileHome("HOME", file.c_str());
    std::string out = "kept";
    EXPECT_FALSE(wrap_FindFolder(kFolderLibrary, kDomainUser, out, true));
    EXPECT_EQ(out, "kept");
    ScopedEnv fileXdg("XDG_DATA_HOME", (file + "/data").c_str());
    EXPECT_EQ(setUserPathVendorProduct("Vendor", "Product"), "");
}

TEST(FileOperations, CopyFiles)
{
    TempDir dir;
    const std::string source = dir.write("source", "new bytes");
    const std::string destination = dir.write("destination", "old");
    CopyFileResult r = PCopyFile(source, destination, false);
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.errorCode, EEXIST);
    EXPECT_EQ(fixtures::readFile(destination), "old");

    ASSERT_EQ(chmod(source.c_str(), 0604), 0);
    r = PCopyFile(source, destination, true);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.errorCode, 0);
    EXPECT_EQ(fixtures::readFile(destination), "new bytes");
    struct stat st;
    ASSERT_EQ(stat(destination.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_EQ(fixtures::folderEntries(dir.path()).size(), 2u);  // no temporary left behind

    r = PCopyFile(source, dir / "fresh", false);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(fixtures::readFile(dir / "fresh"), "new bytes");

    const struct { std::string from, to; int32_t status, error; } kFailures[] = {
        {dir / "missing", dir / "x", 4, ENOENT},
        {source, dir / "no/such/folder", 4, ENOENT},
        {"", dir / "x", 2, ENOENT},         // an empty path has no second attempt
        {"", dir / "\xFF", 3, 0},           // nor is the first possible: not UTF-8
    };
    for (const auto& c : kFailures) {
        r = PCopyFile(c.from, c.to, true);
        EXPECT_EQ(r.status, c.status) << c.from << " -> " << c.to;
        EXPECT_EQ(r.errorCode, c.error) << c.from << " -> " << c.to;
    }

    // Paths that are no UTF-8 are copied by their bytes.
    const std::string latin = dir.write("caf\xE9", "latin");
    r = PCopyFile(latin, dir / "copy\xE9", false);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(fixtures::readFile(dir / "copy\xE9"), "latin");
}

TEST(FileOperations, CopyFolders)
{
    TempDir dir;
    dir.write("tree/a.txt", "a");
    dir.write("tree/sub/b.txt", "b");
    ASSERT_EQ(symlink("a.txt", (dir / "tree/link").c_str()), 0);
    EXPECT_EQ(PCopyFile(dir / "tree", dir / "copy", false).status, 0);
    EXPECT_EQ(fixtures::readFile(dir / "copy/sub/b.txt"), "b");
    struct stat st;
    ASSERT_EQ(lstat((dir / "copy/link").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));

    // Over an existing folder: the copy takes its place, the old contents go.
    dir.write("other/old.txt", "old");
    EXPECT_EQ(PCopyFile(dir / "tree", dir / "other", true).status, 0);
    EXPECT_FALSE(fileExists(dir / "other/old.txt"));
    EXPECT_EQ(fixtures::readFile(dir / "other/a.txt"), "a");
    // A file over a folder.
    EXPECT_EQ(PCopyFile(dir / "tree/a.txt", dir / "other", true).status, 0);
    EXPECT_EQ(fixtures::readFile(dir / "other"), "a");

    // A folder into itself is refused and leaves nothing.
    const CopyFileResult r = PCopyFile(dir / "tree", dir / "tree/sub/inner", false);
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.errorCode, EINVAL);
    EXPECT_FALSE(fileExists(dir / "tree/sub/inner"));
    EXPECT_EQ(fixtures::folderEntries(dir.path()).size(), 3u);  // tree, copy, other
}

TEST(FileOperations, DeleteAndRights)
{
    TempDir dir;
    dir.write("tree/sub/f", "x");
    const std::string file = dir.write("file", "x");
    EXPECT_FALSE(PDeleteFile(dir / "tree"));  // unlink takes no folder
    EXPECT_TRUE(wrap_deleteFile(dir / "tree/sub"));
    EXPECT_TRUE(PDeleteDirectory(dir / "tree"));
    EXPECT_FALSE(fileExists(dir / "tree"));
    EXPECT_FALSE(PDeleteDirectory(dir / "tree"));
    EXPECT_TRUE(PDeleteFile(file));
    EXPECT_FALSE(PDeleteFile(file));

    const std::string reference = dir.makeFolder("reference");
    ASSERT_EQ(chmod(reference.c_str(), 0751), 0);
    const std::string target = dir.write("reference/target", "x");
    ASSERT_EQ(chmod(target.c_str(), 0600), 0);
    EXPECT_TRUE(fixFilePermission(reference, "target"));
    struct stat st;
    ASSERT_EQ(stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0751u);
    EXPECT_FALSE(fixFilePermission(reference, "missing"));
    EXPECT_FALSE(fixFilePermission(dir / "missing", "target"));
}

TEST(FileOperations, CreateFolders)
{
    TempDir dir;
    dir.makeFolder("a");
    EXPECT_EQ(PCreateDir(dir / "a/b/c"), 0);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "a/b/c"));
    EXPECT_EQ(PCreateDir(dir / "a/b/c"), 0);
    EXPECT_EQ(PCreateDir("."), 0);
    const std::string file = dir.write("file", "x");
    EXPECT_EQ(PCreateDir(file + "/sub"), 2);
    EXPECT_EQ(PCreateDir(""), 2);
}

TEST(FileOperations, VolumeAndMiscellany)
{
    TempDir dir;
    std::string out = "kept";
    ASSERT_TRUE(PGetVolumeUIDForPath(dir.write("f", "x"), out, false));
    EXPECT_EQ(out.rfind("file:///", 0), 0u) << out;
    EXPECT_EQ(out.back(), '/') << out;
    std::string missing = "kept";
    EXPECT_FALSE(PGetVolumeUIDForPath(dir / "missing", missing, false));
    EXPECT_EQ(missing, "kept");

    EXPECT_EQ(localToFileSystem("/a/\xC3\xA9"), "/a/\xC3\xA9");
    EXPECT_EQ(localToFileSystem("/a/\xE9"), "/a/\xE9");
    EXPECT_EQ(getSandboxResourcePath(), "");
    EXPECT_FALSE(PGzipFile(dir / "f", dir / "f.gz"));
    EXPECT_FALSE(fileExists(dir / "f.gz"));
    EXPECT_EQ(PCalcMD5("text"), "");
    EXPECT_EQ(PCalcMD5("text", 4), "");
}

class Lister : public testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"a.txt", "b.TXT", "sub/c.txt", ".hid/d.txt"})
            dir.write(name, "x");
    }
    Paths full(std::initializer_list<const char*> names) const
    {
        Paths p;
        for (const char* n : names)
            p.insert(dir / n);
        return p;
    }
    Paths list(const std::string& pattern, const Strings& extensions, volatile int* stop = nullptr) const
    {
        Paths out;
        wrap_FileLister(dir.path(), pattern, out, extensions, stop);
        return out;
    }
    TempDir dir;
};

TEST_F(Lister, PatternsAndExtensionLists)
{
    const Paths txt = full({"a.txt", "sub/c.txt", ".hid/d.txt"});
    const Paths everything = full({"a.txt", "b.TXT", "sub", "sub/c.txt", ".hid", ".hid/d.txt"});
    EXPECT_EQ(list("*.txt", {}), txt);
    EXPECT_EQ(list("txt", {}), txt);
    EXPECT_EQ(list("", {"*.TXT"}), full({"a.txt", "b.TXT", "sub/c.txt", ".hid/d.txt"}));
    EXPECT_EQ(list("ignored", {"md", "tXt"}), full({"a.txt", "b.TXT", "sub/c.txt", ".hid/d.txt"}));
    EXPECT_EQ(list("", {"*"}), full({"a.txt", "b.TXT", "sub", "sub/c.txt"}));
    EXPECT_EQ(list("*", {}), everything);
    EXPECT_EQ(list("*.*", {}), everything);
    EXPECT_TRUE(list("*.", {}).empty());

    Paths out = {"already there"};
    wrap_FileLister(dir.path() + "/", "*.TXT", out, {}, nullptr);
    EXPECT_EQ(out, (Paths{"already there", dir / "b.TXT"}));  // no doubled "/", the set not cleared
    out.clear();
    wrap_FileLister(dir / "missing", "*", out, {}, nullptr);
    EXPECT_TRUE(out.empty());
}

TEST_F(Lister, StopFlagAndFolders)
{
    volatile int stop = 1;
    EXPECT_EQ(list("*", {}, &stop).size(), 1u);

    Paths folders;
    wrap_DirectoryLister(dir.path(), folders);
    EXPECT_EQ(folders, full({"sub", ".hid"}));
}

TEST_F(Lister, FollowsNoLinksAndSkipsLongPaths)
{
    ASSERT_EQ(symlink("sub", (dir / "link").c_str()), 0);
    // Deep enough that the innermost file's full path passes 2047 bytes.
    const std::string component(200, 'd');
    std::string deep;
    for (int i = 0; i < 11; ++i)
        deep += component + "/";
    dir.write(deep + "deep.txt", "x");
    ASSERT_GT((dir / deep).size() + 8, 2047u);

    const Paths all = list("*", {});
    EXPECT_TRUE(all.count(dir / "link"));
    EXPECT_FALSE(all.count(dir / "link/c.txt"));
    EXPECT_FALSE(all.count(dir / (deep + "deep.txt")));
    EXPECT_TRUE(all.count(dir / component));
    for (const std::string& p : all)
        EXPECT_LE(p.size(), 2047u);

    Paths folders;
    wrap_DirectoryLister(dir.path(), folders);
    EXPECT_FALSE(folders.count(dir / "link"));
}
