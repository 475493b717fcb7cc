#include "instrument/OutputFilters.h"

#include <cmath>

void Filter::updateCoefficients()
{
    const double a = std::exp(-6.283185307179586 * cutoff / sampleRate);
    c0 = double(float(1.0 - a));
    c1 = double(-float(a));
}

void LPFilter::process(float* buffer, int frames)
{
    double s = state;
    for (int i = 0; i < frames; ++i) {
        s = c0 * double(buffer[i]) - c1 * s;
        buffer[i] = float(s);
    }
    state = s;
}

void LPFilter::processTicks(const int32_t* ticks, float scale, float* out, uint64_t frames)
{
    constexpr uint64_t kBlock = 8;
    constexpr double kSettled = 1e-12;
    const double c = c0, a = 1.0 - c0;
    double power[kBlock];  // a^(k + 1)
    power[0] = a;
    for (uint64_t k = 1; k < kBlock; ++k)
        power[k] = power[k - 1] * a;
    double s = state;
    uint64_t i = 0;
    // Two blocks side by side, one in each lane, with the same operations; the first block's
    // outputs as soon as their sums are known, the second's once the state has passed the first.
    using D2 = double __attribute__((vector_size(16)));
    const D2 a2 = {a, a}, c2 = {c, c};
    const auto input = [&](uint64_t at) { return double(float(ticks[at]) * scale); };
    for (; i + 2 * kBlock <= frames; i += 2 * kBlock) {
        double second[kBlock];
        D2 v = c2 * D2{input(i), input(i + kBlock)};
        out[i] = float(v[0] + power[0] * s);
        second[0] = v[1];
        for (uint64_t k = 1; k < kBlock; ++k) {
            v = a2 * v + c2 * D2{input(i + k), input(i + kBlock + k)};
            out[i + k] = float(v[0] + power[k] * s);
            second[k] = v[1];
        }
        for (uint64_t b = 0; b < 2; ++b) {
            if (b == 1) {
                for (uint64_t k = 0; k < kBlock; ++k)
                    out[i + kBlock + k] = float(second[k] + power[k] * s);
            }
            s = (b == 0 ? v[0] : v[1]) + power[kBlock - 1] * s;
            const double last = input(i + b * kBlock + kBlock - 1);
            if (std::fabs(last - s) <= kSettled)
                s = last;
        }
    }
    for (; i + kBlock <= frames; i += kBlock) {
        double v = c * double(float(ticks[i]) * scale);
        out[i] = float(v + power[0] * s);
        for (uint64_t k = 1; k < kBlock; ++k) {
            v = a * v + c * double(float(ticks[i + k]) * scale);
            out[i + k] = float(v + power[k] * s);
        }
        s = v + power[kBlock - 1] * s;
        const double last = double(float(ticks[i + kBlock - 1]) * scale);
        if (std::fabs(last - s) <= kSettled)
            s = last;
    }
    for (; i < frames; ++i) {
        const double x = double(float(ticks[i]) * scale);
        s += c * (x - s);
        if (std::fabs(x - s) <= kSettled)
            s = x;
        out[i] = float(s);
    }
    state = s;
}

void HPFilter::process(float* buffer, int frames)
{
    double s = state;
    for (int i = 0; i < frames; ++i) {
        const double x = double(buffer[i]);
        s = c0 * x - c1 * s;
        buffer[i] = float(x - s);
    }
    state = s;
}

