#include "ui/pages/pagecolor.h"

#include "core/notify.h"
#include "core/notifyids.h"
#include "core/stringids.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

void CDlgCamSetColor::BuildControls(QVBoxLayout* pLayout)
{
    auto* pForm = new QFormLayout;
    const DWORD adwLabels[4] = {IDS_ST_BRIGHTNESS, IDS_CTLTIP_C, IDS_CTLTIP_H, IDS_CTLTIP_S};
    const char* apszNames[4] = {"brightness", "contrast", "hue", "saturation"};
    for (int i = 0; i < 4; ++i) {
        m_apSlider[i] = new QSlider(Qt::Horizontal, this);
        m_apSlider[i]->setObjectName(QString::fromLatin1(apszNames[i]));
        m_apSlider[i]->setRange(-128, 127);
        pForm->addRow(PageText(adwLabels[i]), m_apSlider[i]);
        // The picture follows the slider; nothing waits for a save.
        connect(m_apSlider[i], &QSlider::valueChanged, this, &CDlgCamSetColor::SendValue);
        BindKey(apszNames[i], m_apSlider[i]);
    }
    pLayout->addLayout(pForm);
    pLayout->addStretch(1);
    auto* pRow = new QHBoxLayout;
    auto* pDefaults = new QPushButton(PageText(IDS_BTN_RESTOREDEFAULT), this);
    pDefaults->setObjectName(QStringLiteral("defaults"));
    connect(pDefaults, &QPushButton::clicked, this, &CDlgCamSetColor::OnBtnDefaults);
    pRow->addWidget(pDefaults);
    pRow->addStretch(1);
    pLayout->addLayout(pRow);
    AddSaveButton(pLayout);
}

DWORD CDlgCamSetColor::GetValue() const
{
    DWORD dwValue = 0;
    for (int i = 0; i < 4; ++i)
        dwValue |= DWORD(static_cast<BYTE>(static_cast<signed char>(m_apSlider[i]->value()))) << (8 * i);
    return dwValue;
}

void CDlgCamSetColor::SendValue()
{
    CNotifyManager* pBus = Context().Bus();
    // Without a video pane there is no picture to adjust.
    if (pBus->IsRegistered(DWORD_NOTIFYID_VIDEO_COLOR))
        pBus->Notify(DWORD_NOTIFYID_VIDEO_COLOR, GetValue());
}

void CDlgCamSetColor::OnBtnSave()
{
    SendValue();
    ShowHint(GetSaveButton(), IDS_HINT_SETNAMESUC, false);
}

void CDlgCamSetColor::OnBtnDefaults()
{
    if (!Confirm(IDS_MSG_RECOVER))
        return;
    for (QSlider* pSlider : m_apSlider) {
        const QSignalBlocker blocker(pSlider);
        pSlider->setValue(0);
    }
    SendValue();
}
