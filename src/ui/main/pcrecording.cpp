#include "ui/main/pcrecording.h"

#include "core/configfile.h"
#include "core/stringids.h"
#include "device/devicemanager.h"
#include "protocol/engmedia.h"
#include "ui/main/mainmessage.h"

#include <QDir>

#include <cstring>

namespace {

CPcRecordingUi* g_pReplaced = nullptr;

QString Value(CConfigFileManager* pConfig, const char16_t* pszKey)
{
    return pConfig != nullptr ? QString::fromStdU16String(pConfig->GetPcRecordValue(pszKey)) : QString();
}

} // namespace

CPcRecordingUi::CPcRecordingUi(CConfigFileManager* pConfig, CEngMedia& engine, IDeviceManager& manager,
                               QObject* pParent)
    : QObject(pParent), m_pConfig(pConfig), m_engine(engine), m_manager(manager)
{
    const QString strRecord =
        pConfig != nullptr ? QString::fromStdU16String(pConfig->GetRecordPath()) : QString();
    m_settings.strFolder = Value(pConfig, u"folder").toStdString();
    if (m_settings.strFolder.empty())
        m_settings.strFolder =
            QDir(strRecord.isEmpty() ? QDir::homePath() : strRecord).filePath("PC").toStdString();
    bool bOk = false;
    const int nMinutes = Value(pConfig, u"segment_minutes").toInt(&bOk);
    m_settings.nSegmentSeconds = bOk && nMinutes >= 1 && nMinutes <= 1440 ? nMinutes * 60 : 600;
    m_settings.rule.nKeepDays = std::max(0, Value(pConfig, u"keep_days").toInt());
    m_settings.rule.llMaxBytes =
        static_cast<std::int64_t>(std::max(0.0, Value(pConfig, u"max_gib").toDouble()) * 1073741824.0);
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_pRecorder != nullptr)
            m_pRecorder->Tick();
    });
    for (const QString& strSerial : Value(pConfig, u"cameras").split(QLatin1Char(','), Qt::SkipEmptyParts))
        m_setWanted.insert(strSerial.trimmed().toStdString());
    // A camera appears with the search, seconds after the start, or later when it comes online.
    m_resumeTimer.setInterval(2000);
    connect(&m_resumeTimer, &QTimer::timeout, this, &CPcRecordingUi::ResumeWanted);
    if (!m_setWanted.empty())
        m_resumeTimer.start();
}

void CPcRecordingUi::SaveWanted()
{
    if (m_pConfig == nullptr)
        return;
    QStringList listSerials;
    for (const std::string& strSerial : m_setWanted)
        listSerials << QString::fromStdString(strSerial);
    m_pConfig->SetPcRecordValue(u"cameras", listSerials.join(QLatin1Char(',')).toStdU16String());
}

void CPcRecordingUi::ResumeWanted()
{
    std::size_t nRecording = 0;
    for (const auto& [dwID, pDevice] : m_manager.GetDevices()) {
        if (pDevice == nullptr)
            continue;
        const std::string strSerial(pDevice->GetSerial(), strnlen(pDevice->GetSerial(), VIEWER_SERIAL_LEN));
        if (m_setWanted.count(strSerial) == 0)
            continue;
        if (IsRecording(dwID)) {
            ++nRecording;
            continue;
        }
        QString strError;
        if (pDevice->bIsExist && Record(*pDevice, strError))
            ++nRecording;
    }
    if (nRecording >= m_setWanted.size())
        m_resumeTimer.stop();
}

CPcRecordingUi::~CPcRecordingUi()
{
    m_pSource.reset();
    m_pRecorder.reset();
    if (g_pReplaced == this)
        g_pReplaced = nullptr;
}

bool CPcRecordingUi::StartRecorder(QString& strError)
{
    if (m_pRecorder != nullptr)
        return true;
    auto pRecorder = std::make_unique<CPcRecorder>(m_settings);
    std::string strStartError;
    if (!pRecorder->Start(strStartError)) {
        strError = QString::fromStdString(strStartError);
        return false;
    }
    pRecorder->SetEventHandler([this](const PcRecCamera& cam, const std::string&) {
        const QString strName = QString::fromStdString(cam.strSerial);
        Q_EMIT message(MainTextWithName(
            cam.enState == PcRecState::STOPPED ? IDS_PCREC_STOPPED : IDS_PCREC_RESUMED, strName));
        Q_EMIT changed();
    });
    m_pRecorder = std::move(pRecorder);
    m_pSource = std::make_unique<CPcRecordingSource>(*m_pRecorder, m_engine, m_manager);
    m_timer.start();
    return true;
}

