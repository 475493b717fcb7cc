#include "sid/SIDFilter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

SIDFilterLinear makeLinear(uint32_t cutoff, uint32_t resonance)
{
    SIDFilterLinear f;
    f.setRate(1000000.0f);
    f.setCutoff(cutoff);
    f.setResonance(resonance);
    f.update();
    return f;
}

// Frequency (Hz) that a coefficient f = 2 sin(pi w) stands for at the given rate.
double frequencyOf(float coefficient, double rate)
{
    return std::asin(double(coefficient) / 2.0) / std::numbers::pi * rate;
}

struct Modes {
    float lp, bp, hp;
};
constexpr Modes kLowPass{1, 0, 0};
constexpr Modes kHighPass{0, 0, 1};

// Gain in dB of a settled sine at 1 MHz through the filter.
double sineGainDb(SIDFilterLinear f, double hz, Modes m)
{
    const double rate = 1000000.0;
    const size_t settle = 200000, measure = 200000;  // whole periods of 100 Hz and 5 kHz
    std::vector<float> in(settle + measure), out(settle + measure, 0.0f);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = float(std::sin(2.0 * std::numbers::pi * hz * double(i) / rate));
    for (size_t pos = 0; pos < in.size(); pos += 1000)
        f.process(in.data() + pos, out.data() + pos, 1000, m.lp, m.bp, m.hp);
    double sumIn = 0, sumOut = 0;
    for (size_t i = settle; i < in.size(); ++i) {
        sumIn += double(in[i]) * in[i];
        sumOut += double(out[i]) * out[i];
    }
    return 10.0 * std::log10(sumOut / sumIn);
}

std::vector<float> randomInput(std::mt19937& rng, size_t n, float amplitude)
{
    std::uniform_real_distribution<float> d(-amplitude, amplitude);
    std::vector<float> v(n);
    for (auto& x : v)
        x = d(rng);
    return v;
}

// A synthetic measured chip: smooth positive curves, sloped line rows and non-trivial constants.
std::unique_ptr<SIDChipRecord> makeRecord()
{
    auto r = std::make_unique<SIDChipRecord>();
    for (int i = 0; i < 16; ++i) {
        r->lineRows[i] = {0.6f - 0.02f * float(i), 0.05f, 0.08f, 200.0f + 900.0f * float(i)};
        r->inverseQ[i] = 0.05f * float(i);
    }
    for (size_t j = 0; j < kFilterCurveSteps; ++j) {
        float* band = r->filterData.data() + j * 2 * kFilterCurveLength;
        float* low = band + kFilterCurveLength;
        for (size_t k = 0; k < kFilterCurveLength; ++k) {
            band[k] = float(0.6 + 0.4 * std::sin(double(k) / 400.0 + double(j)));
            low[k] = float(0.5 + 0.3 * std::cos(double(k) / 300.0 - double(j)));
        }
    }
    r->bleedoffsethpf = 0.01f;
    r->bleedoffsetbpf = -0.02f;
    r->adjustinputgain = 1.2f;
    r->adjustinputbias = 0.1f;
    r->adjustoutputlpfbias = 0.05f;
    r->adjustoutputgain = 0.9f;
    r->resonancedrop = 0.02f;
    r->curveclip = 6.5f;
    r->nameFixFlag = 1;
    r->nameFixOffsets = {0.03f, -0.05f};
    return r;
}

void prepare(SIDFilter_table& f, const SIDChipRecord* r, uint32_t cutoff, uint32_t resonance)
{
    f.setRate(1000000.0);
    f.setRecord(r);
    f.reset();
    f.setCutoff(cutoff);
    f.setResonance(resonance);
    f.update();
    f.updateResonance();
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::bit_cast<uint32_t>(a[i]) != std::bit_cast<uint32_t>(b[i]))
            return false;
    return true;
}

