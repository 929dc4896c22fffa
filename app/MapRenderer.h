// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QPointF>
#include <QSize>
#include <QString>
#include <map>
#include <optional>
#include <vector>

#include "core/Geo.h"
#include "core/LandOutline.h"
#include "engine/CandidateLookup.h"
#include "engine/LocationMap.h"

class QPainter;

namespace zolt {

// A candidate of the selected reception, placed on the map.
struct MapCandidate {
    Candidate candidate;  // drawn where it has a position
    bool suggested = false;
};

// Draws the map of one location: land, range rings or graticule, a dot per
// logged beacon, the candidates of a reception and the listener's home.
//
// Projecting is the costly part, so it happens once per scene (into plane
// coordinates: km around home, or degrees on the world map) and once per
// view change (into pixels); a paint only walks the cached pixel geometry.
// Painting goes through any QPainter, so the window, the PNG and the SVG
// exports and the tests all draw the same picture.
class MapRenderer {
  public:
    enum class Projection { Azimuthal, World };
    enum class HitKind { None, Beacon, Candidate, Centre };
    struct Hit {
        HitKind kind = HitKind::None;
        int index = -1;  // into scene().beacons or candidates()
        bool operator==(const Hit&) const = default;
    };

    static constexpr double kRangeRingsKm[] = {500, 1000, 2000, 5000};
    // Colours the tests look for in a rendered picture.
    static QColor beaconColour() { return QColor(200, 30, 20, 170); }
    static QColor centreColour() { return QColor(20, 20, 20); }
    static QColor landColour() { return QColor(242, 239, 228); }
    static QColor oceanColour() { return QColor(214, 230, 242); }
    static QColor candidateColour() { return QColor(31, 95, 191); }
    static QColor suggestedColour() { return QColor(10, 138, 42); }
    // The listener's own beacons: diamonds, so that they differ by shape too.
    static QColor ownColour() { return QColor(230, 140, 0); }

    MapRenderer();

    void setScene(LocationMapScene scene);
    void setLand(std::vector<LandRing> rings);
    void setCandidates(std::vector<MapCandidate> candidates);
    const LocationMapScene& scene() const { return scene_; }
    const std::vector<MapCandidate>& candidates() const { return candidates_; }
    Projection projection() const;

    // The view: a pixel size and how much of the plane it shows. The view
    // radius is half the shorter side of the picture, in km around home or in
    // degrees on the world map; the view centre is a plane position.
    void setSize(QSize size);
    QSize size() const { return size_; }
    void resetView();                        // home and its beacons, or the whole world
    bool fitted() const { return fitted_; }  // as resetView left it
    void setViewRadius(double radius);
    double viewRadius() const { return viewRadius_; }
    void setViewCentre(PlaneXY centre);
    PlaneXY viewCentre() const { return viewCentre_; }
    void zoomBy(double factor, std::optional<QPointF> anchorPixel = std::nullopt);
    void panByPixels(QPointF delta);

    // Plane position (km round home, or degrees) of a place on Earth, and
    // the pixel of a plane position under the current view, and back.
    PlaneXY project(LatLon position) const;
    QPointF toPixel(PlaneXY plane) const;
    PlaneXY toPlane(QPointF pixel) const;
    // Where candidate `index` is drawn: its own pixel, or pinned inside the
    // edge on the way to it when it lies beyond the picture.
    std::optional<QPointF> candidatePixel(std::size_t index) const;

    // The beacon, candidate or home marker under a pixel (the nearest within
    // reach), and what the status line says about it.
    Hit hitAt(QPointF pixel) const;
    QString describe(Hit hit) const;

    // The hovered or clicked item gets a ring round it.
    void setHighlight(Hit hit) { highlight_ = hit; }

    // The whole picture at size(): base layers then the overlay.
    void render(QPainter& painter);
    // Ocean, land, rings and dots: what changes only with the view.
    void renderBase(QPainter& painter);
    // Candidates, home marker and highlight: cheap, drawn on every paint.
    void renderOverlay(QPainter& painter);

    // Bumped whenever the base layers would look different.
    quint64 baseVersion() const { return baseVersion_; }

  private:
    void projectScene();
    void projectLand();
    void projectCandidates();
    void updatePixels() const;
    void touchView();
    double scale() const;  // pixels per plane unit
    const QImage& dotStamp(double radius, double dpr);
    static void drawLabel(QPainter& painter, QPointF at, const QString& text, const QFont& font,
                          const QColor& colour, Qt::Alignment align);
    double planeLimit() const;
    void appendRing(const LandRing& ring, std::vector<std::vector<PlaneXY>>& fill,
                    std::vector<std::vector<PlaneXY>>& stroke) const;

    LocationMapScene scene_;
    std::vector<LandRing> land_;
    std::vector<MapCandidate> candidates_;

    // Plane coordinates, per scene.
    std::vector<PlaneXY> beaconPlane_;
    std::vector<int> drawOrder_;  // larger dots first, so small ones stay visible
    std::vector<double> beaconRadius_;
    std::vector<std::vector<PlaneXY>> landFillPlane_, landStrokePlane_;
    bool antipodeOnLand_ = false;
    std::vector<std::optional<PlaneXY>> candidatePlane_;

    // Pixels, per view: a cache, so filled in by const look-ups too.
    mutable bool pixelsDirty_ = true;
    mutable QPainterPath landFill_, landStroke_;
    mutable std::vector<QPointF> beaconPixel_;
    mutable std::vector<std::optional<QPointF>> candidatePixel_;  // pinned when off view
    mutable std::vector<bool> candidateOffView_;

    QSize size_{800, 600};
    double viewRadius_ = 1;
    PlaneXY viewCentre_;
    bool fitted_ = true;  // the view follows the size until the user zooms or pans
    Hit highlight_;
    quint64 baseVersion_ = 0;
    std::map<int, QImage> stamps_;  // dot pictures by radius in quarter pixels
    double stampDpr_ = 0;
};

}  // namespace zolt
