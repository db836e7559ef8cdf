#include "pcrec/pcrecsource.h"

#include "device/devicemanager.h"
#include "protocol/engmedia.h"

CPcRecordingSource::CPcRecordingSource(CPcRecorder& recorder, CEngMedia& engine, IDeviceManager& manager)
    : m_recorder(recorder), m_engine(engine), m_manager(manager)
{
    m_engine.AddMediaTap(this, &CPcRecordingSource::Tap);
}

CPcRecordingSource::~CPcRecordingSource()
{
    m_engine.RemoveMediaTap(this);
    for (const PcRecCamera& cam : m_recorder.Cameras())
        StopRecording(cam.dwID, true);
}

void CPcRecordingSource::Tap(void* pContext, const MediaFrame& frame)
{
    static_cast<CPcRecordingSource*>(pContext)->m_recorder.OnFrame(frame);
}

void CPcRecordingSource::Record(DWORD dwID, DWORD dwCameraType, const std::string& strSerial,
                                const std::string& strName)
{
    if (m_recorder.IsRecording(dwID))
        return;
    m_recorder.AddCamera(dwID, strSerial, strName);
    m_manager.HoldLive(dwID, dwCameraType);
}

void CPcRecordingSource::StopRecording(DWORD dwID, bool bStopNow)
{
    if (!m_recorder.IsRecording(dwID))
        return;
    m_recorder.RemoveCamera(dwID);
    m_manager.ReleaseLive(dwID, bStopNow);
}
