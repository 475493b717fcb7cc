#include "sid/SIDDatabase.h"

#include "platform/SaturatingCast.h"
#include "sid/SIDDcRules.h"
#include "support/IFFTree.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>

// Chunk payloads are little-endian and copied as they are.
static_assert(std::endian::native == std::endian::little);
static_assert(sizeof(SIDLineRows) == 256);

namespace {

constexpr const char* kTextIds[] = {"Name", "Type", "Mark", "Date", "Fmrk", "Ctry", "Bcde", "Bmrk"};
constexpr std::size_t kTextBytes = 128;

constexpr const char* kOscIds[3] = {"Osc1", "Osc2", "Osc3"};
constexpr const char* kEnvIds[3] = {"Env1", "Env2", "Env3"};
constexpr int kOscZeroVolt[3] = {6, 5, 3};  // "Volt" entry subtracted from voice 1, 2, 3

constexpr std::size_t kOscPoints = 4096;
constexpr std::size_t kEnvPoints = 256;
constexpr std::size_t kCombEntries = 32768;

// "Extr": the first ten fields come from the chunk (zero where it is short), the other twelve
// only from a chunk of at least 88 bytes.
constexpr float SIDChipRecord::*kExtraFields[22] = {
    &SIDChipRecord::reshapegainin,       &SIDChipRecord::reshapebpfoffset,
    &SIDChipRecord::reshapelpfoffset,    &SIDChipRecord::reshapegainout,
    &SIDChipRecord::bleedoffsetbpf,      &SIDChipRecord::bleedoffsethpf,
    &SIDChipRecord::bpfdrivescale,       &SIDChipRecord::lpfdrivescale,
    &SIDChipRecord::resonancedrop,       &SIDChipRecord::curveclip,
    &SIDChipRecord::reshapebpfoffsetmod, &SIDChipRecord::reshapelpfoffsetmod,
    &SIDChipRecord::innerbpstg0in,       &SIDChipRecord::innerbphpfin,
    &SIDChipRecord::innerbpbiasin,       &SIDChipRecord::innerbpinclip,
    &SIDChipRecord::innerbpmxgain,       &SIDChipRecord::innerbpmxbias,
    &SIDChipRecord::innerbpagrinit,      &SIDChipRecord::innerbpagrminv,
    &SIDChipRecord::innerbpagrvldg,      &SIDChipRecord::innerbpagrgaib,
};
constexpr std::size_t kExtraFirstFields = 10;
constexpr uint64_t kExtraFullBytes = 88;

// Oscillator curve: (value - zero) in 1/4095 steps, rounded; the low 16 bits are kept.
uint16_t quantiseOsc(float value, float zero)
{
    const double q = std::floor(double(value - zero) * 4095.0 + 0.5);
    return uint16_t(uint64_t(vantor::saturatingCast<int64_t>(q)) & 0xFFFF);
}

// Envelope curve scaled so that env[0] gives 0 and env[255] gives 255 x 256. A flat curve (or one
// whose span is not finite) gets the plain DAC, entry k = 256 k.
void normaliseEnv(const float* env, std::array<int32_t, 256>& out)
{
    const float span = env[255] - env[0];
    if (span == 0.0f || !std::isfinite(span)) {
        for (std::size_t k = 0; k < kEnvPoints; ++k)
            out[k] = int32_t(256 * k);
        return;
    }
    for (std::size_t k = 0; k < kEnvPoints; ++k)
        out[k] = vantor::saturatingCast<int32_t>(std::floor((env[k] - env[0]) / span * 65280.0f + 0.5f));
}

std::string textOf(const SIDChipInfo* info, const char* id)
{
    if (!info)
        return {};
    const auto it = info->texts.find(id);
    return it == info->texts.end() ? std::string() : it->second;
}

// Built at start-up, as the chip relies on it from its first use.
[[maybe_unused]] const SIDChipInfo& kDefaultInfoAtStartUp = defaultSIDChipInfo();

}  // namespace

const SIDChipInfo& defaultSIDChipInfo()
{
    static const SIDChipInfo info = [] {
        SIDChipInfo builtIn;
        builtIn.volumeDcBias = kBuiltInVolumeDcBias;
        return builtIn;
    }();
    return info;
}

SIDDatabase::SIDDatabase() noexcept = default;

SIDDatabase::SIDDatabase(const std::string& path)
{
    if (constructionHookForTests)
        constructionHookForTests(path);
    load(path);
}

SIDDatabase::~SIDDatabase() = default;

const SIDChipRecord& SIDDatabase::chipRecordAt(std::size_t index) const
{
    return index < records.size() ? records[index] : defaultRecord;
}

const SIDChipInfo& SIDDatabase::chipInfoAt(std::size_t index) const
{
    return index < infos.size() ? infos[index] : defaultSIDChipInfo();
}

bool SIDDatabase::isSidChipName(std::string_view text)
{
    return text == "6581" || text == "SID" || text == "8580";
}

void SIDDatabase::appendChipListEntry(std::size_t index, std::size_t count, const SIDChipInfo* info)
{
    if (index < kDeprecatedChips) {
        chipListText += "{deprecated}|";
        return;
    }
    chipListText += textOf(info, "Mark") + " " + textOf(info, "Date") + " (" + textOf(info, "Bcde") + ")";
    if (index + 1 < count)
        chipListText += "|";
}

