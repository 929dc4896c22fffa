// SPDX-License-Identifier: GPL-2.0-or-later
#include "WindowTestUtil.h"

#include <QPushButton>
#include <QTest>

namespace zolt::test {

QApplication& application() { return *qobject_cast<QApplication*>(QCoreApplication::instance()); }

MessageBoxAnswerer::MessageBoxAnswerer(QList<QMessageBox::StandardButton> answers)
    : answers_(std::move(answers)) {
    connect(&timer_, &QTimer::timeout, this, &MessageBoxAnswerer::poll);
    timer_.start(10);
}

MessageBoxAnswerer::~MessageBoxAnswerer() = default;

void MessageBoxAnswerer::poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    texts << box->text();
    defaults << box->standardButton(box->defaultButton());
    const auto answer = answers_.isEmpty() ? QMessageBox::NoButton : answers_.takeFirst();
    if (answer == QMessageBox::NoButton) {
        QTest::keyClick(box, Qt::Key_Return);  // whatever the default is
    } else {
        box->button(answer)->click();
    }
}

}  // namespace zolt::test