// Random blocks mixing constant runs (silence and DC levels) with changing input.
std::vector<std::vector<float>> mixedBlocks(std::mt19937& rng)
{
    std::vector<std::vector<float>> blocks;
    for (int b = 0; b < 200; ++b) {
        const size_t n = 1 + rng() % 400;
        std::vector<float> block;
        switch (rng() % 4) {
        case 0:  // constant block
            block.assign(n, rng() % 2 ? 0.0f : 0.25f * float(rng() % 5));
            break;
        case 1:  // constant run, then noise
            block.assign(n, 0.5f);
            for (size_t i = rng() % n; i < n; ++i)
                block[i] = float(int(rng() % 200) - 100) / 50.0f;
            break;
        case 2:  // constant, a blip, constant again
            block.assign(n, 0.0f);
            block[rng() % n] = 1.0f;
            break;
        default:
            block = randomInput(rng, n, 2.0f);
            break;
        }
        blocks.push_back(std::move(block));
    }
    return blocks;
}

}  // namespace

TEST(SIDFilterLinear, LowAndHighPassResponseAt498Hz)
{
    const SIDFilterLinear f = makeLinear(97, 0);
    EXPECT_NEAR(frequencyOf(f.getFrequencyCoefficient(), 1e6), 497.55, 0.5);
    EXPECT_NEAR(sineGainDb(f, 100.0, kLowPass), 0.0, 1.0);
    EXPECT_LE(sineGainDb(f, 5000.0, kLowPass), -30.0);
    EXPECT_LE(sineGainDb(f, 100.0, kHighPass), -20.0);
    EXPECT_NEAR(sineGainDb(f, 5000.0, kHighPass), 0.0, 1.0);
}

TEST(SIDFilterLinear, CutoffRangeAndOffset)
{
    EXPECT_NEAR(frequencyOf(makeLinear(0, 0).getFrequencyCoefficient(), 1e6), 1.026, 0.001);
    EXPECT_NEAR(frequencyOf(makeLinear(2047, 0).getFrequencyCoefficient(), 1e6), 10500.0, 1.0);

    // "Filter Cutoff Offset" +1 scales the frequency term by 4.
    SIDFilterLinear f = makeLinear(97, 0);
    const double base = frequencyOf(f.getFrequencyCoefficient(), 1e6);
    f.setParameter(SIDFilterParam::kCutoffOffset, 1.0f);
    EXPECT_FLOAT_EQ(f.getCutoffScale(), 4.0f);
    EXPECT_NEAR(frequencyOf(f.getFrequencyCoefficient(), 1e6) / base, 4.0, 1e-4);

    // Registers are masked to 11 and 4 bits; other parameter indices and NaN change nothing.
    SIDFilterLinear masked = makeLinear(0xFFFF, 0x1F);
    EXPECT_EQ(masked.getCutoff(), 2047u);
    EXPECT_EQ(masked.getResonance(), 15u);
    EXPECT_EQ(masked.getFrequencyCoefficient(), makeLinear(2047, 15).getFrequencyCoefficient());
    f.setParameter(SIDFilterParam::kCutoffOffset, kNaN);
    f.setParameter(SIDFilterParam::kGain, kInf);
    f.setParameter(SIDFilterParam::kDistGain, 1.0f);
    f.setParameter(SIDFilterParam::kGain, 1e30f);
    EXPECT_EQ(f.getCutoffScale(), 4.0f);
    EXPECT_EQ(f.getGain(), 1.0f);

    // Resonance adds the table's damping term.
    EXPECT_FLOAT_EQ(makeLinear(97, 0).getDamping(), 0.45315537f + 1.2719839f);
    EXPECT_FLOAT_EQ(makeLinear(97, 15).getDamping(), 0.45315537f);
}

