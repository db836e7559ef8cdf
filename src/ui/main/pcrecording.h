// Recording on this PC in the desktop client: the cameras set to record, the folder and its
// rules from the configuration, and what the user is told when a camera stops on a full disk or
// goes on. The recorder starts with the first camera and ticks once a second. The cameras set to
// record are kept in the configuration by serial: the next start records each again as soon as
// it is present.
#pragma once

#include "pcrec/pcrecorder.h"
#include "pcrec/pcrecsource.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <map>
#include <memory>
#include <set>
#include <string>

class CConfigFileManager;
class CEngMedia;
class IDeviceManager;
struct DeviceInfo;

class CPcRecordingUi : public QObject {
    Q_OBJECT
public:
    CPcRecordingUi(CConfigFileManager* pConfig, CEngMedia& engine, IDeviceManager& manager,
                   QObject* pParent = nullptr);
    ~CPcRecordingUi() override;

    // The stored settings; the folder defaults to "PC" in the record folder.
    const PcRecSettings& Settings() const { return m_settings; }
    // Stores them; cameras recording go on under the new ones. False with the reason when the
    // folder cannot be used.
    bool SetSettings(const PcRecSettings& settings, QString& strError);

    bool IsRecording(DWORD dwID) const { return m_mapCameras.count(dwID) != 0; }
    // Recording of a camera on or off; false with the reason when it cannot start.
    bool Toggle(const DeviceInfo& device, QString& strError);
    bool Record(const DeviceInfo& device, QString& strError);
    void Stop(DWORD dwID);
    // The recorder's view of a camera (null when it does not record).
    const PcRecCamera* Camera(DWORD dwID) const;

Q_SIGNALS:
    // A camera started or stopped recording, or stopped or went on by itself.
    void changed();
    // A text for the user: a camera stopped on a full disk or went on.
    void message(const QString& strText);

private:
    bool StartRecorder(QString& strError);
    void SaveWanted();
    // Records the cameras set to record that are present and not recording yet.
    void ResumeWanted();

    CConfigFileManager* m_pConfig;
    CEngMedia& m_engine;
    IDeviceManager& m_manager;
    PcRecSettings m_settings;
    std::unique_ptr<CPcRecorder> m_pRecorder;
    std::unique_ptr<CPcRecordingSource> m_pSource;
    struct Recorded {
        DWORD dwCameraType;
        std::string strSerial;
        std::string strName;
    };
    std::map<DWORD, Recorded> m_mapCameras;
    // Serials set to record, present or not.
    std::set<std::string> m_setWanted;
    QTimer m_timer;
    QTimer m_resumeTimer;
};

// The process-wide one, made on first use from the configuration, the media engine and the
// device manager; a test puts its own in place (null: back to the process-wide one).
CPcRecordingUi* GetPcRecordingUi();
// The one in use, without making it.
CPcRecordingUi* FindPcRecordingUi();
void SetPcRecordingUi(CPcRecordingUi* pUi);
