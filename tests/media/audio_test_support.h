// Helpers of the audio tests: the speech sample made at build time, files, outside tools, SNR.
#pragma once

#include "media/audio/wavfile.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace audiotest {

// 8000 Hz, 16-bit mono speech from espeak-ng (see CMakeLists.txt).
inline std::vector<BYTE> SpeechPcm()
{
    WavAudio wav;
    std::string strError;
    EXPECT_TRUE(ReadWavFile(AUDIO_TEST_SPEECH, wav, strError)) << strError;
    EXPECT_EQ(wav.dwRate, 8000u);
    return wav.data;
}

inline std::vector<BYTE> ReadFile(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const std::string& strPath, const std::vector<BYTE>& data)
{
    std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

inline int RunTool(const std::string& strCommand)
{
    return std::system((strCommand + " >/dev/null 2>&1").c_str());
}

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

// Where `ref` appears in `test`: the delay (-800..nMaxLag samples; negative when the start of the
// reference is missing) found with a 2-second excerpt of the reference, then the correlation of
// the whole reference at that delay.
inline double PeakCorrelation(const std::vector<BYTE>& ref, const std::vector<BYTE>& test, int nMaxLag,
                              int* pnLag = nullptr)
{
    const std::vector<double> r = Samples(ref), t = Samples(test);
    const std::size_t nFrom = r.size() / 4, nTo = std::min(r.size(), nFrom + 16000);
    double dBest = -1;
    int nBestLag = 0;
    for (int lag = -800; lag <= nMaxLag && lag < int(t.size()); ++lag) {
        const double d = CorrelationAt(r, t, nFrom, nTo, lag);
        if (d > dBest) {
            dBest = d;
            nBestLag = lag;
        }
    }
    if (pnLag)
        *pnLag = nBestLag;
    return CorrelationAt(r, t, 0, r.size(), nBestLag);
}

} // namespace audiotest
