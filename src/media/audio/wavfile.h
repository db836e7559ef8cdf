// 16-bit PCM WAV files, as the command-line client records and plays them.
#pragma once

#include "platform/wintypes.h"

#include <string>
#include <vector>

struct WavAudio {
    DWORD dwRate = 8000;
    WORD usChannels = 1;
    std::vector<BYTE> data; // 16-bit little-endian samples, interleaved
};

// Reads a RIFF/WAVE file with 16-bit PCM data. False (and a reason in strError) for anything
// else or a file cut short.
bool ReadWavFile(const std::string& strPath, WavAudio& wav, std::string& strError);
bool WriteWavFile(const std::string& strPath, const WavAudio& wav);
