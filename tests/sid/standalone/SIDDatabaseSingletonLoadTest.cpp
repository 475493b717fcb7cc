// The process's first database request names a file; many threads ask at once.
#include "sid/SIDDatabase.h"

#include "fixtures/ChipDatabaseWriter.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

std::string writeDatabase(const fixtures::TempDir& dir, const std::string& name, int chips)
{
    std::vector<fixtures::ChipDescription> list;
    for (int i = 0; i < chips; ++i)
        list.push_back(fixtures::syntheticChip("chip " + std::to_string(i), uint32_t(i)));
    const fixtures::Bytes bytes = fixtures::writeChipDatabase(list, fixtures::DatabaseForm::Form);
    return dir.write(name, std::string(bytes.begin(), bytes.end()));
}

}  // namespace

TEST(SIDDatabaseSingleton, FirstCreationLoadsOnceForEveryCaller)
{
    fixtures::TempDir dir;
    const std::string first = writeDatabase(dir, "first.sdb", 3);
    const std::string second = writeDatabase(dir, "second.sdb", 5);

    static std::atomic<int> loads{0};
    SIDDatabase::constructionHookForTests = [](const std::string&) { ++loads; };
    std::atomic<bool> go{false};
    std::vector<SIDDatabase*> seen(8, nullptr);
    std::vector<std::thread> threads;
    for (size_t t = 0; t < seen.size(); ++t)
        threads.emplace_back([&, t] {
            while (!go)
                std::this_thread::yield();
            seen[t] = SIDDatabase::createInstance(first);
        });
    go = true;
    for (auto& t : threads)
        t.join();
    SIDDatabase::constructionHookForTests = nullptr;
    SIDDatabase* db = SIDDatabase::getInstance();

    ASSERT_NE(db, nullptr);
    EXPECT_EQ(loads.load(), 1);
    for (SIDDatabase* s : seen)
        EXPECT_EQ(s, db);
    ASSERT_EQ(db->chipCount(), 3u);
    EXPECT_EQ(db->chipInfoAt(2).texts.at("Name"), "chip 2");

    // Lookups past the end.
    EXPECT_EQ(&db->chipRecordAt(3), &db->getDefaultRecord());
    EXPECT_EQ(&db->chipInfoAt(~size_t(0)), &defaultSIDChipInfo());
    EXPECT_EQ(db->chipInfoAt(~size_t(0)).waveSet, 4u);

    // A second creation ignores its path.
    EXPECT_EQ(SIDDatabase::createInstance(second), db);
    EXPECT_EQ(db->chipCount(), 3u);
    EXPECT_EQ(SIDDatabase::getInstance(), db);
}
