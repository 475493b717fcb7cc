#include "machine/SidId.h"

#include "platform/PlatformTools.h"

#include <array>
#include <cstring>
#include <mutex>
#include <string_view>

namespace {

bool endsWithEnd(const std::string& line)
{
    return line.size() >= 4 && line.compare(line.size() - 3, 3, "END") == 0;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// A byte token as "%02X" reads it: one or two leading hex digits; -1 without one.
int parseHexByte(const std::string& token)
{
    const int high = token.empty() ? -1 : hexDigit(token[0]);
    if (high < 0)
        return -1;
    const int low = token.size() > 1 ? hexDigit(token[1]) : -1;
    return low < 0 ? high : high * 16 + low;
}

bool startsWith(const std::string& line, std::string_view prefix, std::string& rest)
{
    if (line.compare(0, prefix.size(), prefix) != 0)
        return false;
    rest = line.substr(prefix.size());
    return true;
}

void readCfg(SidIdDatabase& db, const std::vector<std::string>& lines)
{
    std::string pendingId;
    std::vector<SidIdSignature> pending;
    auto commit = [&] {
        if (!pendingId.empty())
            db.players[pendingId].signatures = std::move(pending);
        pending.clear();
        pendingId.clear();
    };
    bool afterEnd = false;
    for (const std::string& line : lines) {
        const bool isEnd = endsWithEnd(line);
        if (line.empty()) {
            commit();
            afterEnd = false;
            continue;
        }
        if (!isEnd && afterEnd)
            commit();  // the next player's id line
        afterEnd = isEnd;
        if (pendingId.empty()) {
            pendingId = line;
            continue;
        }
        SidIdSignature signature = parseSidIdSignature(line);
        if (!signature.empty())
            pending.push_back(std::move(signature));
    }
    commit();
}

void readNfo(SidIdDatabase& db, const std::vector<std::string>& lines)
{
    struct Field {
        std::string_view prefix;
        std::string SidIdPlayer::*member;
    };
    static constexpr Field kFields[] = {
        {"     NAME: ", &SidIdPlayer::name},       {"   NAME: ", &SidIdPlayer::name},
        {"   AUTHOR: ", &SidIdPlayer::author},     {" AUTHOR: ", &SidIdPlayer::author},
        {" RELEASED: ", &SidIdPlayer::released},   {"REFERENCE: ", &SidIdPlayer::reference},
        {"  COMMENT: ", &SidIdPlayer::comment},    {"COMMENT: ", &SidIdPlayer::comment},
    };
    constexpr size_t kContinuationColumn = 11;
    SidIdPlayer* current = nullptr;
    for (const std::string& line : lines) {
        if (line.empty()) {
            current = nullptr;
            continue;
        }
        if (!current) {
            current = &db.players[line];
            continue;
        }
        std::string rest;
        bool matched = false;
        for (const Field& f : kFields) {
            if (startsWith(line, f.prefix, rest)) {
                (*current).*(f.member) = std::move(rest);
                matched = true;
                break;
            }
        }
        if (!matched) {
            current->comment += '\n';
            if (line.size() > kContinuationColumn)
                current->comment.append(line, kContinuationColumn, std::string::npos);
        }
    }
}

enum class Walk { Match, Mismatch, OutOfData };

// The next occurrence of a byte at or after a position, remembered per gap: the positions a
// walk reaches never go back as the start moves on, so each gap scans the data about once.
struct GapSearch {
    static constexpr size_t kCached = 32;
    std::array<size_t, kCached> from;
    std::array<size_t, kCached> found;  // size: not found
    std::array<bool, kCached> valid{};

    size_t next(size_t gap, uint8_t byte, size_t at, const uint8_t* data, size_t size)
    {
        if (gap < kCached && valid[gap] && at >= from[gap] && at <= found[gap])
            return found[gap];
        const void* hit = at < size ? std::memchr(data + at, byte, size - at) : nullptr;
        const size_t result = hit ? size_t(static_cast<const uint8_t*>(hit) - data) : size;
        if (gap < kCached) {
            from[gap] = at;
            found[gap] = result;
            valid[gap] = true;
        }
        return result;
    }
};

Walk walkFrom(const SidIdSignature& sig, const uint8_t* data, size_t size, size_t pos, GapSearch& gaps)
{
    size_t gap = 0;
    for (size_t i = 0; i < sig.size(); ++i) {
        const uint16_t t = sig[i];
        if (t == kSidIdGap) {
            if (++i == sig.size())
                return Walk::Mismatch;
            const uint16_t wanted = sig[i];
            if (wanted == kSidIdAnyByte) {
                if (pos >= size)
                    return Walk::OutOfData;
                ++pos;
                continue;
            }
            if (wanted > 255)
                return Walk::Mismatch;
            const size_t at = gaps.next(gap++, uint8_t(wanted), pos, data, size);
            if (at >= size)
                return Walk::OutOfData;
            pos = at + 1;
            continue;
        }
        if (pos >= size)
            return Walk::OutOfData;
        if (t != kSidIdAnyByte && data[pos] != t)
            return Walk::Mismatch;
        ++pos;
    }
    return Walk::Match;
}

SidIdDatabase gDatabase;
std::once_flag gDatabaseOnce;

}  // namespace

SidIdSignature parseSidIdSignature(const std::string& line)
{
    std::vector<std::string> tokens;
    PSimpleStringTokenizer(line, " ", tokens);
    SidIdSignature out;
    if (tokens.size() < 2)
        return out;
    out.reserve(tokens.size() - 1);
    for (size_t i = 0; i + 1 < tokens.size(); ++i) {
        const std::string& token = tokens[i];
        if (token == "AND") {
            out.push_back(kSidIdGap);
        } else if (token == "??") {
            out.push_back(kSidIdAnyByte);
        } else {
            const int value = parseHexByte(token);
            if (value < 0)
                return {};
            out.push_back(uint16_t(value));
        }
    }
    if (out.front() > 255 || out.back() == kSidIdGap)
        return {};
    return out;
}

void loadSidIdDatabase(SidIdDatabase& database, const std::vector<std::string>& cfgLines,
                       const std::vector<std::string>& nfoLines)
{
    readCfg(database, cfgLines);
    readNfo(database, nfoLines);
    for (auto it = database.players.begin(); it != database.players.end();) {
        if (it->second.signatures.empty()) {
            it = database.players.erase(it);
            continue;
        }
        if (it->second.name.empty())
            it->second.name = it->first;
        ++it;
    }
}

bool matchSidIdSignature(const SidIdSignature& signature, const uint8_t* data, size_t size)
{
    if (signature.empty() || signature.front() > 255 || !data || size == 0)
        return false;
    const uint8_t first = uint8_t(signature.front());
    GapSearch gaps;
    for (size_t s = 0; s < size;) {
        const void* hit = std::memchr(data + s, first, size - s);
        if (!hit)
            return false;
        s = size_t(static_cast<const uint8_t*>(hit) - data);
        switch (walkFrom(signature, data, size, s, gaps)) {
        case Walk::Match: return true;
        case Walk::OutOfData: return false;  // every later start runs out as well
        case Walk::Mismatch: break;
        }
        ++s;
    }
    return false;
}

const SidIdPlayer* findSidIdPlayer(const SidIdDatabase& database, const uint8_t* data, size_t size)
{
    if (!data || size == 0)
        return nullptr;
    for (const auto& [id, player] : database.players)
        for (const SidIdSignature& signature : player.signatures)
            if (matchSidIdSignature(signature, data, size))
                return &player;
    return nullptr;
}

const SidIdDatabase& sidIdDatabase()
{
    return gDatabase;
}

void loadSidIdDatabase(const std::string& folder)
{
    std::call_once(gDatabaseOnce, [&folder] {
        std::vector<std::string> cfg, nfo;
        if (!textInternalize(folder + "/sidid.cfg", cfg) || !textInternalize(folder + "/sidid.nfo", nfo))
            return;
        loadSidIdDatabase(gDatabase, cfg, nfo);
    });
}

const SidIdPlayer* findSidIdPlayer(const uint8_t* data, size_t size)
{
    return findSidIdPlayer(gDatabase, data, size);
}