TEST(SIDFilterLinear, GainParameterScalesTheOutputExactly)
{
    std::mt19937 rng(11);
    const std::vector<float> in = randomInput(rng, 5000, 1.5f);
    const auto render = [&](float gainParameter) {
        SIDFilterLinear f = makeLinear(600, 9);
        f.setParameter(SIDFilterParam::kGain, gainParameter);
        std::vector<float> out(in.size(), 0.0f);
        f.process(in.data(), out.data(), in.size(), 1.0f, 0.5f, 0.25f);
        return out;
    };
    const std::vector<float> base = render(0.0f), up = render(1.0f), down = render(-1.0f);
    for (size_t i = 0; i < in.size(); ++i) {
        ASSERT_EQ(up[i], base[i] * 16.0f) << i;
        ASSERT_EQ(down[i], base[i] / 16.0f) << i;
    }
}

TEST(SIDFilterLinear, FirstBlockStartsAtRest)
{
    const std::vector<float> in(1000, 0.7f);
    SIDFilterLinear f = makeLinear(97, 0);
    f.setFirstBlock();
    std::vector<float> out(in.size(), 0.0f);
    f.process(in.data(), out.data(), 0, 1.0f, 0.0f, 0.0f);  // n = 0 keeps the flag
    EXPECT_EQ(f.getFirstBlock(), 1);
    f.process(in.data(), out.data(), in.size(), 1.0f, 0.0f, 0.0f);
    EXPECT_EQ(f.getFirstBlock(), 0);
    for (float y : out)
        ASSERT_EQ(y, -0.7f);  // the low-pass output inverts

    // Without the flag the output has to settle from the zero state.
    SIDFilterLinear cold = makeLinear(97, 0);
    std::vector<float> coldOut(in.size(), 0.0f);
    cold.process(in.data(), coldOut.data(), in.size(), 1.0f, 0.0f, 0.0f);
    EXPECT_NE(coldOut.front(), coldOut.back());
}

TEST(SIDFilters, ConstantInputShortcutIsExact)
{
    std::mt19937 rng(5);
    const auto blocks = mixedBlocks(rng);
    const auto record = makeRecord();

    const auto renderLinear = [&](bool shortcut) {
        SIDFilterLinear f = makeLinear(300, 6);
        f.setConstantInputShortcut(shortcut);
        f.setFirstBlock();
        std::vector<float> all;
        for (const auto& block : blocks) {
            std::vector<float> out(block.size(), 0.0f);
            f.process(block.data(), out.data(), block.size(), 1.0f, 0.5f, 0.25f);
            all.insert(all.end(), out.begin(), out.end());
        }
        all.push_back(f.getBandState());
        all.push_back(f.getLowState());
        return all;
    };
    EXPECT_TRUE(sameBits(renderLinear(true), renderLinear(false)));

    for (const SIDChipRecord* r : {static_cast<const SIDChipRecord*>(record.get()),
                                   static_cast<const SIDChipRecord*>(nullptr)}) {
        SIDChipRecord plain;  // default record: settles exactly on constant input
        const SIDChipRecord* use = r ? r : &plain;
        const auto renderTable = [&](bool shortcut) {
            SIDFilter_table f;
            prepare(f, use, 900, 3);
            f.setConstantInputShortcut(shortcut);
            std::vector<float> all;
            for (const auto& block : blocks) {
                std::vector<float> out(block.size(), 0.0f);
                f.process(block.data(), out.data(), block.size(), 0.5f, 1.0f, 0.25f);
                all.insert(all.end(), out.begin(), out.end());
            }
            all.push_back(f.getBandState());
            all.push_back(f.getLowState());
            return all;
        };
        EXPECT_TRUE(sameBits(renderTable(true), renderTable(false))) << (r ? "synthetic" : "default");
    }
}

TEST(SIDFilterTable, WithoutARecordDoesNothing)
{
    SIDFilter_table f;
    f.setRate(1000000.0);
    f.setCutoff(1000);
    f.update();
    f.updateResonance();
    EXPECT_EQ(f.getFrequencyCoefficient(), 0.0f);
    std::vector<float> in(100, 1.0f), out(100, 3.0f);
    f.process(in.data(), out.data(), in.size(), 1.0f, 1.0f, 1.0f);
    for (float y : out)
        ASSERT_EQ(y, 3.0f);
    float a = 1, b = 1;
    f.getModeDc(a, b);
    EXPECT_EQ(a, 0.0f);
    EXPECT_EQ(b, 0.0f);
    EXPECT_EQ(f.getInputScale(), 1.0f);
}

