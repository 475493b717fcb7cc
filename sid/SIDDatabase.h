#pragma once
// The measured-chip database: every chip of the database file as a pair of records, plus the
// chip list text that the chip-model choice shows. One per process; read without a lock once built.

#include "sid/SIDChipRecords.h"
#include "support/MutexedSingleton.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

class SIDDatabase : public vantor::MutexedSingleton<SIDDatabase> {
public:
    static constexpr std::size_t kDefaultChip = 18;  // selected once a database is loaded
    static constexpr std::size_t kDeprecatedChips = 18;  // listed as "{deprecated}"
    // Chips past this many are not read: each costs about 300 KB of records whatever the file
    // holds, so a small hostile file could otherwise ask for gigabytes.
    static constexpr std::size_t kMaxChips = 1024;

    // An empty database: no chips, an empty chip list, the default record.
    SIDDatabase() noexcept;
    // Loads the database file at `path` (a chunk tree read through stdio). A file that cannot be
    // read gives an empty database; nothing is reported.
    explicit SIDDatabase(const std::string& path);
    ~SIDDatabase() override;

    SIDDatabase(const SIDDatabase&) = delete;
    SIDDatabase& operator=(const SIDDatabase&) = delete;

    std::size_t chipCount() const { return infos.size(); }
    // The chip's record, or the database's default record for an index past the end.
    const SIDChipRecord& chipRecordAt(std::size_t index) const;
    // The chip's description, or the process-wide default for an index past the end.
    const SIDChipInfo& chipInfoAt(std::size_t index) const;
    // One entry per chip, separated by "|".
    const std::string& chipList() const { return chipListText; }
    const SIDChipRecord& getDefaultRecord() const { return defaultRecord; }

    // True for exactly "6581", "SID" or "8580".
    static bool isSidChipName(std::string_view text);

    // Called at the start of the loading constructor; tests use it to make construction fail.
    static inline void (*constructionHookForTests)(const std::string& path) = nullptr;

private:
    void load(const std::string& path);
    void appendChipListEntry(std::size_t index, std::size_t count, const SIDChipInfo* info);

    SIDChipRecord defaultRecord;
    std::vector<SIDChipRecord> records;
    std::vector<SIDChipInfo> infos;
    std::string chipListText;
};

// The built-in profile's volume DC bias. The volume scales the mix's distance from the output
// level; on a 6581 the mixer's own DC lies far from it, so a sample written to the volume
// register swings about as far as one voice at full level.
inline constexpr float kBuiltInVolumeDcBias = -0.375f;

// The process-wide default description (built at start-up), the built-in 6581 profile: `waveSet`
// 4, no tables of its own, the volume DC bias above.
const SIDChipInfo& defaultSIDChipInfo();
