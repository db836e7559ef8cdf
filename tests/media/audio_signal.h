// Comparing signals: SNR and correlation of 16-bit little-endian PCM. No test framework, so the
// lab's comparison tool uses it too.
#pragma once

#include "platform/wintypes.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace audiotest {

inline std::vector<double> Samples(const std::vector<BYTE>& pcm)
{
    std::vector<double> v(pcm.size() / 2);
    for (std::size_t i = 0; i < v.size(); ++i)
        v[i] = std::int16_t(std::uint16_t(pcm[2 * i] | pcm[2 * i + 1] << 8));
    return v;
}

// SNR in dB of `test` against `ref` at the lag (0..nMaxLag samples of delay in `test`) that
// suits it best, over the common length.
inline double BestLagSnr(const std::vector<BYTE>& ref, const std::vector<BYTE>& test, int nMaxLag,
                         int* pnLag = nullptr)
{
    const std::vector<double> r = Samples(ref), t = Samples(test);
    double dBest = -1e9;
    for (int lag = 0; lag <= nMaxLag; ++lag) {
        double dSig = 0, dErr = 0;
        for (std::size_t i = 0; i + lag < t.size() && i < r.size(); ++i) {
            dSig += r[i] * r[i];
            const double e = r[i] - t[i + lag];
            dErr += e * e;
        }
        const double dSnr = 10 * std::log10(dSig / std::max(dErr, 1e-9));
        if (dSnr > dBest) {
            dBest = dSnr;
            if (pnLag)
                *pnLag = lag;
        }
    }
    return dBest;
}

// Normalised correlation of `ref` with `test` delayed by nLag samples, over their overlap.
inline double CorrelationAt(const std::vector<double>& r, const std::vector<double>& t, std::size_t nFrom,
                            std::size_t nTo, int nLag)
{
    double dCross = 0, dR = 0, dT = 0;
    for (std::size_t i = nFrom; i < nTo && i < r.size(); ++i) {
        const std::ptrdiff_t j = std::ptrdiff_t(i) + nLag;
        if (j < 0)
            continue;
        if (std::size_t(j) >= t.size())
            break;
        dCross += r[i] * t[std::size_t(j)];
        dR += r[i] * r[i];
        dT += t[std::size_t(j)] * t[std::size_t(j)];
    }
    return dR > 0 && dT > 0 ? dCross / std::sqrt(dR * dT) : 0;
}

// Where `ref` appears in `test`: the delay (-8000..nMaxLag samples; negative when the start of the
// reference is missing), found on both signals averaged over 4 samples with a 2-second excerpt of
// the reference, then refined at the full rate. Returns the correlation of the whole reference
// at that delay.
inline double PeakCorrelation(const std::vector<BYTE>& ref, const std::vector<BYTE>& test, int nMaxLag,
                              int* pnLag = nullptr)
{
    const std::vector<double> r = Samples(ref), t = Samples(test);
    auto decimate = [](const std::vector<double>& v) {
        std::vector<double> d(v.size() / 4);
        for (std::size_t i = 0; i < d.size(); ++i)
            d[i] = v[4 * i] + v[4 * i + 1] + v[4 * i + 2] + v[4 * i + 3];
        return d;
    };
    const std::vector<double> rd = decimate(r), td = decimate(t);
    const std::size_t nFrom = rd.size() / 4, nTo = std::min(rd.size(), nFrom + 4000);
    double dBest = -2;
    int nCoarse = 0;
    // Only delays at which the whole excerpt lies within the test signal count.
    for (int lag = std::max(-2000, -int(nFrom)); lag <= nMaxLag / 4 && int(nTo) + lag <= int(td.size());
         ++lag) {
        const double d = CorrelationAt(rd, td, nFrom, nTo, lag);
        if (d > dBest) {
            dBest = d;
            nCoarse = lag;
        }
    }
    dBest = -2;
    int nBestLag = 4 * nCoarse;
    for (int lag = 4 * nCoarse - 8; lag <= 4 * nCoarse + 8; ++lag) {
        const double d = CorrelationAt(r, t, 4 * nFrom, 4 * nTo, lag);
        if (d > dBest) {
            dBest = d;
            nBestLag = lag;
        }
    }
    if (pnLag)
        *pnLag = nBestLag;
    return CorrelationAt(r, t, 0, r.size(), nBestLag);
}

// Speech through a real device may lose a few milliseconds here and there (a starved device
// thread drops a period, a player underruns); each half second of the reference that carries
// sound is therefore matched on its own, within 40 ms of where the one before it was found
// (starting at the overall delay nLag). Returns the median correlation.
inline double MedianSegmentCorrelation(const std::vector<BYTE>& ref, const std::vector<BYTE>& test, int nLag)
{
    const std::vector<double> r = Samples(ref), t = Samples(test);
    double dEnergy = 0;
    for (double v : r)
        dEnergy += v * v;
    const std::size_t nWindow = 4000;
    std::vector<double> results;
    for (std::size_t nFrom = 0; nFrom + nWindow <= r.size(); nFrom += nWindow) {
        double dWindow = 0;
        for (std::size_t i = nFrom; i < nFrom + nWindow; ++i)
            dWindow += r[i] * r[i];
        if (dWindow < 0.1 * dEnergy * nWindow / r.size())
            continue;
        double dBest = -1;
        int nBest = nLag;
        for (int lag = nLag - 320; lag <= nLag + 320; ++lag) {
            const double d = CorrelationAt(r, t, nFrom, nFrom + nWindow, lag);
            if (d > dBest) {
                dBest = d;
                nBest = lag;
            }
        }
        nLag = nBest; // gaps add up: the next half second is looked for from here
        results.push_back(dBest);
    }
    if (results.empty())
        return 0;
    std::sort(results.begin(), results.end());
    return results[results.size() / 2];
}

} // namespace audiotest
