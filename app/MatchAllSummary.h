// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

#include "engine/MatchAll.h"

namespace zolt {

// The summary after Match All Locations: one line per location matched
// (name, receptions, logged at once, of them own beacons, ambiguous,
// unresolved) and the totals; closed with OK.
class MatchAllSummaryDialog : public QDialog {
    Q_OBJECT
  public:
    MatchAllSummaryDialog(const MatchAllResult& result,
                          const std::function<QString(int)>& locationName, QWidget* parent);
};

}  // namespace zolt
