// Chips initialised with a database path share the process's one database, loaded by the first.

#include "../SIDEmuTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

struct Listener : SwallowPopListener {
    std::vector<std::pair<uint64_t, uint32_t>> calls;
    void swallowPop(uint64_t index, uint32_t value) override { calls.emplace_back(index, value); }
};

TEST(SIDEmuDatabaseInit, FirstChipLoadsTheDatabaseForAll)
{
    fixtures::TempDir dir;
    std::vector<fixtures::ChipDescription> chips;
    for (uint32_t i = 0; i < 10; ++i)
        chips.push_back(fixtures::syntheticChip("chip " + std::to_string(i), i, i == 4));
    const fixtures::Bytes bytes = fixtures::writeChipDatabase(chips, fixtures::DatabaseForm::Form);
    const std::string path = dir.write("chips.sdb", std::string(bytes.begin(), bytes.end()));

    ASSERT_EQ(SIDDatabase::peekInstance(), nullptr);
    Listener listener;
    SIDEmu a;
    a.setSwallowPopListener(&listener);
    ASSERT_TRUE(a.init(256, path.c_str(), 1006));
    const SIDDatabase* db = SIDDatabase::peekInstance();
    ASSERT_NE(db, nullptr);
    ASSERT_EQ(db->chipCount(), 10u);
    EXPECT_EQ(a.isDatabaseLoaded(), 1);
    // Chip 18 lies past the end: the default profile and record.
    EXPECT_EQ(a.getSelectedChip(), 18u);
    EXPECT_EQ(&a.getProfile(), &defaultSIDChipInfo());
    EXPECT_EQ(a.getMeasuredFilter().getRecord(), &db->getDefaultRecord());
    EXPECT_EQ(listener.calls, (std::vector<std::pair<uint64_t, uint32_t>>{{18, 1006}}));
    const ParameterInfo& model = a.getChipInfo()->parameters[SIDParam::kModel];
    const char* list = model.list;
    EXPECT_STREQ(list, db->chipList().c_str());
    EXPECT_EQ(a.getMaxBlockCycles(), 256u);

    // A second chip, even with another path, shares the first database.
    SIDEmu b;
    ASSERT_TRUE(b.init(64, (dir / "other.sdb").c_str(), 1000));
    EXPECT_EQ(b.isDatabaseLoaded(), 0);  // no file there
    SIDEmu c;
    ASSERT_TRUE(c.init(64, path.c_str(), 1000));
    EXPECT_EQ(SIDDatabase::peekInstance(), db);
    c.setParameter(SIDParam::kModel, 4.0f);
    EXPECT_EQ(&c.getProfile(), &db->chipInfoAt(4));
    EXPECT_EQ(c.isLinearModel(), 1);
    c.setParameter(SIDParam::kModel, 5.0f);
    EXPECT_EQ(c.isLinearModel(), 0);
    EXPECT_EQ(c.getMeasuredFilter().getRecord(), &db->chipRecordAt(5));

    // The built-in model without a path.
    SIDEmu d;
    ASSERT_TRUE(d.init(64, nullptr, 1000));
    EXPECT_EQ(d.isDatabaseLoaded(), 0);
    EXPECT_EQ(d.isLinearModel(), 1);
}

}  // namespace
