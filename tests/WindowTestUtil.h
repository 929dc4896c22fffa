// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <memory>

namespace zolt::test {

// One QApplication for the whole test program.
QApplication& application();

// Answers the message boxes that open while it lives, in order: each answer
// is a button to press (or Return for the default); the texts are kept.
class MessageBoxAnswerer : public QObject {
  public:
    explicit MessageBoxAnswerer(QList<QMessageBox::StandardButton> answers = {});
    ~MessageBoxAnswerer() override;
    QStringList texts;                            // the text of every box answered
    QList<QMessageBox::StandardButton> defaults;  // the default button of each

  private:
    void poll();
    QList<QMessageBox::StandardButton> answers_;
    QTimer timer_;
};

}  // namespace zolt::test
