// Player signatures: the signature lines, the blocks of "sidid.cfg", the fields of "sidid.nfo"
// and matching against tune data.
#include "machine/SidId.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;
using Bytes = std::vector<uint8_t>;

SidIdDatabase load(const Lines& cfg, const Lines& nfo = {})
{
    SidIdDatabase db;
    loadSidIdDatabase(db, cfg, nfo);
    return db;
}

bool matches(const std::string& line, const Bytes& data)
{
    return matchSidIdSignature(parseSidIdSignature(line), data.data(), data.size());
}

TEST(SidIdSignature, TokensGapsAndAnyBytes)
{
    const std::string sig = "A9 ?? 8D AND 60 END";
    EXPECT_EQ(parseSidIdSignature(sig), (SidIdSignature{0xA9, kSidIdAnyByte, 0x8D, kSidIdGap, 0x60}));
    const struct {
        Bytes data;
        bool match;
    } cases[] = {
        {{0xA9, 0x00, 0x8D, 0x12, 0x34, 0x60}, true},
        {{0xA9, 0xFF, 0x8D, 0x60}, true},  // the gap may be empty
        {{0xA9, 0x00, 0x8D, 0x12, 0x34}, false},
        {{0x01, 0xA9, 0xA9, 0x07, 0x8D, 0x60, 0x02}, true},  // a later start
        {{0xA9, 0x00, 0x8E, 0x60}, false},
        {{}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(matches(sig, c.data), c.match) << ::testing::PrintToString(c.data);
}

TEST(SidIdSignature, DefectiveLinesAddNothing)
{
    for (const char* line : {"A9 AND END", "A9 ZZ 60 END", "?? A9 END", "AND 60 A9 END", "A9", "END", ""})
        EXPECT_TRUE(parseSidIdSignature(line).empty()) << line;
    // "%02X" reads one or two leading hex digits of a token.
    EXPECT_EQ(parseSidIdSignature("a9 7 4Fx END"), (SidIdSignature{0xA9, 0x07, 0x4F}));
    // The last token is not read whatever it is.
    EXPECT_EQ(parseSidIdSignature("A9 60 ZZ"), (SidIdSignature{0xA9, 0x60}));
}

TEST(SidIdDatabaseLoad, BlocksOfTheSignatureFile)
{
    const SidIdDatabase db = load({
        "Player_B",
        "A9 01 END",
        "A9 02 END",
        "Player_A",
        "B0 ?? END",
        "",
        "Player_B",  // again: only this block stays
        "C0 C1 END",
        "?? C2 END",
        "AND C3 END",
        "Player_C",
        "A9 AND END",  // defective: C keeps no signature
        "Player_D",
        "D0 D1 END",  // the last block ends the file
    });
    ASSERT_EQ(db.players.size(), 3u);
    auto it = db.players.begin();
    EXPECT_EQ(it->first, "Player_A");
    EXPECT_EQ(it->second.signatures, (std::vector<SidIdSignature>{{0xB0, kSidIdAnyByte}}));
    EXPECT_EQ(it->second.name, "Player_A") << "a nameless player takes its id";
    ++it;
    EXPECT_EQ(it->first, "Player_B");
    EXPECT_EQ(it->second.signatures, (std::vector<SidIdSignature>{{0xC0, 0xC1}}));
    ++it;
    EXPECT_EQ(it->first, "Player_D");
}

TEST(SidIdDatabaseLoad, DescriptionFields)
{
    const SidIdDatabase db = load({"Tracker", "A9 00 END", "Other", "A2 00 END"},
                                  {
                                      "Tracker",
                                      "     NAME: The Tracker",
                                      "   AUTHOR: x",
                                      " RELEASED: 1987 Somebody",
                                      "REFERENCE: https://example.org/tracker",
                                      "  COMMENT: first line",
                                      "           second line",
                                      "short",
                                      "",
                                      "Other",
                                      "   NAME: Other one",
                                      " AUTHOR: y",
                                      "COMMENT: c",
                                      "",
                                      "Described",  // no signatures: not kept
                                      "     NAME: Nothing to match",
                                  });
    ASSERT_EQ(db.players.size(), 2u);
    const SidIdPlayer& t = db.players.at("Tracker");
    EXPECT_EQ(t.name, "The Tracker");
    EXPECT_EQ(t.author, "x");
    EXPECT_EQ(t.released, "1987 Somebody");
    EXPECT_EQ(t.reference, "https://example.org/tracker");
    EXPECT_EQ(t.comment, "first line\nsecond line\n") << "a line under 12 characters adds only its newline";
    const SidIdPlayer& o = db.players.at("Other");
    EXPECT_EQ(o.name, "Other one");
    EXPECT_EQ(o.author, "y");
    EXPECT_EQ(o.comment, "c");
}

TEST(SidIdDatabaseLoad, AuthorLineLeavesTheComment)
{
    const SidIdDatabase db = load({"P", "A9 END"}, {"P", "  COMMENT: kept", "   AUTHOR: x"});
    EXPECT_EQ(db.players.at("P").author, "x");
    EXPECT_EQ(db.players.at("P").comment, "kept");
}

TEST(SidIdFind, FirstPlayerInIdOrderWins)
{
    const SidIdDatabase db = load({"Zeta", "A9 00 END", "Alpha", "FF FE END", "A9 00 END"});
    const Bytes data = {0x00, 0xA9, 0x00, 0x60};
    const SidIdPlayer* found = findSidIdPlayer(db, data.data(), data.size());
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->name, "Alpha") << "second signature of the first player in byte order";
    EXPECT_EQ(findSidIdPlayer(db, data.data(), 0), nullptr);
    const Bytes none = {0x01, 0x02};
    EXPECT_EQ(findSidIdPlayer(db, none.data(), none.size()), nullptr);
}

// The matcher against a plain walk from every start, on random data and signatures.
bool referenceMatch(const SidIdSignature& sig, const Bytes& data)
{
    for (size_t s = 0; s < data.size(); ++s) {
        size_t pos = s;
        bool ok = true;
        for (size_t i = 0; ok && i < sig.size(); ++i) {
            if (sig[i] == kSidIdGap) {
                const uint16_t want = sig[++i];
                while (pos < data.size() && want != kSidIdAnyByte && data[pos] != want)
                    ++pos;
                ok = pos < data.size();
                ++pos;
            } else {
                ok = pos < data.size() && (sig[i] == kSidIdAnyByte || data[pos] == sig[i]);
                ++pos;
            }
        }
        if (ok)
            return true;
    }
    return false;
}

TEST(SidIdFind, AgreesWithAPlainWalk)
{
    const uint32_t seed = 20240611;
    std::mt19937 rng(seed);
    size_t found = 0;
    for (int round = 0; round < 3000; ++round) {
        Bytes data(1 + rng() % 300);
        for (uint8_t& b : data)
            b = uint8_t(rng() % 6);  // few values, so signatures do match
        SidIdSignature sig = {uint16_t(rng() % 6)};
        const size_t length = 1 + rng() % 6;
        while (sig.size() < length) {
            const uint32_t r = rng() % 10;
            if (r == 0)
                sig.push_back(kSidIdAnyByte);
            else if (r < 3)
                sig.insert(sig.end(), {kSidIdGap, uint16_t(rng() % 6)});
            else
                sig.push_back(uint16_t(rng() % 6));
        }
        const bool want = referenceMatch(sig, data);
        found += want;
        ASSERT_EQ(matchSidIdSignature(sig, data.data(), data.size()), want)
            << "seed " << seed << " round " << round;
    }
    EXPECT_GT(found, 300u);
    EXPECT_LT(found, 2700u);
}

}  // namespace