TEST(SIDFilterTable, RecordTermsAndParameters)
{
    const auto r = makeRecord();
    SIDFilter_table f;
    prepare(f, r.get(), 1000, 7);
    float a = 0, b = 0;
    f.getModeDc(a, b);
    EXPECT_EQ(a, -(0.05f + 0.01f));
    EXPECT_EQ(b, -(0.08f + -0.02f));
    EXPECT_EQ(f.getInputScale(), 1.2f * 0.9f);
    EXPECT_EQ(f.getResonanceValue(), r->inverseQ[7]);

    // Cutoff 1000 sits at 7.327787 on the rows: cutoff term interpolated between rows 7 and 8.
    const float t = r->cutoffCurve[1000] - 7.0f;
    const double hz = (1.0f - t) * r->lineRows[7][3] + t * r->lineRows[8][3];
    EXPECT_NEAR(frequencyOf(f.getFrequencyCoefficient(), 1e6), hz, 0.05);

    // Parameters 0 and 1 act as 2^(4v), 2 and 3 as 2^(2v).
    f.setParameter(SIDFilterParam::kDistGain, 0.5f);
    EXPECT_EQ(f.getDistortionGain(), 4.0f);
    f.setParameter(SIDFilterParam::kDcGain, -0.25f);
    EXPECT_EQ(f.getDcGain(), 0.5f);
    EXPECT_EQ(f.getInputStageGain(), r->bpfdrivescale * 4.0f * 0.5f);
    EXPECT_EQ(f.getOutputStageGain(), 4.0f * r->lpfdrivescale);
    f.setParameter(SIDFilterParam::kCutoffOffset, 0.5f);
    EXPECT_EQ(f.getCutoffScale(), 2.0f);
    EXPECT_NEAR(frequencyOf(f.getFrequencyCoefficient(), 1e6), 2.0 * hz, 0.1);
    f.setParameter(SIDFilterParam::kGain, -1.0f);
    EXPECT_EQ(f.getOutputGain(), 0.25f);
    for (float bad : {kNaN, kInf, -kInf}) {
        for (uint32_t index = 0; index < 4; ++index)
            f.setParameter(index, bad);
    }
    EXPECT_EQ(f.getDistortionGain(), 4.0f);
    EXPECT_EQ(f.getDcGain(), 0.5f);
    EXPECT_EQ(f.getCutoffScale(), 2.0f);
    EXPECT_EQ(f.getOutputGain(), 0.25f);

    // The output gain scales the output exactly.
    std::mt19937 rng(3);
    const std::vector<float> in = randomInput(rng, 3000, 1.0f);
    const auto render = [&](float gainParameter) {
        SIDFilter_table g;
        prepare(g, r.get(), 1500, 12);
        g.setParameter(SIDFilterParam::kGain, gainParameter);
        std::vector<float> out(in.size(), 0.0f);
        g.process(in.data(), out.data(), in.size(), 1.0f, 0.5f, 0.25f);
        return out;
    };
    const std::vector<float> base = render(0.0f), up = render(1.0f);
    for (size_t i = 0; i < in.size(); ++i)
        ASSERT_EQ(up[i], base[i] * 4.0f) << i;
}

