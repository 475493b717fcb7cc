// Paths, file information and whole-file reading and writing.
#include "platform/PlatformTools.h"

#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <ctime>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using Strings = std::vector<std::string>;
using fixtures::TempDir;

TEST(Paths, TextHelpers)
{
    const struct { std::string path, extension, stripped; } kExtensions[] = {
        {"archive.tar.gz", "gz", "archive.tar"}, {"a.B", "B", "a"},     {"abc", "", "abc"},
        {"abc.", "", "abc"},                     {"dir.d/file", "d/file", "dir"},
        {".profile", "profile", ""},             {"", "", ""},
    };
    for (const auto& c : kExtensions) {
        EXPECT_EQ(getFileExtension(c.path), c.extension) << c.path;
        EXPECT_EQ(stripFileExtension(c.path), c.stripped) << c.path;
    }
    const struct { std::string path, file, folder; } kSplits[] = {
        {"C:\\dir/sub\\f.txt", "f.txt", "C:\\dir/sub"}, {"dir/", "", "dir"}, {"abc", "abc", "."},
        {"/file", "file", ""}, {"a/b\\c", "c", "a/b"}, {"", "", ""},
    };
    for (const auto& c : kSplits) {
        EXPECT_EQ(getFileFromPath(c.path), c.file) << c.path;
        EXPECT_EQ(getPathFromFile(c.path), c.folder) << c.path;
    }
    EXPECT_TRUE(pathIsRelative(""));
    EXPECT_FALSE(pathIsRelative("/x"));
    EXPECT_TRUE(pathIsRelative("\\x"));
    EXPECT_TRUE(pathIsRelative("x/y"));

    std::string name = "a b:c?.txt";
    cleanPathName(name);
    EXPECT_EQ(name, "a_b_c_.txt");
    name = "\\/*?><|: x";
    cleanPathName(name);
    EXPECT_EQ(name, "_________x");
    name = std::string("ab\0c d", 6);
    cleanPathName(name);
    EXPECT_EQ(name, "ab");

    std::string posix;
    PToPosix("a\\b\\c", posix);
    EXPECT_EQ(posix, "a/b/c");
    PToPosix(std::string("\\x"), posix);
    EXPECT_EQ(posix, "/x");
    std::wstring wide;
    PToPosix(std::wstring(L"a\\b"), wide);
    EXPECT_EQ(wide, L"a/b");
}

TEST(Paths, FileInformation)
{
    TempDir dir;
    const std::string file = dir.write("f.bin", "12345");
    EXPECT_EQ(fileSize(file), 5);
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(fileDate(file), int64_t(st.st_mtime));
    EXPECT_TRUE(fileExists(file, false));
    EXPECT_TRUE(fileExists(dir.path(), true));
    EXPECT_TRUE(directoryExists(file));  // any item counts
    EXPECT_FALSE(fileExists(dir / "missing"));

    const std::string missing = dir / "missing";
    EXPECT_EQ(fileSize(missing), 0);
    EXPECT_EQ(fileDate(missing), 0);
    const time_t zero = 0;
    std::string epoch = ctime(&zero);
    epoch.pop_back();
    EXPECT_EQ(getFileTimeDetails(missing), "mtime : " + epoch);
    const time_t mtime = st.st_mtime;
    std::string stamp = ctime(&mtime);
    stamp.pop_back();
    EXPECT_EQ(getFileTimeDetails(file), "mtime : " + stamp);
}

TEST(WholeFile, LineBreaksAlike)
{
    TempDir dir;
    const struct { std::string bytes; Strings lines; } kCases[] = {
        {"a\n\nb", {"a", "", "b"}},   {"a\r\n\r\nb", {"a", "", "b"}}, {"a\r\rb", {"a", "", "b"}},
        {"a\n", {"a"}},               {"a\r", {"a"}},                 {"a\r\n", {"a"}},
        {"a\n\n", {"a", ""}},         {"a\r\r", {"a", ""}},           {"a\r\n\r\n", {"a", ""}},
        {"", {}},                     {std::string("z\0\xFF", 3), {std::string("z\0\xFF", 3)}},
    };
    for (const auto& c : kCases) {
        const std::string path = dir.write("t.txt", c.bytes);
        Strings lines = {"kept"};
        ASSERT_TRUE(textInternalize(path, lines));
        Strings want = {"kept"};
        want.insert(want.end(), c.lines.begin(), c.lines.end());
        EXPECT_EQ(lines, want) << testing::PrintToString(c.bytes);

        std::string text = "kept|";
        ASSERT_TRUE(textInternalize(path, text));
        std::string joined = "kept|";
        for (const std::string& l : c.lines)
            joined += l + "\n";
        EXPECT_EQ(text, joined) << testing::PrintToString(c.bytes);
    }

    std::istringstream in("x\r\ny\rz");
    std::string line;
    Strings got;
    while (getLine(in, line))
        got.push_back(line);
    EXPECT_EQ(got, (Strings{"x", "y", "z"}));
}

