// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QDir>
#include <QString>
#include <filesystem>

#include "core/FileUtil.h"

namespace zolt {

// A path from the window toolkit's text (a chosen folder or file, the
// Documents folder, the program's own folder): in the system's own
// separators, and through UTF-8, so that on Windows no letter is lost to the
// ANSI code page. On Linux it is the text's UTF-8 as before.
inline std::filesystem::path pathFromQString(const QString& text) {
    return pathFromUtf8(QDir::toNativeSeparators(text).toStdString());
}

}  // namespace zolt
