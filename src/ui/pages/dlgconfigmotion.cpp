#include "ui/pages/dlgconfigmotion.h"

#include "core/stringids.h"
#include "device/deviceinfo.h"
#include "device/settinggroups.h"
#include "media/video/videopanelogic.h"
#include "platform/paths.h"
#include "ui/mdpic.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFile>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSlider>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

namespace {
// The picture keeps the camera's 4:3 shape.
constexpr int PIC_WIDTH = 320;
constexpr int PIC_HEIGHT = 240;
constexpr int SENS_MIN = 60;
constexpr int SENS_MAX = 99;
constexpr int SNAPSHOT_RETRY_MS = 1000;
constexpr int SNAPSHOT_TRIES = 5;
} // namespace

void CDlgConfigMotionDetection::BuildControls(QVBoxLayout* pLayout)
{
    auto* pTop = new QHBoxLayout;
    m_pPic = new CMDPic(this);
    m_pPic->setFixedSize(PIC_WIDTH, PIC_HEIGHT);
    pTop->addWidget(m_pPic, 0, Qt::AlignTop);
    connect(m_pPic, &CMDPic::RegionChanged, this, [this](unsigned) { OnRegionChanged(); });
    m_pSnapshotTimer = new QTimer(this);
    m_pSnapshotTimer->setInterval(SNAPSHOT_RETRY_MS);
    connect(m_pSnapshotTimer, &QTimer::timeout, this, &CDlgConfigMotionDetection::OnWantSnapshot);

    auto* pSide = new QVBoxLayout;
    auto* pAreaGroup = new QButtonGroup(this);
    auto* pAreaRow = new QHBoxLayout;
    const DWORD adwArea[3] = {IDS_CC_REG1, IDS_CC_REG2, IDS_CC_REG3};
    for (int i = 0; i < 3; ++i) {
        m_apRadioArea[i] = new QRadioButton(PageText(adwArea[i]), this);
        pAreaGroup->addButton(m_apRadioArea[i], i);
        pAreaRow->addWidget(m_apRadioArea[i]);
    }
    m_apRadioArea[0]->setChecked(true);
    connect(pAreaGroup, &QButtonGroup::idClicked, this, &CDlgConfigMotionDetection::SelectArea);
    pSide->addLayout(pAreaRow);

    m_pChkEnable = new QCheckBox(PageText(IDS_ST_MD), this);
    m_pChkEnable->setObjectName(QStringLiteral("enable"));
    connect(m_pChkEnable, &QCheckBox::toggled, this, [this](bool bOn) {
        if (!m_bFilling)
            m_stEdit.region[m_nArea].bEnable = bOn ? 1 : 0;
    });
    pSide->addWidget(m_pChkEnable);

    auto* pModeRow = new QHBoxLayout;
    m_pRadioMotion = new QRadioButton(PageText(IDS_ST_MOTION), this);
    m_pRadioLine = new QRadioButton(PageText(IDS_ALERTLINE), this);
    auto* pModeGroup = new QButtonGroup(this);
    pModeGroup->addButton(m_pRadioMotion);
    pModeGroup->addButton(m_pRadioLine);
    pModeRow->addWidget(m_pRadioMotion);
    pModeRow->addWidget(m_pRadioLine);
    connect(m_pRadioLine, &QRadioButton::toggled, this, [this](bool bLine) {
        if (m_bFilling)
            return;
        m_stEdit.abFlag[m_nArea] = bLine ? 1 : 0;
        m_pPic->SetDrawType(m_nArea, !bLine);
        ShowArea();
    });
    pSide->addLayout(pModeRow);

    auto* pGrid = new QGridLayout;
    pGrid->addWidget(new QLabel(PageText(IDS_ST_THRESHOLD), this), 0, 0);
    pGrid->addWidget(new QLabel(PageText(IDS_ST_LOW), this), 0, 1);
    m_pSliderThreshold = new QSlider(Qt::Horizontal, this);
    m_pSliderThreshold->setObjectName(QStringLiteral("threshold"));
    m_pSliderThreshold->setRange(1, 255);
    pGrid->addWidget(m_pSliderThreshold, 0, 2);
    pGrid->addWidget(new QLabel(PageText(IDS_ST_HIGH), this), 0, 3);
    pGrid->addWidget(new QLabel(PageText(IDS_ST_SENSITIVITY), this), 1, 0);
    pGrid->addWidget(new QLabel(PageText(IDS_ST_LOW), this), 1, 1);
    m_pSliderSens = new QSlider(Qt::Horizontal, this);
    m_pSliderSens->setObjectName(QStringLiteral("sens"));
    m_pSliderSens->setRange(SENS_MIN, SENS_MAX);
    connect(m_pSliderSens, &QSlider::valueChanged, this, [this](int nValue) {
        if (!m_bFilling)
            m_stEdit.region[m_nArea].bSensitivity = static_cast<BYTE>(nValue);
    });
    pGrid->addWidget(m_pSliderSens, 1, 2);
    pGrid->addWidget(new QLabel(PageText(IDS_ST_HIGH), this), 1, 3);
    pSide->addLayout(pGrid);

    auto* pCoords = new QGridLayout;
    pCoords->addWidget(new QLabel(PageText(IDS_ST_X), this), 0, 1, Qt::AlignCenter);
    pCoords->addWidget(new QLabel(PageText(IDS_ST_Y), this), 0, 2, Qt::AlignCenter);
    pCoords->addWidget(new QLabel(PageText(IDS_ST_LEFTTOP), this), 1, 0);
    pCoords->addWidget(new QLabel(PageText(IDS_ST_RIGHTBOTTOM), this), 2, 0);
    for (int i = 0; i < 4; ++i) {
        m_apSpin[i] = new QSpinBox(this);
        m_apSpin[i]->setRange(0, 100);
        m_apSpin[i]->setObjectName(QStringLiteral("coord%1").arg(i));
        pCoords->addWidget(m_apSpin[i], 1 + i / 2, 1 + i % 2);
        connect(m_apSpin[i], &QSpinBox::editingFinished, this,
                &CDlgConfigMotionDetection::OnCoordinatesEdited);
    }
    pSide->addLayout(pCoords);

    auto* pButtons = new QHBoxLayout;
    auto* pBtnWhole = new QPushButton(PageText(IDS_ST_WHOLEAREA), this);
    pBtnWhole->setObjectName(QStringLiteral("whole"));
    connect(pBtnWhole, &QPushButton::clicked, this, [this] {
        MotionRegion& region = m_stEdit.region[m_nArea];
        region.bLeft = region.bTop = 0;
        region.bRight = region.bBottom = 100;
        ShowArea();
    });
    auto* pBtnClear = new QPushButton(PageText(IDS_BTN_CLEAR), this);
    pBtnClear->setObjectName(QStringLiteral("clear"));
    connect(pBtnClear, &QPushButton::clicked, this, [this] {
        MotionRegion& region = m_stEdit.region[m_nArea];
        region.bLeft = region.bTop = region.bRight = region.bBottom = 0;
        m_pPic->ClearSlot(m_nArea);
        ShowArea();
    });
    auto* pBtnRefresh = new QPushButton(PageText(IDS_BTN_REFRESH), this);
    pBtnRefresh->setObjectName(QStringLiteral("refresh"));
    connect(pBtnRefresh, &QPushButton::clicked, this, &CDlgConfigMotionDetection::OnBtnRefresh);
    pButtons->addWidget(pBtnWhole);
    pButtons->addWidget(pBtnClear);
    pButtons->addWidget(pBtnRefresh);
    pSide->addLayout(pButtons);
    pSide->addStretch(1);
    pTop->addLayout(pSide, 1);
    pLayout->addLayout(pTop);
    pLayout->addStretch(1);
    AddSaveButton(pLayout);
    BindKey("threshold", m_pSliderThreshold);
    for (const char* pszKey : {"area1_sens", "area2_sens", "area3_sens"})
        BindKey(pszKey, m_pSliderSens);
    for (const char* pszKey : {"area1_rect", "area2_rect", "area3_rect"})
        BindKey(pszKey, m_pPic);
}