TEST(SIDFilterTable, StatesStayBoundedOnWildInput)
{
    const auto r = makeRecord();
    std::mt19937 rng(99);
    SIDFilter_table f;
    prepare(f, r.get(), 0, 0);
    const float modes[] = {0.0f, 0.5f, 1.0f};
    for (int block = 0; block < 300; ++block) {
        f.setCutoff(rng() % 2048);
        f.setResonance(rng() % 16);
        f.update();
        f.updateResonance();
        std::vector<float> in = randomInput(rng, 1 + rng() % 500, 3.0f);
        for (auto& x : in) {
            if (rng() % 20 == 0)
                x = rng() % 2 ? 100.0f : -100.0f;
        }
        std::vector<float> out(in.size(), 0.0f);
        f.process(in.data(), out.data(), in.size(), modes[rng() % 3], modes[rng() % 3],
                  modes[rng() % 3]);
        ASSERT_GE(f.getBandState(), -50.0f);
        ASSERT_LE(f.getBandState(), 50.0f);
        ASSERT_GE(f.getLowState(), -50.0f);
        ASSERT_LE(f.getLowState(), 50.0f);
        for (float y : out)
            ASSERT_TRUE(std::isfinite(y)) << "block " << block;
    }

    const struct {
        float raw;
        float position;
    } positions[] = {{kNaN, 0.0f},     {-kInf, 0.0f},        {-3.0f, 0.0f},
                     {0.0f, 0.0f},     {1023.25f, 1023.25f}, {2046.5f, 2046.5f},
                     {2047.0f, 2046.9999f}, {1e30f, 2046.9999f}, {kInf, 2046.9999f}};
    for (const auto& p : positions)
        EXPECT_EQ(SIDFilter_table::curvePosition(p.raw), p.position) << p.raw;
    EXPECT_LT(SIDFilter_table::curvePosition(kInf), 2047.0f);
}

TEST(SIDFilterTable, FirstBlockAndPendingInputStep)
{
    // Default record: the first block starts the low state at minus the first input, at rest.
    SIDChipRecord plain;
    SIDFilter_table f;
    prepare(f, &plain, 500, 0);
    EXPECT_EQ(f.getFirstBlock(), 1);
    const std::vector<float> in(64, 0.3f);
    std::vector<float> out(in.size(), 0.0f);
    f.process(in.data(), out.data(), 0, 1.0f, 0.0f, 0.0f);
    EXPECT_EQ(f.getFirstBlock(), 1);
    f.process(in.data(), out.data(), in.size(), 1.0f, 0.0f, 0.0f);
    EXPECT_EQ(f.getFirstBlock(), 0);
    EXPECT_EQ(f.getLowState(), -0.3f);
    EXPECT_EQ(f.getBandState(), 0.0f);
    for (float y : out)
        ASSERT_EQ(y, out.front());

    // Pending steps add up, survive an empty block and move the low state once.
    const auto r = makeRecord();
    SIDFilter_table a, b;
    prepare(a, r.get(), 800, 4);
    prepare(b, r.get(), 800, 4);
    std::mt19937 rng(8);
    const std::vector<float> warm = randomInput(rng, 500, 1.0f);
    std::vector<float> sink(warm.size(), 0.0f);
    a.process(warm.data(), sink.data(), warm.size(), 1.0f, 0.0f, 0.0f);
    b.process(warm.data(), sink.data(), warm.size(), 1.0f, 0.0f, 0.0f);
    a.addPendingInputStep(0.25f);
    a.addPendingInputStep(0.5f);
    a.process(warm.data(), sink.data(), 0, 1.0f, 0.0f, 0.0f);
    EXPECT_EQ(a.getPendingInputStep(), 0.75f);
    std::vector<float> outA(1, 0.0f), outB(1, 0.0f);
    a.process(warm.data(), outA.data(), 1, 1.0f, 0.0f, 0.0f);
    b.process(warm.data(), outB.data(), 1, 1.0f, 0.0f, 0.0f);
    EXPECT_EQ(a.getPendingInputStep(), 0.0f);
    EXPECT_NE(outA[0], outB[0]);
}

