// Construction of the process's database fails (as when memory runs out).
#include "sid/SIDDatabase.h"

#include "fixtures/ChipDatabaseWriter.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <new>

TEST(SIDDatabaseSingleton, FailedConstructionLeavesAnEmptyDatabase)
{
    fixtures::TempDir dir;
    const fixtures::Bytes bytes =
        fixtures::writeChipDatabase({fixtures::syntheticChip("a", 1)}, fixtures::DatabaseForm::Riff);
    const std::string path = dir.write("chips.sdb", std::string(bytes.begin(), bytes.end()));

    SIDDatabase::constructionHookForTests = [](const std::string&) { throw std::bad_alloc(); };
    SIDDatabase* db = SIDDatabase::createInstance(path);
    SIDDatabase::constructionHookForTests = nullptr;
    ASSERT_NE(db, nullptr);
    EXPECT_EQ(db->chipCount(), 0u);
    EXPECT_EQ(&db->chipRecordAt(0), &db->getDefaultRecord());
    EXPECT_EQ(&db->chipInfoAt(0), &defaultSIDChipInfo());

    // The creation flag is clear again and the empty database stays the instance.
    EXPECT_EQ(SIDDatabase::createInstance(path), db);
    EXPECT_EQ(SIDDatabase::getInstance(), db);
    EXPECT_EQ(db->chipCount(), 0u);
}
