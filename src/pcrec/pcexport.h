// One camera's PC recordings of a time range into one MP4: the segments' video and sound
// copied as they are, from the key frame at or before the start to the end.
#pragma once

#include "pcrec/pcrecindex.h"

#include <cstdint>
#include <string>

struct PcExportResult {
    bool bOk = false;
    std::string strError;
    long long llVideoFrames = 0;
    long long llAudioPackets = 0;
    std::int64_t llStartMs = 0; // UTC of the first picture
    std::int64_t llEndMs = 0;
};

// Written beside strOutput and renamed to it once whole; on a failure strOutput is left as it was.
PcExportResult ExportPcRange(CPcRecIndex& index, const std::string& strSerial, std::int64_t llFromMs,
                             std::int64_t llToMs, const std::string& strOutput);
