#pragma once
// Attack-decay-sustain-release generator of one SID voice, with the two DAC tables that turn a
// 12-bit waveform value and an 8-bit envelope level into a signed sample.

#include <array>
#include <cstdint>

// Cycles per envelope step, by rate nibble.
inline constexpr std::array<uint32_t, 16> kEnvelopeRatePeriods = {
    9, 32, 63, 95, 149, 220, 267, 313, 392, 977, 1954, 3126, 3907, 11720, 19532, 31251};

namespace sid_envelope_detail {

constexpr std::array<uint32_t, 256> expPeriods()
{
    std::array<uint32_t, 256> t{};  // 0: keep the current period
    t[255] = 1;
    t[93] = 2;
    t[54] = 4;
    t[26] = 8;
    t[14] = 16;
    t[6] = 30;
    t[0] = 1;
    return t;
}

constexpr std::array<uint32_t, 256> envelopeDac()
{
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i)
        t[i] = 256 * i;
    return t;
}

constexpr std::array<int16_t, 4096> waveDac()
{
    std::array<int16_t, 4096> t{};
    for (int32_t i = 0; i < 4096; ++i)
        t[i] = int16_t(-380 + i * 1659 / 4095);
    return t;
}

}  // namespace sid_envelope_detail

// Exponential decay period by level; 0 keeps the current period.
inline constexpr std::array<uint32_t, 256> kEnvelopeExpPeriods = sid_envelope_detail::expPeriods();
inline constexpr std::array<uint32_t, 256> kDefaultEnvelopeDac = sid_envelope_detail::envelopeDac();
// -380 at 0 rising to 1279 at 4095.
inline constexpr std::array<int16_t, 4096> kDefaultWaveDac = sid_envelope_detail::waveDac();

class SIDEnvelope {
public:
    SIDEnvelope() { init(); }

    // Default DAC tables, cleared state, start-up behaviour (cycle-exact form, gate pipelining).
    void init();
    // Clears the state; keeps the behaviour flags and the DAC tables.
    void reset();

    void setAttackDecay(uint8_t v);
    void setSustainRelease(uint8_t v);
    void setGate(uint8_t g);

    // Scales n 12-bit waveform values in place into signed samples (stored as u32), advancing the
    // envelope by n cycles. leak adds a constant to the envelope multiplier (0 = none).
    void render(uint32_t* buffer, uint64_t n, float leak);
    // The quirk-free forms; render picks one of them when behaviourFixed is set.
    void renderExp(uint32_t* buffer, uint64_t n);
    void renderExpLeak(uint32_t* buffer, uint64_t n, float leak);
    void renderLin(uint32_t* buffer, uint64_t n);
    void renderLinLeak(uint32_t* buffer, uint64_t n, float leak);
    // Moves the state on by n cycles exactly as render would, without the samples.
    void advance(uint64_t n);
    // The level stays 0 until the next gate edge and every sample it scales is 0 (its DAC
    // multiplier at level 0 plus `leak`, the integer leak term, is 0).
    bool isSilentFromNowOn(int64_t leak) const;

    // Behaviour flags ("ADSR Behavior"): the choice sets pipelining equal to behaviourFixed.
    void setBehaviour(bool fixed, bool fastAttack, bool linear);
    void setBehaviourFixed(bool v) { behaviourFixed = v; }
    void setGatePipelining(bool v) { gatePipelining = v; }
    void setFastAttackZero(bool v) { fastAttackZero = v; }
    void setLinearRelease(bool v) { linearRelease = v; }

    // Tables are not owned and must outlive the envelope; null selects the default table.
    void setWaveDac(const int16_t* table) { waveDac = table ? table : kDefaultWaveDac.data(); }
    void setEnvelopeDac(const uint32_t* table)
    {
        envelopeDac = table ? table : kDefaultEnvelopeDac.data();
    }

    uint8_t getEnvelopeLevel() const { return envelopeLevel; }
    // The level as the DAC sees it two cycles late (register 28); only the cycle-exact form moves it.
    uint8_t getDacStage2() const { return dacStage2; }
    uint8_t getDacStage1() const { return dacStage1; }
    uint8_t getAttackPhase() const { return attackPhase; }
    uint8_t getGate() const { return gate; }
    uint8_t getPreviousGate() const { return previousGate; }
    uint32_t getRateCounter() const { return rateCounter; }
    uint8_t getExpCounter() const { return expCounter; }
    uint8_t getExpPeriod() const { return expPeriod; }
    uint8_t getRateMatch() const { return rateMatch; }
    uint8_t getExpStep() const { return expStep; }
    uint8_t getHoldAtZero() const { return holdAtZero; }
    uint8_t getLevelCheck() const { return levelCheck; }
    uint8_t getAttackEnd() const { return attackEnd; }
    uint8_t getBehaviourFixed() const { return behaviourFixed; }
    uint8_t getGatePipelining() const { return gatePipelining; }
    uint8_t getFastAttackZero() const { return fastAttackZero; }
    uint8_t getLinearRelease() const { return linearRelease; }
    const int16_t* getWaveDac() const { return waveDac; }
    const uint32_t* getEnvelopeDac() const { return envelopeDac; }

    // Integer leak term: floor(leak x 256 x 255 + 0.5), saturated.
    static int32_t leakTerm(float leak);

private:
    template <bool Linear, bool Write>
    void renderFixed(uint32_t* buffer, uint64_t n, int64_t leak);
    template <bool Write>
    void renderCycleExact(uint32_t* buffer, uint64_t n, int64_t leak);
    uint32_t currentPeriod() const;

    uint8_t attack = 0, decay = 0, sustain = 0, release = 0;
    uint8_t attackPhase = 0;   // 1 while the level rises
    uint8_t gate = 0;          // current gate bit
    uint8_t previousGate = 0;  // gate seen by the edge logic
    uint8_t envelopeLevel = 0;
    uint32_t rateCounter = 0;
    uint8_t rateMatch = 0;  // M: the counter matched the period in the last cycle
    uint8_t expCounter = 0;
    uint8_t expPeriod = 1;
    uint8_t expStep = 0;     // X: a level step is due in the next cycle
    uint8_t holdAtZero = 1;  // Z: the level is frozen at zero until the next gate-on edge
    uint8_t levelCheck = 0;  // K: the level changed, check it in the next cycle
    uint8_t attackEnd = 0;   // E: the attack ends in the next cycle
    uint8_t dacStage1 = 0;   // level one cycle late
    uint8_t dacStage2 = 0;   // level two cycles late
    uint8_t behaviourFixed = 0;
    uint8_t gatePipelining = 1;
    uint8_t fastAttackZero = 0;
    uint8_t linearRelease = 0;
    const int16_t* waveDac = kDefaultWaveDac.data();
    const uint32_t* envelopeDac = kDefaultEnvelopeDac.data();
};