TEST(WholeFile, ReadersRefuseWhatIsNoRegularFile)
{
    TempDir dir;
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    const std::string kPaths[] = {dir / "missing", dir.path(), dir / "fifo", ""};
    for (const std::string& path : kPaths) {
        Strings lines = {"kept"};
        std::string text = "kept";
        std::vector<uint8_t> data = {1, 2};
        std::map<std::string, std::string> map = {{"k", "v"}};
        EXPECT_FALSE(textInternalize(path, lines)) << path;
        EXPECT_FALSE(textInternalize(path, text)) << path;
        EXPECT_FALSE(binFileInternalize(path, data)) << path;
        EXPECT_FALSE(createStringMap(path, map, '=', true)) << path;
        EXPECT_EQ(lines, Strings{"kept"});
        EXPECT_EQ(text, "kept");
        EXPECT_EQ(data, (std::vector<uint8_t>{1, 2}));
        EXPECT_EQ(map.size(), 1u);
        uint64_t length = 99, spare = 4;
        EXPECT_EQ(binFileInternalize(path, length, spare), nullptr) << path;
        EXPECT_EQ(length, 0u);
    }
}

TEST(WholeFile, SplitInMemory)
{
    const struct { std::string text; bool skipEmpty; Strings lines; bool result; } kCases[] = {
        {"a\rb", false, {"a", "b"}, true},
        {"a\r\rb", false, {"a", "", "b"}, true},
        {"a\r\rb", true, {"a", "b"}, true},
        {"a\r\n\nb", false, {"a", "", "b"}, true},
        {"a\n", false, {"a"}, true},
        {"", false, {}, true},
        {"\n", true, {}, false},
        {"\n", false, {""}, true},
        {std::string("ab\0", 3), false, {"ab"}, true},
        {std::string("a\0b", 3), false, {std::string("a\0b", 3)}, true},
    };
    for (const auto& c : kCases) {
        Strings lines = {"old"};
        EXPECT_EQ(textInternalizeRAM(c.text, lines, c.skipEmpty), c.result) << testing::PrintToString(c.text);
        EXPECT_EQ(lines, c.lines) << testing::PrintToString(c.text);
    }
}

TEST(WholeFile, RawBytes)
{
    TempDir dir;
    const struct { size_t fileLength; uint64_t spareIn, bufferSize; } kCases[] = {
        {5, 1, 16}, {16, 0, 16}, {16, 1, 32}, {0, 0, 0}, {0, 3, 16}, {17, 15, 32},
    };
    for (const auto& c : kCases) {
        std::string content;
        for (size_t i = 0; i < c.fileLength; ++i)
            content += char('a' + i % 26);
        const std::string path = dir.write("raw.bin", content);
        uint64_t length = 0, spare = c.spareIn;
        uint8_t* buffer = binFileInternalize(path, length, spare);
        ASSERT_NE(buffer, nullptr);
        EXPECT_EQ(length, c.fileLength);
        EXPECT_EQ(spare, c.bufferSize - c.fileLength);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), length), content);
        for (uint64_t i = length; i < c.bufferSize; ++i)
            EXPECT_EQ(buffer[i], 0) << i;
        binFileFree(buffer);

        std::vector<uint8_t> data = {9};
        EXPECT_TRUE(binFileInternalize(path, data));
        EXPECT_EQ(std::string(data.begin(), data.end()), content);
    }
    binFileFree(nullptr);
    uint8_t* raw = binFileAlloc(7);
    ASSERT_NE(raw, nullptr);
    binFileFree(raw);
}

TEST(WholeFile, Write)
{
    TempDir dir;
    const std::string path = dir / "out.bin";
    EXPECT_TRUE(binFileExternalize(path, nullptr, 0));
    EXPECT_TRUE(fileExists(path));
    EXPECT_EQ(fileSize(path), 0);

    // Replacing a file keeps its mode and leaves nothing else in the folder.
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    EXPECT_TRUE(binFileExternalize(path, "new bytes", 9));
    EXPECT_EQ(fixtures::readFile(path), "new bytes");
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(fixtures::folderEntries(dir.path()), Strings{"out.bin"});

    // Through a link: the linked file changes, the link stays.
    ASSERT_EQ(symlink("out.bin", (dir / "link").c_str()), 0);
    EXPECT_TRUE(binFileExternalize(dir / "link", "via link", 8));
    EXPECT_EQ(fixtures::readFile(path), "via link");
    ASSERT_EQ(lstat((dir / "link").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));

    EXPECT_FALSE(binFileExternalize(dir / "missing/out.bin", "x", 1));
    const std::string folder = dir.makeFolder("folder");
    EXPECT_FALSE(binFileExternalize(folder, "x", 1));
    EXPECT_TRUE(fixtures::folderEntries(folder).empty());
    if (access("/dev/full", W_OK) == 0) {
        EXPECT_FALSE(binFileExternalize("/dev/full", "lost", 4));  // a device is written in place, checked
    }
}

TEST(WholeFile, KeyValueFile)
{
    TempDir dir;
    const std::string path = dir.write("keys.txt", " key = value \n#x=y\nno separator\nkey=second\n");
    std::map<std::string, std::string> map;
    ASSERT_TRUE(createStringMap(path, map, '=', true));
    EXPECT_EQ(map, (std::map<std::string, std::string>{{"key", "second"}}));

    const std::string more = dir.write("more.txt", "=empty key\na=b=c\n  #indented=yes\r\n/slash=1\n");
    std::map<std::string, std::string> kept = {{"old", "1"}};
    ASSERT_TRUE(createStringMap(more, kept, '=', true));
    EXPECT_EQ(kept, (std::map<std::string, std::string>{
                        {"old", "1"}, {"", "empty key"}, {"a", "b=c"}, {"#indented", "yes"}}));
    std::map<std::string, std::string> all;
    ASSERT_TRUE(createStringMap(more, all, '=', false));
    EXPECT_EQ(all.at("/slash"), "1");
}
