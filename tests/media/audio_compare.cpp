// audio_compare REF.wav TEST.wav MIN_CORRELATION [MAX_DELAY_MS]: where the reference speech
// appears in a recording. Prints the correlation at the best delay, the median correlation of its
// half seconds and the delay; exit 0 when that median reaches the minimum, 1 when not, 2 for a
// file that cannot be read.
#include "audio_signal.h"
#include "media/audio/wavfile.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: audio_compare REF.wav TEST.wav MIN_CORRELATION [MAX_DELAY_MS]\n");
        return 2;
    }
    WavAudio ref, test;
    std::string strError;
    if (!ReadWavFile(argv[1], ref, strError) || !ReadWavFile(argv[2], test, strError)) {
        std::fprintf(stderr, "audio_compare: %s\n", strError.c_str());
        return 2;
    }
    if (ref.dwRate != 8000 || test.dwRate != 8000 || ref.usChannels != 1 || test.usChannels != 1) {
        std::fprintf(stderr, "audio_compare: both files must be 8000 Hz mono\n");
        return 2;
    }
    const double dMin = std::atof(argv[3]);
    const int nMaxLag = (argc > 4 ? std::atoi(argv[4]) : 8000) * 8;
    int nLag = 0;
    const double dCorr = audiotest::PeakCorrelation(ref.data, test.data, nMaxLag, &nLag);
    const double dMedian = audiotest::MedianSegmentCorrelation(ref.data, test.data, nLag);
    std::printf(
        "{\"correlation\":%.3f,\"median_segment_correlation\":%.3f,\"delay_ms\":%d,\"test_seconds\":%.2f}\n",
        dCorr, dMedian, nLag / 8, double(test.data.size()) / 16000);
    return dMedian >= dMin ? 0 : 1;
}
