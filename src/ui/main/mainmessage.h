// Modal messages of the main window and its panes, built from the string table with a camera's
// name, and the test hooks that answer them without a user.
#pragma once

#include "platform/wintypes.h"

#include <QString>

#include <functional>
#include <optional>

class QWidget;

QString MainText(DWORD dwStringID);
// The text of dwStringID with its "%s" replaced by strName.
QString MainTextWithName(DWORD dwStringID, const QString& strName);

// Shows strText in the program's modal message dialog.
void ShowMainMessage(const QString& strText, QWidget* pParent);

// For tests: when set, messages go here instead of a dialog.
extern std::function<void(const QString&)> g_fnMainMessageHook;
// For tests: when set, the password dialog is not shown and this text is "typed" (nullopt: cancel).
extern std::function<std::optional<QString>()> g_fnPasswordHook;
