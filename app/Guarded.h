// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace zolt {

// One message box over `window`, its text shown as it is: messages quote
// names and paths from files, which are never markup.
void showFailure(QWidget* window, const QString& text);

// Runs `action` under the busy cursor; a failure is one message box over
// `window`, and the answer false.
bool guarded(QWidget* window, const std::function<void()>& action);

// The same for a reset: a failed compaction after the reset was stored is
// shown, and the answer is still true, so that the caller goes on to show
// the new state.
bool resetGuarded(QWidget* window, const std::function<void()>& reset);
// The question before a destructive action: Yes/No, stop icon, No the
// default and the answer to Escape. True unless the answer was No.
bool confirmed(QWidget* window, const QString& prompt,
               const QString& title = QStringLiteral("Confirm"));

}  // namespace zolt