bool CDlgConfigMotionDetection::IsReceived(const DeviceInfo& device) const
{
    return device.stQuery.bCmdGetMotion != 0;
}

void CDlgConfigMotionDetection::FillControls(const DeviceInfo& device)
{
    m_stEdit = device.stMotion;
    m_bFilling = true;
    m_pSliderThreshold->setValue(m_stEdit.bThreshold);
    m_bFilling = false;
    for (int i = 0; i < 3; ++i) {
        const MotionRegion& region = m_stEdit.region[i];
        const bool bLine = m_stEdit.abFlag[i] != 0;
        m_pPic->SetDrawType(i, !bLine);
        if (bLine)
            m_pPic->SetLinePercent(i, {region.bLeft, region.bTop}, {region.bRight, region.bBottom});
        else
            m_pPic->SetRectPercent(i, {region.bLeft, region.bTop, region.bRight, region.bBottom});
    }
    ShowArea();
    // A new camera's areas must not sit on the last camera's picture.
    m_pPic->SetBackground(QImage());
    m_nSnapshotTries = 0;
    OnWantSnapshot();
}

void CDlgConfigMotionDetection::OnBtnRefresh()
{
    m_nSnapshotTries = 0;
    OnWantSnapshot();
}

void CDlgConfigMotionDetection::showEvent(QShowEvent* pEvent)
{
    CConfigPage::showEvent(pEvent);
    // Only a filled page has a camera whose picture it shows; a spontaneous show is the window
    // coming back from the taskbar, not the page being chosen again.
    if (!pEvent->spontaneous() && GetPollState() == PollState::Filled)
        OnBtnRefresh();
}

