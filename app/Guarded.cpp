// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/Guarded.h"

#include <QApplication>
#include <QMessageBox>
#include <QScopeGuard>
#include <exception>

#include "core/EngineError.h"
#include "engine/Project.h"

namespace zolt {

void showFailure(QWidget* window, const QString& text) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Database Converter"), text,
                    QMessageBox::Ok, window);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool guarded(QWidget* window, const std::function<void()>& action) {
    QString failure;
    {
        // A read or write may wait for another program to let go of the
        // database; the cursor says the window is busy meanwhile, and is
        // back before a message asks for a click.
        QApplication::setOverrideCursor(Qt::BusyCursor);
        const auto restore = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
        try {
            action();
            return true;
        } catch (const EngineError& error) {
            failure = QString::fromStdString(error.what());
        } catch (const std::exception& error) {
            failure = QStringLiteral("The action could not be completed: %1")
                          .arg(QString::fromStdString(error.what()));
        }
    }
    showFailure(window, failure);
    return false;
}

bool confirmed(QWidget* window, const QString& prompt, const QString& title) {
    QMessageBox box(QMessageBox::Critical, title, prompt, QMessageBox::Yes | QMessageBox::No,
                    window);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() != QMessageBox::No;
}

bool resetGuarded(QWidget* window, const std::function<void()>& reset) {
    QString compaction;
    const bool done = guarded(window, [&] {
        try {
            reset();
        } catch (const CompactionFailed& error) {
            compaction = QString::fromStdString(error.what());
        }
    });
    // The reset itself is stored: say what failed, then show what is now
    // true instead of the state before the reset.
    if (!compaction.isEmpty()) showFailure(window, compaction);
    return done;
}

}  // namespace zolt
