#pragma once
// Measurements on rendered audio: the strongest frequency of a raised-cosine-windowed FFT, and
// RMS levels.

#include <cmath>
#include <complex>
#include <cstddef>
#include <utility>
#include <vector>

namespace analysis {

// In-place radix-2 FFT; the size must be a power of two.
inline void fft(std::vector<std::complex<double>>& x)
{
    const size_t n = x.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(x[i], x[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const double angle = -2.0 * M_PI / double(len);
        for (size_t i = 0; i < n; i += len)
            for (size_t k = 0; k < len / 2; ++k) {
                const std::complex<double> w = std::polar(1.0, angle * double(k));
                const std::complex<double> u = x[i + k], v = x[i + k + len / 2] * w;
                x[i + k] = u + v;
                x[i + k + len / 2] = u - v;
            }
    }
}

// Magnitudes of bins 0 to n/2 - 1 of n samples (a power of two) under a Hann window.
inline std::vector<double> magnitudes(const float* samples, size_t n)
{
    std::vector<std::complex<double>> x(n);
    for (size_t i = 0; i < n; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * M_PI * double(i) / double(n));
        x[i] = w * double(samples[i]);
    }
    fft(x);
    std::vector<double> m(n / 2);
    for (size_t k = 0; k < m.size(); ++k)
        m[k] = std::abs(x[k]);
    return m;
}

// Index of the strongest bin (DC left out) of n samples (a power of two) under a Hann window.
inline size_t peakBin(const float* samples, size_t n)
{
    const std::vector<double> m = magnitudes(samples, n);
    size_t best = 1;
    for (size_t k = 2; k < m.size(); ++k)
        if (m[k] > m[best])
            best = k;
    return best;
}

// The frequency of every whole cycle from sample `from` on, measured between interpolated
// rising zero crossings: for notes that change too often for a spectrum's lines to sit on them.
inline std::vector<double> cycleFrequencies(const std::vector<float>& x, size_t from, double rate)
{
    std::vector<double> out;
    double last = -1.0;
    for (size_t i = from + 1; i < x.size(); ++i) {
        if (!(x[i - 1] < 0.0f && x[i] >= 0.0f))
            continue;
        const double at = double(i - 1) + double(-x[i - 1]) / double(x[i] - x[i - 1]);
        if (last >= 0.0)
            out.push_back(rate / (at - last));
        last = at;
    }
    return out;
}

inline double binFrequency(size_t bin, size_t n, double rate)
{
    return double(bin) * rate / double(n);
}

inline double rms(const float* samples, size_t n)
{
    double sum = 0.0;
    for (size_t i = 0; i < n; ++i)
        sum += double(samples[i]) * double(samples[i]);
    return n ? std::sqrt(sum / double(n)) : 0.0;
}

// RMS about the mean: a DC level does not count.
inline double rmsAboutMean(const float* samples, size_t n)
{
    double mean = 0.0;
    for (size_t i = 0; i < n; ++i)
        mean += double(samples[i]);
    mean = n ? mean / double(n) : 0.0;
    double sum = 0.0;
    for (size_t i = 0; i < n; ++i)
        sum += (double(samples[i]) - mean) * (double(samples[i]) - mean);
    return n ? std::sqrt(sum / double(n)) : 0.0;
}

}  // namespace analysis