void CDlgConfigMotionDetection::OnWantSnapshot()
{
    CNotifyManager* pBus = Context().Bus();
    // Without a live view there is no picture: the areas stay on the plain colour.
    if (!pBus->IsRegistered(DWORD_NOTIFYID_WANT_SNAPSHOT)) {
        m_pSnapshotTimer->stop();
        return;
    }
    // The live view writes its picture synchronously; an old file would show another camera.
    const QString strPath = QString::fromStdString(MapDesignPath("C:\\Temp.tmp"));
    QFile::remove(strPath);
    pBus->Notify(DWORD_NOTIFYID_WANT_SNAPSHOT, SNAPSHOT_FOR_MOTION);
    QImage image;
    if (image.load(strPath)) {
        m_pPic->SetBackground(image);
        m_pSnapshotTimer->stop();
        return;
    }
    if (++m_nSnapshotTries < SNAPSHOT_TRIES)
        m_pSnapshotTimer->start();
    else
        m_pSnapshotTimer->stop();
}

void CDlgConfigMotionDetection::SelectArea(int nIndex)
{
    if (nIndex < 0 || nIndex > 2)
        return;
    m_nArea = nIndex;
    m_apRadioArea[nIndex]->setChecked(true);
    m_pPic->SetRgnIndex(nIndex);
    ShowArea();
}

void CDlgConfigMotionDetection::ShowArea()
{
    m_bFilling = true;
    const MotionRegion& region = m_stEdit.region[m_nArea];
    m_pChkEnable->setChecked(region.bEnable != 0);
    (m_stEdit.abFlag[m_nArea] != 0 ? m_pRadioLine : m_pRadioMotion)->setChecked(true);
    m_pSliderSens->setValue(region.bSensitivity);
    const int an[4] = {region.bLeft, region.bTop, region.bRight, region.bBottom};
    for (int i = 0; i < 4; ++i)
        m_apSpin[i]->setValue(an[i]);
    if (m_stEdit.abFlag[m_nArea] != 0)
        m_pPic->SetLinePercent(m_nArea, {an[0], an[1]}, {an[2], an[3]});
    else
        m_pPic->SetRectPercent(m_nArea, {an[0], an[1], an[2], an[3]});
    m_bFilling = false;
}

void CDlgConfigMotionDetection::OnRegionChanged()
{
    MotionRegion& region = m_stEdit.region[m_nArea];
    if (m_pPic->IsRect(m_nArea)) {
        const CMDPic::MDRect rc = m_pPic->GetRectPercent();
        region.bLeft = static_cast<BYTE>(rc.nLeft);
        region.bTop = static_cast<BYTE>(rc.nTop);
        region.bRight = static_cast<BYTE>(rc.nRight);
        region.bBottom = static_cast<BYTE>(rc.nBottom);
    } else {
        QPoint ptFrom;
        QPoint ptTo;
        m_pPic->GetLinePercent(ptFrom, ptTo);
        region.bLeft = static_cast<BYTE>(ptFrom.x());
        region.bTop = static_cast<BYTE>(ptFrom.y());
        region.bRight = static_cast<BYTE>(ptTo.x());
        region.bBottom = static_cast<BYTE>(ptTo.y());
    }
    m_bFilling = true;
    const int an[4] = {region.bLeft, region.bTop, region.bRight, region.bBottom};
    for (int i = 0; i < 4; ++i)
        m_apSpin[i]->setValue(an[i]);
    m_bFilling = false;
}

void CDlgConfigMotionDetection::OnCoordinatesEdited()
{
    if (m_bFilling)
        return;
    MotionRegion& region = m_stEdit.region[m_nArea];
    region.bLeft = static_cast<BYTE>(m_apSpin[0]->value());
    region.bTop = static_cast<BYTE>(m_apSpin[1]->value());
    region.bRight = static_cast<BYTE>(m_apSpin[2]->value());
    region.bBottom = static_cast<BYTE>(m_apSpin[3]->value());
    ShowArea();
}

void CDlgConfigMotionDetection::OnBtnSave()
{
    DeviceInfo* pDevice = SelectedDevice();
    if (pDevice == nullptr)
        return;
    KeyValues kv{{"threshold", std::to_string(m_pSliderThreshold->value())}};
    for (int i = 0; i < 3; ++i) {
        const MotionRegion& region = m_stEdit.region[i];
        const std::string strArea = "area" + std::to_string(i + 1);
        kv[strArea] = region.bEnable != 0 ? "on" : "off";
        kv[strArea + "_sens"] = std::to_string(region.bSensitivity);
        // A line runs either way; the record's check is for rectangles.
        if (m_stEdit.abFlag[i] == 0)
            kv[strArea + "_rect"] = std::to_string(region.bLeft) + "," + std::to_string(region.bTop) + "," +
                                    std::to_string(region.bRight) + "," + std::to_string(region.bBottom);
    }
    MotionInfo info = m_stEdit;
    if (Refuse(BuildMotion(kv, info)))
        return;
    info.dwID = pDevice->GetID();
    pDevice->stMotion = info;
    m_stEdit = info;
    Commands()->Cmd_SetMotion(pDevice->GetID(), info);
    ShowHint(GetSaveButton(), IDS_HINT_SETNAMESUC, false);
}
