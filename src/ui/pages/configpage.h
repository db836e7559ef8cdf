// The base of every configuration page: it waits for the selected camera's settings group
// (polling the device record every 500 ms, giving up after the first look and three ticks),
// fills the controls when the group is in, and on save runs the checks, writes the values
// back into the device record and sends one command. Messages are balloon hints at the
// control they are about. A recorder has no settings of its own, so its pages never poll.
#pragma once

#include "core/notify.h"
#include "core/stringids.h"
#include "device/settingchecks.h"
#include "ui/pages/pagecommands.h"

#include <QPointer>
#include <QPushButton>
#include <QWidget>

#include <map>
#include <string>
#include <vector>

class CBalloonHint;
class CTextRelabeler;
class QTimer;
class QVBoxLayout;
struct DeviceInfo;

// Text of a string id in the current language.
QString PageText(DWORD dwStringID);

class CConfigPage : public QWidget, public INotifySink {
    Q_OBJECT
public:
    enum class PollState { Idle, Waiting, Filled, Failed };
    static constexpr int POLL_INTERVAL_MS = 500;
    static constexpr DWORD POLL_GIVE_UP = 4; // the first look and three ticks

    CConfigPage(const PageContext& context, QWidget* pParent);
    ~CConfigPage() override;

    // Lays out and localises the page (BuildControls), starts polling for a selected camera
    // that is not a recorder, and subscribes to selection changes. Called once by the pane.
    void OnInitDialog();
    void NotifySink(DWORD dwNotifyID, UINT_PTR dwParam) override;

    void StartPolling();
    void UpdateChildWindowValue();
    // Validate, write back, send, confirm. Pages without a save button keep the default.
    virtual void OnBtnSave() {}

    // "Apply to...": the page's values go to the chosen cameras too (each keeps what the page does
    // not edit). Runs the page's checks first; nothing is sent when one fails. Returns per camera
    // what was done, after showing it.
    std::vector<struct ApplyToResult> ApplyTo(const std::vector<DWORD>& vecIDs);
    void OnBtnApplyTo();
    // After an "Apply to" the page reads each camera's group back (READBACK_MS at most) and then
    // reports per camera what was sent and what the camera holds.
    static constexpr int READBACK_MS = 6000;
    bool IsReadBackDone() const { return m_nReadBackMs < 0; }
    const std::vector<struct ApplyToResult>& GetReadBack() const { return m_vecReadBack; }
    QPushButton* GetApplyToButton() const { return m_pBtnApplyTo; }

    PollState GetPollState() const { return m_enPollState; }
    DWORD GetWaitCount() const { return m_dwWaitCount; }
    CBalloonHint* GetHint() const { return m_pHint; }
    QPushButton* GetSaveButton() const { return m_pBtnSave; }
    // The control a check key belongs to (null when the page has none).
    QWidget* GetKeyControl(const std::string& strKey) const;

protected:
    virtual void BuildControls(QVBoxLayout* pLayout) = 0;
    virtual bool IsReceived(const DeviceInfo& device) const = 0;
    virtual void FillControls(const DeviceInfo& device) = 0;
    // The camera's group has not come: the message to show.
    virtual DWORD GiveUp() { return IDS_HINT_GET_INFO_FAIL; }
    // After a change of language: the texts the page builds from a template or sets after it is
    // built (states, notes, units) are built again; the edits in progress stay.
    virtual void Retranslate() {}

    // A save button at the bottom right of the page, wired to OnBtnSave; with bApplyTo an
    // "Apply to..." button beside it (the page then implements CheckEdited and SendTo).
    QPushButton* AddSaveButton(QVBoxLayout* pLayout, bool bApplyTo = false);
    // Runs the checks on the edited values (hints as on save); false when one fails.
    virtual bool CheckEdited() { return false; }
    // Writes the checked values into a camera's record and sends them to it.
    virtual void SendTo(DeviceInfo&) {}
    // The read-back of "Apply to": the group in a record as a short text, forgetting the group
    // so that only a new answer counts, and asking the camera for it.
    virtual QString GroupText(const DeviceInfo&) const { return QString(); }
    virtual void ForgetGroup(DeviceInfo&) {}
    virtual void AskGroup(const DeviceInfo&) {}
    // SendTo leaves a camera as it is, for the reason the "Apply to" report gives in place of
    // what was sent.
    void RefuseCamera(DWORD dwID, const QString& strWhy) { m_mapRefused[dwID] = strWhy; }
    void RefuseCamera(DWORD dwID, const CheckError& error) { RefuseCamera(dwID, CheckText(error)); }
    // A failed check's message in the page's language.
    static QString CheckText(const CheckError& error);
    // The camera's own video standard for the bit-rate floors ("standard" key), as its video
    // report gives it: an NTSC camera's floors differ from a PAL one's.
    static void AddStandardKey(KeyValues& kv, const DeviceInfo& device);
    // The check key's message at its control.
    void BindKey(const std::string& strKey, QWidget* pControl) { m_mapKeys[strKey] = pControl; }
    // Shows the message of a failed check at its control and says so.
    bool Refuse(const CheckResult& result);
    void ShowHint(QWidget* pAnchor, DWORD dwStringID, bool bError);
    void ShowHintText(QWidget* pAnchor, const QString& strText, bool bError);
    // Yes/no question in a modal dialog; tests may answer it in advance.
    bool Confirm(DWORD dwStringID);

    // The selected camera, or null.
    DeviceInfo* SelectedDevice() const;
    const PageContext& Context() const { return m_context; }
    IPageCommands* Commands() const { return m_context.Commands(); }
    bool IsDownloading(DWORD dwID) const;
    // A camera's name for the "Apply to" report.
    QString ApplyToName(DWORD dwID) const;

public:
    // For tests: the answer the next confirmation gets without asking (-1: ask).
    static int s_nConfirmAnswer;

private:
    PageContext m_context;
    QTimer* m_pPollTimer;
    DWORD m_dwWaitCount = 0;
    PollState m_enPollState = PollState::Idle;
    bool m_bInited = false;
    CBalloonHint* m_pHint;
    CTextRelabeler* m_pRelabeler = nullptr;
    QWidget* m_pBody = nullptr;
    QPushButton* m_pBtnSave = nullptr;
    QPushButton* m_pBtnApplyTo = nullptr;
    void OnReadBackTick();
    QTimer* m_pReadBackTimer = nullptr;
    int m_nReadBackMs = -1; // -1: no read-back running
    std::vector<struct ApplyToResult> m_vecReadBack;
    std::map<DWORD, QString> m_mapRefused;
    std::map<std::string, QPointer<QWidget>> m_mapKeys;
};