// Every field of the record set to NaN, infinities, negative or huge values: nothing is read outside
// an array and no conversion is undefined (the sanitizer build checks), in update and process, and
// process still writes its whole output.
TEST(SIDFilterTable, BadRecordValuesStayInBounds)
{
    using Field = float SIDChipRecord::*;
    const Field fields[] = {
        &SIDChipRecord::reshapegainin,       &SIDChipRecord::reshapebpfoffset,
        &SIDChipRecord::reshapelpfoffset,    &SIDChipRecord::reshapegainout,
        &SIDChipRecord::reshapebpfoffsetmod, &SIDChipRecord::reshapelpfoffsetmod,
        &SIDChipRecord::innerbpstg0in,       &SIDChipRecord::innerbphpfin,
        &SIDChipRecord::innerbpbiasin,       &SIDChipRecord::innerbpinclip,
        &SIDChipRecord::innerbpmxgain,       &SIDChipRecord::innerbpmxbias,
        &SIDChipRecord::innerbpagrinit,      &SIDChipRecord::innerbpagrminv,
        &SIDChipRecord::innerbpagrvldg,      &SIDChipRecord::innerbpagrgaib,
        &SIDChipRecord::bleedoffsetbpf,      &SIDChipRecord::bleedoffsethpf,
        &SIDChipRecord::bpfdrivescale,       &SIDChipRecord::lpfdrivescale,
        &SIDChipRecord::resonancedrop,       &SIDChipRecord::curveclip,
        &SIDChipRecord::adjustinputgain,     &SIDChipRecord::adjustinputbias,
        &SIDChipRecord::adjustoutputlpfbias, &SIDChipRecord::adjustoutputgain,
    };
    const float badValues[] = {kNaN, kInf, -kInf, -1e30f, 1e30f, -7.0f};
    const auto base = makeRecord();
    auto r = std::make_unique<SIDChipRecord>();
    std::mt19937 rng(1);
    const std::vector<float> in = randomInput(rng, 600, 4.0f);
    const uint32_t cutoffs[] = {0, 1, 1000, 2047};

    // The output may be anything (NaN too), but every sample of it is written: none keeps the bits
    // of a NaN that arithmetic does not make.
    const float kUnwritten = std::bit_cast<float>(0x7FA5A5A5u);
    const auto unwrittenIn = [&](const std::vector<float>& out) {
        return size_t(std::count_if(out.begin(), out.end(), [&](float v) {
            return std::bit_cast<uint32_t>(v) == std::bit_cast<uint32_t>(kUnwritten);
        }));
    };
    size_t unwritten = 0;
    const auto exercise = [&](const SIDChipRecord& record) {
        SIDFilter_table f;
        f.setRate(1000000.0);
        f.setRecord(&record);
        f.reset();
        for (uint32_t c : cutoffs) {
            f.setCutoff(c);
            f.setResonance(c);
            f.update();
            f.updateResonance();
            f.setParameter(SIDFilterParam::kDistGain, 1.0f);
            f.addPendingInputStep(kNaN);
            std::vector<float> out(in.size(), kUnwritten);
            f.process(in.data(), out.data(), in.size(), 1.0f, 1.0f, 1.0f);
            float a, b;
            f.getModeDc(a, b);
            (void)f.getInputScale();
            unwritten += unwrittenIn(out);
        }
        // The linear filter with the same rows as a table-model profile.
        SIDFilterLinear lin = makeLinear(0, 0);
        lin.setTables(record.inverseQ, record.lineRows);
        for (uint32_t c : cutoffs) {
            lin.setCutoff(c);
            lin.setResonance(c);
            lin.update();
            std::vector<float> out(in.size(), kUnwritten);
            lin.process(in.data(), out.data(), in.size(), 1.0f, 1.0f, 1.0f);
            unwritten += unwrittenIn(out);
        }
    };

    for (Field field : fields) {
        for (float v : badValues) {
            *r = *base;
            (*r).*field = v;
            exercise(*r);
        }
    }
    for (float v : badValues) {
        *r = *base;
        r->cutoffCurve.fill(v);
        r->inverseQ.fill(v);
        r->nameFixOffsets.fill(v);
        for (auto& row : r->lineRows)
            row.fill(v);
        exercise(*r);
        *r = *base;
        r->filterData.fill(v);
        r->cutoffCurve[1000] = v;
        exercise(*r);
    }
    EXPECT_EQ(unwritten, 0u);
}
