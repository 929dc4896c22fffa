// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <filesystem>

#include "engine/SuggestedPicks.h"

class QWidget;

namespace zolt {

class MapWindow;
struct ProjectPaths;

// The map of the selected location, opened by View Map. It follows what
// step two shows: the candidates of the selected reception (or the beacons
// of the logged rows chosen) and every change of what is logged.
class MapLink : public QObject {
    Q_OBJECT
  public:
    MapLink(const ProjectPaths& paths, std::filesystem::path landOutline, QWidget* window);

    // Opens the map of `location`, or brings the open one to the front. It is
    // read before the window opens: a map that cannot be read is one
    // message, not a window that says so beside an empty map.
    void open(int location, const QString& name);
    void close();
    // Ringed on the map now, and on a map opened later.
    void showCandidates(const RankedCandidates& ranked);
    // After a change of what is logged: the scene of `location` read anew
    // (a failure is one message and keeps the map as it was)...
    void showLocation(int location);
    // ... or read by the map itself.
    void reload();

  private:
    const ProjectPaths& paths_;
    std::filesystem::path landOutline_;
    QWidget* window_;
    QPointer<MapWindow> map_;
    RankedCandidates shown_;
};

}  // namespace zolt
