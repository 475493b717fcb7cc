#pragma once
// Player signatures: byte patterns that name the music routine a tune was written with, read
// from "sidid.cfg" (signatures) and "sidid.nfo" (descriptions). One process-wide database is
// loaded once from the data folder and only read afterwards.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// Signature tokens: 0-255 a byte that must be there, then these two.
inline constexpr uint16_t kSidIdAnyByte = 256;  // "??"
inline constexpr uint16_t kSidIdGap = 257;      // "AND": the next byte at or after here

using SidIdSignature = std::vector<uint16_t>;

struct SidIdPlayer {
    std::string name;
    std::string author;
    std::string released;
    std::string reference;
    std::string comment;
    std::vector<SidIdSignature> signatures;
};

// Players by id, in byte-wise order of the ids.
struct SidIdDatabase {
    std::map<std::string, SidIdPlayer> players;
};

// Fills the database from the lines of the two files. A block of signature lines belongs to
// the id line above it and replaces what that id had; the last block is kept at the end of the
// file. A defective signature line adds nothing; players left without a signature are dropped.
void loadSidIdDatabase(SidIdDatabase& database, const std::vector<std::string>& cfgLines,
                       const std::vector<std::string>& nfoLines);

// Tokens of one signature line, the last (normally "END") not read; empty when the line is
// one token, starts with "??" or "AND", ends in "AND" or holds a token without a hex digit.
SidIdSignature parseSidIdSignature(const std::string& line);

// Whether the signature occurs in the data.
bool matchSidIdSignature(const SidIdSignature& signature, const uint8_t* data, size_t size);

// The first player, in database order, with a signature that occurs in the data; null for none.
const SidIdPlayer* findSidIdPlayer(const SidIdDatabase& database, const uint8_t* data, size_t size);

// The process-wide database: empty until loadSidIdDatabase(folder) has run.
const SidIdDatabase& sidIdDatabase();
// Reads folder + "/sidid.cfg" and folder + "/sidid.nfo" into the process-wide database the first
// time it is called (nothing when either cannot be read); later calls do nothing. Safe from
// several threads at once.
void loadSidIdDatabase(const std::string& folder);
// findSidIdPlayer on the process-wide database.
const SidIdPlayer* findSidIdPlayer(const uint8_t* data, size_t size);
