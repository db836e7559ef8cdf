// Helpers of the audio tests: the speech sample made at build time, files, outside tools, SNR.
#pragma once

#include "audio_signal.h"
#include "media/audio/wavfile.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

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

} // namespace audiotest
