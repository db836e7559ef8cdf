// Ties a PC recorder to the media engine and the device manager: every whole live frame goes
// to the recorder through the engine's tap, and each recorded camera's live stream is held
// for as long as it records, whatever the panes do.
#pragma once

#include "pcrec/pcrecorder.h"

class CEngMedia;
class IDeviceManager;

class CPcRecordingSource {
public:
    CPcRecordingSource(CPcRecorder& recorder, CEngMedia& engine, IDeviceManager& manager);
    ~CPcRecordingSource();
    CPcRecordingSource(const CPcRecordingSource&) = delete;
    CPcRecordingSource& operator=(const CPcRecordingSource&) = delete;

    // strName: the camera's name (UTF-8), recorded with its segments.
    void Record(DWORD dwID, DWORD dwCameraType, const std::string& strSerial,
                const std::string& strName = {});
    // bStopNow: stop the camera's stream at once when nothing else watches it.
    void StopRecording(DWORD dwID, bool bStopNow);

private:
    static void Tap(void* pContext, const MediaFrame& frame);

    CPcRecorder& m_recorder;
    CEngMedia& m_engine;
    IDeviceManager& m_manager;
};
