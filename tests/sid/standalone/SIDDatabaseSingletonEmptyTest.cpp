// The process's first database request asks for the instance without a path.
#include "sid/SIDDatabase.h"

#include "fixtures/ChipDatabaseWriter.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

TEST(SIDDatabaseSingleton, GetInstanceFirstFreezesAnEmptyDatabase)
{
    ASSERT_EQ(SIDDatabase::peekInstance(), nullptr);
    SIDDatabase* empty = SIDDatabase::getInstance();
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->chipCount(), 0u);
    EXPECT_EQ(empty->chipList(), "");
    EXPECT_EQ(&empty->chipRecordAt(0), &empty->getDefaultRecord());
    EXPECT_EQ(&empty->chipInfoAt(SIDDatabase::kDefaultChip), &defaultSIDChipInfo());

    // A later request with a real file gets the same empty database: the file is not read.
    fixtures::TempDir dir;
    const std::vector<fixtures::ChipDescription> chips(2, fixtures::syntheticChip("a", 1));
    const fixtures::Bytes bytes = fixtures::writeChipDatabase(chips, fixtures::DatabaseForm::Riff);
    const std::string path = dir.write("chips.sdb", std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(SIDDatabase::createInstance(path), empty);
    EXPECT_EQ(empty->chipCount(), 0u);
    EXPECT_EQ(SIDDatabase::getInstance(), empty);
}
