#pragma once
// Output filters of the instrument: one-pole low- and high-pass at the chip rate, and the
// host-rate output stage (four shelving and peaking sections; a pass-through in mode 0).

#include <cstdint>

class Filter
{
public:
    virtual ~Filter() = default;

    // Filters `frames` samples in place; frames <= 0 changes nothing.
    virtual void process(float* buffer, int frames) = 0;
    // a = exp(-2 pi cutoff / rate) in double; c0 = (float)(1 - a), c1 = -(float)a.
    virtual void updateCoefficients();

    void setCutoff(double hz) { cutoff = hz; }
    void setSampleRate(double hz) { sampleRate = hz; }
    void setState(double value) { state = value; }
    double getCutoff() const { return cutoff; }
    double getSampleRate() const { return sampleRate; }
    double getState() const { return state; }
    double getC0() const { return c0; }
    double getC1() const { return c1; }

protected:
    Filter(double cutoffHz, double rateHz) : cutoff(cutoffHz), sampleRate(rateHz)
    {
        Filter::updateCoefficients();
    }

    double c0 = 0.0;  // 1 - a, at float precision
    double c1 = 0.0;  // -a, at float precision
    double state = 0.0;
    double cutoff;
    double sampleRate;
};

// state <- c0 x - c1 state, written out as float; the state keeps double precision. Both one-pole
// filters start at 100 Hz for 44100 Hz, their coefficients already computed.
class LPFilter : public Filter
{
public:
    LPFilter() : Filter(100.0, 44100.0) {}
    void process(float* buffer, int frames) override;
    // The low-pass of the decimating chain, on ticks times `scale`: the state moves by c0 of its
    // distance to the input and lands exactly on an input it has come within 1e-12 of. Runs in
    // blocks of 8 whose sums do not wait on the state, so one step per block does.
    void processTicks(const int32_t* ticks, float scale, float* out, uint64_t frames);
};

// The same state as the low-pass; writes x - state.
class HPFilter : public Filter
{
public:
    HPFilter() : Filter(100.0, 44100.0) {}
    void process(float* buffer, int frames) override;
};

class SIDOutputFilter : public Filter
{
public:
    struct Section
    {
        float p0, p1;      // -a1/a0, -a2/a0
        float b0, b1, b2;  // normalised by a0
        float x1, x2, y1, y2;
    };
    static constexpr int kSections = 4;

    // Designed at construction: a pass-through until a mode is chosen.
    SIDOutputFilter();

    // Runs the sections one after another over the whole buffer, in float.
    void process(float* buffer, int frames) override;
    // Designs the sections for the mode at the sample rate; modes other than 1 and 2 pass through.
    void updateCoefficients() override;

    void setMode(int64_t m) { mode = m; }
    int64_t getMode() const { return mode; }
    const Section& getSection(int i) const { return sections[i]; }

private:
    int64_t mode = 0;
    Section sections[kSections] = {};
};
