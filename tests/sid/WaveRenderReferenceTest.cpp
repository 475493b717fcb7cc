// Every table entry against the slow reference models over random voice states.

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "WaveReference.h"
#include "WaveTestSupport.h"
#include "sid/SIDVoice.h"
#include "sid/WaveRender.h"

using namespace wavetest;

namespace {

constexpr int kStatesPerEntry = 1000;
constexpr unsigned kDirectShard = 64;  // entries per test case

bool isEmptyEntry(unsigned index) { return (index & 32) != 0 && (index & 15) != 6; }

class DirectEntries : public ::testing::TestWithParam<unsigned> {};

TEST_P(DirectEntries, MatchReferenceOverRandomStates)
{
    const unsigned firstIndex = GetParam() * kDirectShard;
    const uint64_t seed = 0xD1EC7000u + GetParam();
    Rng rng(seed);
    const TablePool tables(rng);
    int failures = 0;
    for (unsigned index = firstIndex; index < firstIndex + kDirectShard && failures < 3; ++index) {
        for (int j = 0; j < kStatesPerEntry && failures < 3; ++j) {
            const uint64_t count = kBlockCounts[j % std::size(kBlockCounts)];
            SIDVoice voice;
            randomVoice(rng, voice, tables);
            const SourceCopy source = randomSource(rng);
            const Fields initial = fieldsOf(voice);
            const auto initialBytes = bytesOf(voice);

            ref::Osc model = toRef(voice);
            ref::Source modelSource{source.accumulator, source.frequency, source.msb};
            std::vector<uint32_t> want(count, kSentinel), got(count, kSentinel);
            ref::renderDirect(model, modelSource, index, want.data(), count);
            const Fields expected = fieldsAfter(voice, model);

            SourceCopy copy = source;
            kWaveRenderTable[index](voice, got.data(), count, &copy.accumulator, &copy.frequency, &copy.msb);

            const bool ok = got == want && fieldsOf(voice) == expected &&
                            copy.accumulator == modelSource.accumulator && copy.msb == modelSource.msb &&
                            copy.frequency == source.frequency;
            if (!ok) {
                ++failures;
                const auto diff = std::mismatch(got.begin(), got.end(), want.begin());
                ADD_FAILURE() << "entry " << index << " state " << j << " count " << count << " seed " << seed
                              << "\n first differing cycle "
                              << (diff.first == got.end() ? -1 : int64_t(diff.first - got.begin()))
                              << (diff.first == got.end() ? "" : " got " + std::to_string(*diff.first) + " want " +
                                                                     std::to_string(*diff.second))
                              << "\n initial  " << initial << "\n got      " << fieldsOf(voice) << "\n expected "
                              << expected << "\n source got " << copy.accumulator << "/" << int(copy.msb)
                              << " want " << modelSource.accumulator << "/" << int(modelSource.msb);
            }
            if (isEmptyEntry(index) && bytesOf(voice) != initialBytes) {
                ++failures;
                ADD_FAILURE() << "empty entry " << index << " changed the voice";
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Shards, DirectEntries, ::testing::Range(0u, unsigned(kWaveRenderTableSize / kDirectShard)));

// A buffer of count + 2 tops; the returned pointer is the first cycle.
struct Tops {
    std::vector<uint16_t> storage;
    explicit Tops(uint64_t count) : storage(count + 2) {}
    uint16_t* at() { return storage.data() + 2; }
};

class BufferedEntries : public ::testing::TestWithParam<unsigned> {};

TEST_P(BufferedEntries, MatchReferenceOverRandomStates)
{
    constexpr unsigned kShard = 32;
    const unsigned firstIndex = GetParam() * kShard;
    const uint64_t seed = 0xB0FFE000u + GetParam();
    Rng rng(seed);
    const TablePool tables(rng);
    int failures = 0;
    for (unsigned index = firstIndex; index < firstIndex + kShard && failures < 3; ++index) {
        const unsigned nibble = index & 15;
        const bool readsSource = (index & 64) != 0 && (nibble & 3) == 1;
        for (int j = 0; j < kStatesPerEntry && failures < 3; ++j) {
            const uint64_t count = kBlockCounts[j % std::size(kBlockCounts)];
            SIDVoice voice;
            randomVoice(rng, voice, tables);
            Tops own(count), source(count), poisoned(count);
            randomTops(rng, own.at(), -2, int64_t(count));
            randomTops(rng, source.at(), -2, int64_t(count));
            randomTops(rng, poisoned.at(), -2, int64_t(count));
            const Fields initial = fieldsOf(voice);
            SIDVoice start;
            copyOscillator(start, voice);

            ref::Osc model = toRef(voice);
            std::vector<uint32_t> want(count, kSentinel), got(count, kSentinel);
            ref::renderBuffered(model, index, want.data(), count, own.at(), source.at());
            const Fields expected = fieldsAfter(voice, model);
            kWaveRenderBufferedTable[index](voice, got.data(), count, own.at(), source.at());

            bool ok = got == want && fieldsOf(voice) == expected;
            ok = ok && voice.accumulator == initial.accumulator && voice.accumulatorPrev == initial.accumulatorPrev &&
                 voice.accumulatorPrev2 == initial.accumulatorPrev2;
            if (nibble < 8) {
                Fields noiseKept = fieldsOf(voice);
                noiseKept.lastOutput = initial.lastOutput;
                ok = ok && noiseKept == initial;
            }
            if (!readsSource) {
                // Same start, another source array: nothing may change.
                std::vector<uint32_t> other(count, kSentinel);
                SIDVoice replay;
                copyOscillator(replay, start);
                kWaveRenderBufferedTable[index](replay, other.data(), count, own.at(), poisoned.at());
                ok = ok && other == got && fieldsOf(replay) == fieldsOf(voice);
            }
            if (!ok) {
                ++failures;
                const auto diff = std::mismatch(got.begin(), got.end(), want.begin());
                ADD_FAILURE() << "buffered entry " << index << " state " << j << " count " << count << " seed "
                              << seed << "\n first differing cycle "
                              << (diff.first == got.end() ? -1 : int64_t(diff.first - got.begin()))
                              << "\n initial  " << initial << "\n got      " << fieldsOf(voice) << "\n expected "
                              << expected;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Shards, BufferedEntries, ::testing::Range(0u, 4u));

// The buffered entries, fed with the tops of the direct reference's own stepping, give the
// direct entry's outputs (the tops carry sync, test and the quirk).
TEST(WaveRenderCrossPath, BufferedEntriesFollowDirectSteppingTops)
{
    const uint64_t seed = 0xC055u;
    Rng rng(seed);
    const TablePool tables(rng);
    int failures = 0;
    for (unsigned index = 0; index < kWaveRenderTableSize && failures < 3; ++index) {
        const bool source = index & 128, ring = index & 256, sync = index & 512;
        if (isEmptyEntry(index) || source != (ring || sync))
            continue;  // the render paths pass a source exactly with ring or sync
        const unsigned nibble = index & 15;
        const unsigned buffered = nibble + ((index & 16) ? 16 : 0) + ((index & 64) ? 32 : 0) + (ring ? 64 : 0);
        for (int j = 0; j < 200 && failures < 3; ++j) {
            const uint64_t count = kBlockCounts[j % std::size(kBlockCounts)];
            SIDVoice voice;
            randomVoice(rng, voice, tables);
            const SourceCopy sourceCopy = randomSource(rng);
            Tops own(count), sourceTops(count);
            ref::Osc direct = toRef(voice);
            ref::Source src{sourceCopy.accumulator, sourceCopy.frequency, sourceCopy.msb};
            std::vector<uint32_t> want(count), got(count, kSentinel);
            ref::renderDirect(direct, src, index, want.data(), count, own.at(), sourceTops.at());

            kWaveRenderBufferedTable[buffered](voice, got.data(), count, own.at(), sourceTops.at());
            bool ok = got == want && voice.lastOutput == direct.lastOutput;
            if (nibble >= 8)
                ok = ok && voice.noisePending == direct.noisePending && voice.noiseLatched == direct.noiseLatched &&
                     voice.noiseOutput == direct.noiseOutput && voice.noiseResetCounter == direct.noiseResetCounter &&
                     voice.noiseClockedSinceTest == direct.noiseClocked && voice.noisePhase == direct.noisePhase;
            if (!ok) {
                ++failures;
                const auto diff = std::mismatch(got.begin(), got.end(), want.begin());
                ADD_FAILURE() << "direct entry " << index << " / buffered " << buffered << " state " << j << " count "
                              << count << " seed " << seed << " first differing cycle "
                              << (diff.first == got.end() ? -1 : int64_t(diff.first - got.begin()));
            }
        }
    }
}

}  // namespace