bool CPcRecordingUi::Record(const DeviceInfo& device, QString& strError)
{
    if (IsRecording(device.GetID()))
        return true;
    // A camera the list does not hold (the stand-in of a PC playback) has no stream to record.
    if (m_manager.GetDevice(device.GetID(), CAMERA_MASK_ALL) == nullptr) {
        strError = QStringLiteral("%1\n%2").arg(QString::fromStdU16String(device.GetName()),
                                                MainText(IDS_HINT_CAMERANOTONLINE));
        return false;
    }
    if (!StartRecorder(strError))
        return false;
    const std::string strSerial(device.GetSerial(), strnlen(device.GetSerial(), VIEWER_SERIAL_LEN));
    const std::string strName = QString::fromStdU16String(device.GetName()).toStdString();
    m_mapCameras[device.GetID()] = {device.enCameraType, strSerial, strName};
    m_pSource->Record(device.GetID(), device.enCameraType, strSerial, strName);
    if (m_setWanted.insert(strSerial).second)
        SaveWanted();
    Q_EMIT changed();
    return true;
}

void CPcRecordingUi::Stop(DWORD dwID)
{
    const auto it = m_mapCameras.find(dwID);
    if (it == m_mapCameras.end())
        return;
    if (m_setWanted.erase(it->second.strSerial) != 0)
        SaveWanted();
    m_mapCameras.erase(it);
    m_pSource->StopRecording(dwID, false);
    if (m_mapCameras.empty()) {
        m_timer.stop();
        m_pSource.reset();
        m_pRecorder.reset();
    }
    Q_EMIT changed();
}

bool CPcRecordingUi::Toggle(const DeviceInfo& device, QString& strError)
{
    if (IsRecording(device.GetID())) {
        Stop(device.GetID());
        return true;
    }
    return Record(device, strError);
}

const PcRecCamera* CPcRecordingUi::Camera(DWORD dwID) const
{
    return m_pRecorder != nullptr ? m_pRecorder->Camera(dwID) : nullptr;
}

bool CPcRecordingUi::SetSettings(const PcRecSettings& settings, QString& strError)
{
    if (!QDir().mkpath(QString::fromStdString(settings.strFolder))) {
        strError = QString::fromStdString("cannot make " + settings.strFolder);
        return false;
    }
    m_settings = settings;
    if (m_pConfig != nullptr) {
        m_pConfig->SetPcRecordValue(u"folder", QString::fromStdString(settings.strFolder).toStdU16String());
        m_pConfig->SetPcRecordValue(u"segment_minutes",
                                    QString::number(settings.nSegmentSeconds / 60).toStdU16String());
        m_pConfig->SetPcRecordValue(u"keep_days", QString::number(settings.rule.nKeepDays).toStdU16String());
        m_pConfig->SetPcRecordValue(
            u"max_gib",
            QString::number(static_cast<double>(settings.rule.llMaxBytes) / 1073741824.0).toStdU16String());
    }
    if (m_pRecorder == nullptr)
        return true;
    // The cameras go on under the new settings: segments close and open again.
    const std::map<DWORD, Recorded> mapCameras = m_mapCameras;
    m_pSource.reset();
    m_pRecorder.reset();
    m_mapCameras.clear();
    if (!StartRecorder(strError))
        return false;
    for (const auto& [dwID, recorded] : mapCameras) {
        m_mapCameras[dwID] = recorded;
        m_pSource->Record(dwID, recorded.dwCameraType, recorded.strSerial, recorded.strName);
    }
    Q_EMIT changed();
    return true;
}

CPcRecordingUi* FindPcRecordingUi()
{
    return g_pReplaced;
}

CPcRecordingUi* GetPcRecordingUi()
{
    if (g_pReplaced == nullptr)
        g_pReplaced =
            new CPcRecordingUi(GetConfigFileManager(), *CEngMedia::GetInstance(), *GetDeviceManager());
    return g_pReplaced;
}

void SetPcRecordingUi(CPcRecordingUi* pUi)
{
    g_pReplaced = pUi;
}
