#include "ui/main/mainmessage.h"

#include "core/language.h"
#include "ui/messagedialog.h"

std::function<void(const QString&)> g_fnMainMessageHook;
std::function<std::optional<QString>()> g_fnPasswordHook;

QString MainText(DWORD dwStringID)
{
    return QString::fromStdU16String(GetLanguageManager()->GetString(dwStringID));
}

QString MainTextWithName(DWORD dwStringID, const QString& strName)
{
    QString strText = MainText(dwStringID);
    strText.replace(QStringLiteral("%s"), strName);
    return strText;
}

void ShowMainMessage(const QString& strText, QWidget* pParent)
{
    if (g_fnMainMessageHook) {
        g_fnMainMessageHook(strText);
        return;
    }
    CMessageDialog dlg(strText.toStdU16String(), pParent);
    dlg.exec();
}