void SIDDatabase::load(const std::string& path)
{
    records.clear();
    infos.clear();
    chipListText.clear();

    vantor::IFFTree tree(path, nullptr);
    if (!tree.load(vantor::SourceStdio))
        return;
    const vantor::IFFTreeNode* root = tree.getRoot();
    if (!root || root->children.empty())
        return;
    const vantor::IFFTreeNode* container = root->children.front();
    const std::size_t count = std::min(container->children.size(), kMaxChips);
    records.resize(count);
    infos.resize(count);

    std::vector<float> osc(kOscPoints);
    std::vector<float> env(kEnvPoints);
    std::vector<uint8_t> combBytes(kCombEntries);
    auto copy = [&tree](const vantor::IFFTreeNode* parent, const char* id, void* to, uint64_t bytes) {
        return vantor::copyNamedChunk(&tree, parent, id, to, bytes);
    };

    for (std::size_t i = 0; i < count; ++i) {
        const vantor::IFFTreeNode* chip = container->children[i];
        SIDChipInfo& info = infos[i];
        SIDChipRecord& rec = records[i];

        // Without "Info" the records keep their defaults, but the chip still takes its place in
        // the list, so that list positions stay chip indexes.
        const vantor::IFFTreeNode* infoList = chip->findChild("LIST(Info)");
        if (!infoList) {
            appendChipListEntry(i, count, nullptr);
            continue;
        }
        for (const char* id : kTextIds) {
            char text[kTextBytes] = {};
            copy(infoList, id, text, kTextBytes);
            info.texts[id] = std::string(text, strnlen(text, kTextBytes));
        }
        appendChipListEntry(i, count, &info);

        // "Conf" lies over the first eight bytes of the description.
        uint8_t conf[8] = {info.tableModel, info.wave6Quirk, info.rawOscillators, info.spare};
        std::memcpy(conf + 4, &info.waveSet, 4);
        copy(chip, "Conf", conf, sizeof conf);
        info.tableModel = conf[0];
        info.wave6Quirk = conf[1];
        info.rawOscillators = conf[2];
        info.spare = conf[3];
        std::memcpy(&info.waveSet, conf + 4, 4);

        SIDVoltages volt{};
        copy(chip, "Volt", volt.data(), sizeof volt);

        const bool hasDdcm = chip->findChild("Ddcm") != nullptr;
        if (hasDdcm) {
            info.hasDcTable = 1;
            copy(chip, "Ddcm", info.dcTable.data(), sizeof info.dcTable);
        }

        info.voiceTables.resize(3);
        for (std::size_t v = 0; v < 3; ++v) {
            std::fill(osc.begin(), osc.end(), 0.0f);
            std::fill(env.begin(), env.end(), 0.0f);
            copy(chip, kOscIds[v], osc.data(), kOscPoints * sizeof(float));
            copy(chip, kEnvIds[v], env.data(), kEnvPoints * sizeof(float));
            const float zero = info.rawOscillators ? 0.0f : volt[kOscZeroVolt[v]];
            VoiceCurveTables& tables = info.voiceTables[v];
            for (std::size_t k = 0; k < kOscPoints; ++k)
                tables.oscCurve[k] = quantiseOsc(osc[k], zero);
            normaliseEnv(env.data(), tables.envCurve);
        }

        // "Comb": 32768 u16 as stored, or 32768 bytes widened to 0..4080; any other size leaves
        // the table at its previous (zero) contents.
        if (const vantor::IFFTreeNode* comb = chip->findChild("Comb")) {
            info.combTables.resize(kCombEntries);
            if (comb->size == kCombEntries) {
                std::fill(combBytes.begin(), combBytes.end(), uint8_t(0));
                if (copy(chip, "Comb", combBytes.data(), kCombEntries) != 0)
                    for (std::size_t k = 0; k < kCombEntries; ++k)
                        info.combTables[k] = uint16_t(combBytes[k] << 4);
            } else if (comb->size == kCombEntries * 2) {
                copy(chip, "Comb", info.combTables.data(), kCombEntries * 2);
            }
        }

        const vantor::IFFTreeNode* filter = chip->findChild("LIST(Fltr)");
        if (info.tableModel) {
            copy(filter, "Reso", info.resoInverseQ.data(), sizeof info.resoInverseQ);
            copy(filter, "Line", info.lineRows.data(), sizeof info.lineRows);
        } else {
            copy(filter, "Reso", rec.inverseQ.data(), sizeof rec.inverseQ);
            copy(filter, "Line", rec.lineRows.data(), sizeof rec.lineRows);
            if (filter && filter->findChild("Aug2")) {
                copy(filter, "Aug2", rec.filterData.data(), sizeof rec.filterData);
                copy(filter, "Cdac", rec.cutoffCurve.data(), sizeof rec.cutoffCurve);
                if (filter->findChild("Extr")) {
                    float extra[32] = {};
                    const uint64_t got = copy(filter, "Extr", extra, sizeof extra);
                    const std::size_t fields =
                        got >= kExtraFullBytes ? std::size(kExtraFields) : kExtraFirstFields;
                    for (std::size_t f = 0; f < fields; ++f)
                        rec.*kExtraFields[f] = extra[f];
                }
            }
        }

        SIDGlobalParams glbl = kDefaultGlobalParams;
        copy(filter, "Glbl", glbl.data(), sizeof glbl);
        SIDFinalAdjust fina = kDefaultFinalAdjust;
        copy(filter, "Fina", fina.data(), sizeof fina);
        const std::string& name = info.texts["Name"];
        applySidDcRules(info, rec, name, hasDdcm, glbl, volt, fina);
        applySidOverrideFile(path, name, hasDdcm, info, rec);

        float bias = 0.0f;
        copy(chip, "Fdcb", &bias, sizeof bias);
        info.filterDcBias = bias;
        bias = 0.0f;
        copy(chip, "Fvob", &bias, sizeof bias);
        info.volumeDcBias = bias;

        applySidNameFixups(name, info, rec);
    }
}
