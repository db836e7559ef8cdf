// Export of downloaded AVI files to MP4, which every player opens: the stamp headers are
// stripped and the H.264 video is remuxed as it is, the GSM audio becomes AAC, and the
// recording's start time becomes the file's creation time.
#pragma once

#include <string>
#include <vector>

struct AviExportResult {
    bool bOk = false;
    std::string strError;
    long long llVideoFrames = 0;
    long long llAudioSamples = 0;
    long long llStartTime = 0; // camera seconds of the first frame
};

// The files are joined in the order given, their video (H.264 or MPEG-4, not mixed) remuxed
// and their sound on the same timeline. Streams: what stays in memory does not grow with the
// files. The MP4 is written beside strOutput and renamed to it once whole; on a failure
// strOutput is left as it was. An input that is the output is refused.
AviExportResult ExportAviToMp4(const std::vector<std::string>& vecInputs, const std::string& strOutput);
