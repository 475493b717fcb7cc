// Player signature files: the input's text up to its first NUL is "sidid.cfg", the rest
// "sidid.nfo"; the database they make is checked and matched against a tune and the input.

#include "fuzz/FuzzSupport.h"
#include "machine/SidId.h"
#include "platform/PlatformTools.h"

#include "fixtures/c64/C64Tunes.h"

#include <algorithm>
#include <string>
#include <vector>

void fuzzSeeds(fuzz::Seeds& seeds)
{
    seeds.add("players", std::string("Counter_Player\n"
                                     "EE 40 10 AD AND 9D 00 D4 END\n"
                                     "A9 ?? 8D 18 D4 END\n"
                                     "\n"
                                     "Gap_Player\n"
                                     "78 AND 58 4C END\n"
                                     "Again\n"
                                     "?? 01 END\n"
                                     "A9 AND END\n") +
                          std::string(1, '\0') +
                          "Counter_Player\n"
                          "     NAME: Counting Player\n"
                          "   AUTHOR: Test Writer\n"
                          " RELEASED: 1990\n"
                          "REFERENCE: https://example.org\n"
                          "  COMMENT: counts\n"
                          "           and stores\n"
                          "short\n"
                          "\n"
                          "Gap_Player\n"
                          "   NAME: Gap\n"
                          "COMMENT: c\n");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const size_t split = std::min(text.find('\0'), text.size());
    std::vector<std::string> cfg, nfo;
    textInternalizeRAM(text.substr(0, split), cfg, false);
    textInternalizeRAM(split < text.size() ? text.substr(split + 1) : std::string(), nfo, false);
    SidIdDatabase db;
    loadSidIdDatabase(db, cfg, nfo);
    for (const auto& [id, player] : db.players) {
        if (player.signatures.empty() || player.name.empty())
            __builtin_trap();
        for (const SidIdSignature& s : player.signatures)
            if (s.empty() || s.front() > 255 || s.back() == kSidIdGap)
                __builtin_trap();
    }
    static const fixtures::Bytes tune = fixtures::c64_tunes::counterTuneCode();
    (void)findSidIdPlayer(db, tune.data(), tune.size());
    (void)findSidIdPlayer(db, data, size);
    return 0;
}
