// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/MapLink.h"

#include "app/Guarded.h"
#include "app/MapWindow.h"
#include "engine/LocationMap.h"

namespace zolt {

MapLink::MapLink(const ProjectPaths& paths, std::filesystem::path landOutline, QWidget* window)
    : QObject(window), paths_(paths), landOutline_(std::move(landOutline)), window_(window) {}

void MapLink::open(int location, const QString& name) {
    if (!map_) {
        LocationMapScene scene;
        if (!guarded(window_, [&] { scene = loadLocationMapScene(paths_, location); })) return;
        map_ = new MapWindow(paths_, std::move(scene), landOutline_, window_);
        map_->setAttribute(Qt::WA_DeleteOnClose);
        map_->setLocationName(name);
        if (!shown_.rows.empty()) map_->showCandidates(shown_);
    }
    map_->show();
    map_->raise();
    map_->activateWindow();
}

void MapLink::close() {
    if (map_) map_->close();
}

void MapLink::showCandidates(const RankedCandidates& ranked) {
    shown_ = ranked;
    if (map_) map_->showCandidates(ranked);
}

void MapLink::showLocation(int location) {
    if (!map_) return;
    LocationMapScene scene;
    if (guarded(window_, [&] { scene = loadLocationMapScene(paths_, location); })) {
        map_->showScene(std::move(scene));
    }
}

void MapLink::reload() {
    if (map_) map_->reload();
}

}  // namespace zolt