namespace {

enum class SectionType { HighShelf, Peak };

struct SectionDesign
{
    SectionType type;
    float k;  // 2 pi f0
    float d;
    float e;  // gain in dB / 40
};

// Modes 1 and 2: the output stage of the two chip models.
constexpr SectionDesign kModeDesigns[2][SIDOutputFilter::kSections] = {
    {{SectionType::HighShelf, 22748.90234375f, 0.8f, -0.23f},      // 3620.6 Hz, -9.2 dB
     {SectionType::HighShelf, 73659.0390625f, 1.62f, -0.6425f},    // 11723.2 Hz, -25.7 dB
     {SectionType::Peak, 92700.859375f, 1.738f, 0.205f},           // 14753.8 Hz, +8.2 dB
     {SectionType::Peak, 4707.36279296875f, 1.364f, 0.02f}},       // 749.2 Hz, +0.8 dB
    {{SectionType::HighShelf, 22748.90234375f, 0.8f, -0.365f},     // 3620.6 Hz, -14.6 dB
     {SectionType::HighShelf, 73659.0390625f, 1.62f, -0.2875f},    // 11723.2 Hz, -11.5 dB
     {SectionType::Peak, 92700.859375f, 1.738f, 0.205f},           // 14753.8 Hz, +8.2 dB
     {SectionType::Peak, 122947.484375f, 2.4438f, -0.1375f}},      // 19567.7 Hz, -5.5 dB
};

bool isPassThrough(const SIDOutputFilter::Section& s)
{
    return s.b0 == 1.0f && s.b1 == 0.0f && s.b2 == 0.0f && s.p0 == 0.0f && s.p1 == 0.0f;
}

}  // namespace

SIDOutputFilter::SIDOutputFilter() : Filter(300.0, 44100.0)
{
    SIDOutputFilter::updateCoefficients();
}

void SIDOutputFilter::updateCoefficients()
{
    for (int i = 0; i < kSections; ++i) {
        Section& s = sections[i];
        if (mode != 1 && mode != 2) {
            s.p0 = -0.0f;
            s.p1 = -0.0f;
            s.b0 = 1.0f;
            s.b1 = 0.0f;
            s.b2 = 0.0f;
            continue;
        }
        const SectionDesign& design = kModeDesigns[mode - 1][i];
        const float w0 = design.k / float(sampleRate);
        const float cw = std::cos(w0);
        const float alpha = std::sin(w0) / design.d;
        const float A = std::pow(10.0f, design.e);
        float a0, a1, a2, b0, b1, b2;
        if (design.type == SectionType::HighShelf) {
            const float sa = 2.0f * std::sqrt(A) * alpha;
            a0 = (A + 1.0f) - (A - 1.0f) * cw + sa;
            a1 = 2.0f * ((A - 1.0f) - (A + 1.0f) * cw);
            a2 = (A + 1.0f) - (A - 1.0f) * cw - sa;
            b0 = A * ((A + 1.0f) + (A - 1.0f) * cw + sa);
            b1 = -2.0f * A * ((A - 1.0f) + (A + 1.0f) * cw);
            b2 = A * ((A + 1.0f) + (A - 1.0f) * cw - sa);
        } else {
            a0 = 1.0f + alpha / A;
            a1 = -2.0f * cw;
            a2 = 1.0f - alpha / A;
            b0 = 1.0f + alpha * A;
            b1 = -2.0f * cw;
            b2 = 1.0f - alpha * A;
        }
        s.p0 = -a1 / a0;
        s.p1 = -a2 / a0;
        s.b0 = b0 / a0;
        s.b1 = b1 / a0;
        s.b2 = b2 / a0;
    }
}

void SIDOutputFilter::process(float* buffer, int frames)
{
    if (frames <= 0)
        return;
    for (Section& s : sections) {
        if (isPassThrough(s)) {
            // y = x exactly; keep the history as the full computation would.
            if (frames > 1) {
                s.x2 = s.y2 = buffer[frames - 2];
            } else {
                s.x2 = s.x1;
                s.y2 = s.y1;
            }
            s.x1 = s.y1 = buffer[frames - 1];
            continue;
        }
        float x1 = s.x1, x2 = s.x2, y1 = s.y1, y2 = s.y2;
        for (int i = 0; i < frames; ++i) {
            const float x = buffer[i];
            const float y = s.p0 * y1 + s.p1 * y2 + s.b0 * x + s.b1 * x1 + s.b2 * x2;
            x2 = x1;
            x1 = x;
            y2 = y1;
            y1 = y;
            buffer[i] = y;
        }
        s.x1 = x1;
        s.x2 = x2;
        s.y1 = y1;
        s.y2 = y2;
    }
}
