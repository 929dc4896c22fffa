// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/MapRenderer.h"

#include <QFontMetricsF>
#include <QPaintEngine>
#include <QPainter>
#include <QPen>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <numbers>

#include "app/ShownNumbers.h"

namespace zolt {
namespace {

constexpr double kRimKm = std::numbers::pi * kEarthRadiusKm;
// A projected coastline edge longer than this is split: long edges (the
// antimeridian cuts, the far side of the globe) bend on this map.
constexpr double kMaxEdgeKm = 120;
constexpr int kMaxSplitDepth = 12;
// Candidates beyond the picture are pinned this far inside its edge.
constexpr double kEdgeGap = 24;

const QColor kBackground(232, 232, 228);
const QColor kCoast(140, 140, 124);
const QColor kGrid(111, 143, 168);
const QColor kHighlight(255, 196, 0);

bool onCut(LatLon a, LatLon b) {
    return (std::abs(a.lon) == 180 && std::abs(b.lon) == 180) || (a.lat == -90 && b.lat == -90);
}

// Even-odd test on the flat longitude/latitude map, the rule the outline
// file is made for.
bool insideLand(const std::vector<LandRing>& rings, LatLon p) {
    bool inside = false;
    for (const LandRing& ring : rings) {
        for (std::size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
            const LatLon a = ring[i], b = ring[j];
            if ((a.lat > p.lat) != (b.lat > p.lat) &&
                p.lon < (b.lon - a.lon) * (p.lat - a.lat) / (b.lat - a.lat) + a.lon) {
                inside = !inside;
            }
        }
    }
    return inside;
}

QString kmText(double km) { return QString::fromStdString(formatKm(km)); }

QString placeLine(const std::string& ident, const std::string& frequency, const std::string& city,
                  const std::string& country) {
    QString text = QString::fromStdString(ident);
    if (!frequency.empty())
        text += QStringLiteral(" %1 kHz").arg(QString::fromStdString(frequency));
    QStringList place;
    for (const std::string* part : {&city, &country}) {
        if (!part->empty()) place << QString::fromStdString(*part);
    }
    if (!place.isEmpty()) text += QStringLiteral(" \u00B7 ") + place.join(QStringLiteral(", "));
    return text.trimmed();
}

QString distanceLine(std::optional<LatLon> home, LatLon p) {
    if (!home) return QStringLiteral("distance unknown: no home position");
    const double km = greatCircleKm(*home, p);
    const double bearing = initialBearingDeg(*home, p);
    return QStringLiteral("%1, bearing %2\u00B0 (%3)")
        .arg(kmText(km))
        .arg(static_cast<int>(std::lround(bearing)) % 360, 3, 10, QLatin1Char('0'))
        .arg(QString::fromStdString(compassPoint(bearing)));
}

}  // namespace

MapRenderer::MapRenderer() { resetView(); }

MapRenderer::Projection MapRenderer::projection() const {
    return scene_.centre() ? Projection::Azimuthal : Projection::World;
}

PlaneXY MapRenderer::project(LatLon position) const {
    if (const auto& centre = scene_.centre()) return azimuthalEquidistantKm(*centre, position);
    return equirectangular(position);
}

void MapRenderer::setScene(LocationMapScene scene) {
    scene_ = std::move(scene);
    highlight_ = {};
    projectScene();
    projectLand();
    projectCandidates();
    resetView();
}

void MapRenderer::setLand(std::vector<LandRing> rings) {
    land_ = std::move(rings);
    projectLand();
    touchView();
}

void MapRenderer::setCandidates(std::vector<MapCandidate> candidates) {
    candidates_ = std::move(candidates);
    if (highlight_.kind == HitKind::Candidate) highlight_ = {};
    projectCandidates();
    pixelsDirty_ = true;
}

void MapRenderer::projectScene() {
    const auto& beacons = scene_.beacons;
    beaconPlane_.clear();
    beaconPlane_.reserve(beacons.size());
    beaconRadius_.clear();
    beaconRadius_.reserve(beacons.size());
    for (const LoggedBeacon& b : beacons) {
        beaconPlane_.push_back(project(b.position));
        // Area grows with the receptions, so a beacon heard 25 times does not
        // hide a whole region; from 26 on every dot is equally big.
        const double n = std::max(1, b.receptions);
        beaconRadius_.push_back(std::min(8.0, 3.0 + std::sqrt(n - 1)));
    }
    drawOrder_.resize(beacons.size());
    for (std::size_t i = 0; i < drawOrder_.size(); ++i) drawOrder_[i] = static_cast<int>(i);
    std::stable_sort(drawOrder_.begin(), drawOrder_.end(),
                     [this](int a, int b) { return beaconRadius_[a] > beaconRadius_[b]; });
}

void MapRenderer::appendRing(const LandRing& ring, std::vector<std::vector<PlaneXY>>& fill,
                             std::vector<std::vector<PlaneXY>>& stroke) const {
    const bool azimuthal = projection() == Projection::Azimuthal;
    std::vector<PlaneXY> filled;
    filled.reserve(ring.size() * 2);
    std::vector<PlaneXY> run;

    // Splits the edge a→b (in longitude/latitude, as the file means it) until
    // each projected piece is short; appends the pieces' ends after a.
    auto split = [&](auto&& self, LatLon a, PlaneXY pa, LatLon b, PlaneXY pb, int depth,
                     std::vector<PlaneXY>& out) -> void {
        if (depth < kMaxSplitDepth && std::hypot(pb.x - pa.x, pb.y - pa.y) > kMaxEdgeKm) {
            const LatLon m{(a.lat + b.lat) / 2, (a.lon + b.lon) / 2};
            const PlaneXY pm = project(m);
            self(self, a, pa, m, pm, depth + 1, out);
            self(self, m, pm, b, pb, depth + 1, out);
            return;
        }
        out.push_back(pb);
    };

    std::vector<PlaneXY> projected(ring.size());
    for (std::size_t i = 0; i < ring.size(); ++i) projected[i] = project(ring[i]);

    // The stroke starts after a cut edge when there is one, so that no run
    // has to be joined across the ring's first point.
    std::size_t start = 0;
    for (std::size_t i = 0; i < ring.size(); ++i) {
        if (onCut(ring[i], ring[(i + 1) % ring.size()])) {
            start = (i + 1) % ring.size();
            break;
        }
    }
    run.push_back(projected[start]);
    filled.push_back(projected[start]);
    for (std::size_t k = 0; k < ring.size(); ++k) {
        const std::size_t i = (start + k) % ring.size();
        const std::size_t j = (i + 1) % ring.size();
        std::vector<PlaneXY> pieces;
        if (azimuthal) {
            split(split, ring[i], projected[i], ring[j], projected[j], 0, pieces);
        } else {
            pieces.push_back(projected[j]);
        }
        filled.insert(filled.end(), pieces.begin(), pieces.end());
        if (onCut(ring[i], ring[j])) {
            if (run.size() > 1) stroke.push_back(std::move(run));
            run.clear();
            run.push_back(projected[j]);
        } else {
            run.insert(run.end(), pieces.begin(), pieces.end());
        }
    }
    if (run.size() > 1) stroke.push_back(std::move(run));
    filled.pop_back();  // the start again
    fill.push_back(std::move(filled));
}

void MapRenderer::projectLand() {
    landFillPlane_.clear();
    landStrokePlane_.clear();
    for (const LandRing& ring : land_) {
        if (ring.size() >= 3) appendRing(ring, landFillPlane_, landStrokePlane_);
    }
    // Around home every ring is drawn the way that does not hold the far
    // side of the Earth; when that point is on land, the whole disc is land
    // but for what the rings cut out.
    antipodeOnLand_ = false;
    if (const auto& c = scene_.centre()) {
        const LatLon antipode{-c->lat, std::remainder(c->lon + 180.0, 360.0)};
        antipodeOnLand_ = insideLand(land_, antipode);
    }
    pixelsDirty_ = true;
}

void MapRenderer::projectCandidates() {
    candidatePlane_.clear();
    for (const MapCandidate& c : candidates_) {
        const auto& position = c.candidate.position;
        candidatePlane_.push_back(position ? std::optional(project(*position)) : std::nullopt);
    }
}

// ---- view ----------------------------------------------------------------------

double MapRenderer::planeLimit() const {
    return projection() == Projection::Azimuthal ? kRimKm * 1.05 : 200.0;
}

double MapRenderer::scale() const {
    const double half = std::max(1, std::min(size_.width(), size_.height())) / 2.0;
    return half / viewRadius_;
}

void MapRenderer::touchView() {
    pixelsDirty_ = true;
    ++baseVersion_;
}

void MapRenderer::setSize(QSize size) {
    if (size.isEmpty() || size == size_) return;
    size_ = size;
    if (fitted_) {
        resetView();
    } else {
        touchView();
    }
}

void MapRenderer::resetView() {
    viewCentre_ = {};
    if (projection() == Projection::World) {
        // The whole 360 x 180 degrees, whatever the shape of the picture.
        const double pxPerDeg = std::min(size_.width() / 360.0, size_.height() / 180.0);
        viewRadius_ = std::min(size_.width(), size_.height()) / 2.0 / std::max(pxPerDeg, 1e-6);
    } else {
        // Most of the beacons, not the one heard across the ocean on a lucky
        // night; never less than the first two rings.
        std::vector<double> d = scene_.distanceKm;
        double reach = 1000;
        if (!d.empty()) {
            const std::size_t at = (d.size() * 95) / 100;
            std::nth_element(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(at), d.end());
            reach = std::max(reach, d[std::min(at, d.size() - 1)]);
        }
        viewRadius_ = std::min(reach * 1.15, kRimKm * 1.02);
    }
    fitted_ = true;
    touchView();
}

void MapRenderer::setViewRadius(double radius) {
    const double minimum = projection() == Projection::Azimuthal ? 20.0 : 0.5;
    viewRadius_ = std::clamp(radius, minimum, planeLimit());
    fitted_ = false;
    touchView();
}

void MapRenderer::setViewCentre(PlaneXY centre) {
    const double limit = projection() == Projection::Azimuthal ? kRimKm : 180.0;
    const double limitY = projection() == Projection::Azimuthal ? kRimKm : 90.0;
    viewCentre_ = {std::clamp(centre.x, -limit, limit), std::clamp(centre.y, -limitY, limitY)};
    fitted_ = false;
    touchView();
}

void MapRenderer::zoomBy(double factor, std::optional<QPointF> anchorPixel) {
    if (!(factor > 0)) return;
    // The plane point under the anchor stays under it.
    const QPointF anchor = anchorPixel.value_or(QPointF(size_.width() / 2.0, size_.height() / 2.0));
    const PlaneXY under = toPlane(anchor);
    setViewRadius(viewRadius_ / factor);
    const double s = scale();
    setViewCentre({under.x - (anchor.x() - size_.width() / 2.0) / s,
                   under.y + (anchor.y() - size_.height() / 2.0) / s});
}

void MapRenderer::panByPixels(QPointF delta) {
    const double s = scale();
    setViewCentre({viewCentre_.x - delta.x() / s, viewCentre_.y + delta.y() / s});
}

QPointF MapRenderer::toPixel(PlaneXY plane) const {
    const double s = scale();
    return {size_.width() / 2.0 + (plane.x - viewCentre_.x) * s,
            size_.height() / 2.0 - (plane.y - viewCentre_.y) * s};
}

PlaneXY MapRenderer::toPlane(QPointF pixel) const {
    const double s = scale();
    return {viewCentre_.x + (pixel.x() - size_.width() / 2.0) / s,
            viewCentre_.y - (pixel.y() - size_.height() / 2.0) / s};
}

std::optional<QPointF> MapRenderer::candidatePixel(std::size_t index) const {
    updatePixels();
    return index < candidatePixel_.size() ? candidatePixel_[index] : std::nullopt;
}

void MapRenderer::updatePixels() const {
    if (!pixelsDirty_) return;
    pixelsDirty_ = false;

    beaconPixel_.resize(beaconPlane_.size());
    for (std::size_t i = 0; i < beaconPlane_.size(); ++i)
        beaconPixel_[i] = toPixel(beaconPlane_[i]);
    // A candidate beyond the picture's edge is pinned to the edge where the
    // straight line from home to it leaves the picture: its direction still
    // shows, and its distance is written beside it.
    candidatePixel_.clear();
    candidateOffView_.clear();
    const QRectF inner =
        QRectF(QPointF(0, 0), QSizeF(size_)).adjusted(kEdgeGap, kEdgeGap, -kEdgeGap, -kEdgeGap);
    const QPointF origin = toPixel({0, 0});
    const QPointF from = inner.contains(origin) ? origin : inner.center();
    for (const auto& plane : candidatePlane_) {
        if (!plane) {
            candidatePixel_.push_back(std::nullopt);
            candidateOffView_.push_back(false);
            continue;
        }
        const QPointF p = toPixel(*plane);
        const bool off = !inner.contains(p);
        candidateOffView_.push_back(off);
        if (!off) {
            candidatePixel_.push_back(p);
            continue;
        }
        const QPointF d = p - from;
        double t = 1;
        if (d.x() > 0) t = std::min(t, (inner.right() - from.x()) / d.x());
        if (d.x() < 0) t = std::min(t, (inner.left() - from.x()) / d.x());
        if (d.y() > 0) t = std::min(t, (inner.bottom() - from.y()) / d.y());
        if (d.y() < 0) t = std::min(t, (inner.top() - from.y()) / d.y());
        candidatePixel_.push_back(from + d * std::max(0.0, t));
    }

    landFill_ = QPainterPath();
    landFill_.setFillRule(Qt::OddEvenFill);
    for (const auto& ring : landFillPlane_) {
        QPolygonF polygon;
        polygon.reserve(static_cast<qsizetype>(ring.size()));
        for (const PlaneXY& p : ring) polygon << toPixel(p);
        landFill_.addPolygon(polygon);
        landFill_.closeSubpath();
    }
    if (antipodeOnLand_) {
        const double r = kRimKm * scale();
        landFill_.addEllipse(toPixel({0, 0}), r, r);
    }
    landStroke_ = QPainterPath();
    for (const auto& run : landStrokePlane_) {
        QPolygonF polygon;
        polygon.reserve(static_cast<qsizetype>(run.size()));
        for (const PlaneXY& p : run) polygon << toPixel(p);
        landStroke_.addPolygon(polygon);
    }
}

// ---- hits ------------------------------------------------------------------------

MapRenderer::Hit MapRenderer::hitAt(QPointF pixel) const {
    updatePixels();
    auto distance = [&](QPointF p) { return std::hypot(p.x() - pixel.x(), p.y() - pixel.y()); };
    Hit best;
    double bestDistance = 1e300;
    // Candidates sit on top and are what the listener is deciding about, so
    // they win over a logged dot in the same place.
    for (std::size_t i = 0; i < candidatePixel_.size(); ++i) {
        if (!candidatePixel_[i]) continue;
        const double d = distance(*candidatePixel_[i]);
        if (d <= 12 && d < bestDistance) {
            best = {HitKind::Candidate, static_cast<int>(i)};
            bestDistance = d;
        }
    }
    if (best.kind != HitKind::None) return best;
    if (scene_.centre() && distance(toPixel({0, 0})) <= 7) return {HitKind::Centre, -1};
    for (std::size_t i = 0; i < beaconPixel_.size(); ++i) {
        const double d = distance(beaconPixel_[i]);
        if (d <= beaconRadius_[i] + 2 && d < bestDistance) {
            best = {HitKind::Beacon, static_cast<int>(i)};
            bestDistance = d;
        }
    }
    return best;
}

QString MapRenderer::describe(Hit hit) const {
    const auto& home = scene_.centre();
    switch (hit.kind) {
        case HitKind::None:
            return {};
        case HitKind::Centre:
            return QStringLiteral("Home: %1").arg(QString::fromStdString(formatLatLon(*home, 2)));
        case HitKind::Beacon: {
            const LoggedBeacon& b = scene_.beacons.at(static_cast<std::size_t>(hit.index));
            // One arg() call: a place name with a per cent sign in it must
            // not be taken for a placeholder of the next.
            const QString heard = counted(b.receptions, "reception", "receptions");
            return (b.own ? QStringLiteral("Your own beacon: ") : QString()) +
                   QStringLiteral("%1 \u00B7 %2 \u00B7 %3")
                       .arg(placeLine(b.ident, b.frequency, b.city, b.country),
                            distanceLine(home, b.position), heard);
        }
        case HitKind::Candidate: {
            const MapCandidate& c = candidates_.at(static_cast<std::size_t>(hit.index));
            const Candidate& k = c.candidate;
            QString text = c.suggested ? QStringLiteral("Suggested candidate: ")
                                       : QStringLiteral("Candidate: ");
            text += placeLine(k.ident, k.frequency, k.city, k.country);
            if (k.position) text += QStringLiteral(" \u00B7 ") + distanceLine(home, *k.position);
            return text;
        }
    }
    return {};
}

// ---- painting ------------------------------------------------------------------

const QImage& MapRenderer::dotStamp(double radius, double dpr) {
    // Radii come in quarter pixels, so a few dozen stamps cover every dot.
    const int quarters = static_cast<int>(std::lround(radius * 4));
    if (dpr != stampDpr_) {
        stamps_.clear();
        stampDpr_ = dpr;
    }
    auto found = stamps_.find(quarters);
    if (found != stamps_.end()) return found->second;
    const double r = quarters / 4.0;
    // An even number of pixels: the dot's centre is a pixel corner, which the
    // caller puts at the rounded position of the beacon.
    const int side = 2 * static_cast<int>(std::ceil(r + 1));
    QImage stamp(QSize(side, side) * dpr, QImage::Format_ARGB32_Premultiplied);
    stamp.setDevicePixelRatio(dpr);
    stamp.fill(Qt::transparent);
    QPainter p(&stamp);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    p.setBrush(beaconColour());
    p.drawEllipse(QPointF(side / 2.0, side / 2.0), r, r);
    p.end();
    return stamps_.emplace(quarters, std::move(stamp)).first->second;
}

void MapRenderer::render(QPainter& painter) {
    renderBase(painter);
    renderOverlay(painter);
}

void MapRenderer::renderBase(QPainter& painter) {
    updatePixels();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QRectF frame(QPointF(0, 0), QSizeF(size_));
    painter.setClipRect(frame);
    const bool azimuthal = projection() == Projection::Azimuthal;
    const double s = scale();
    const QPointF origin = toPixel({0, 0});

    painter.fillRect(frame, kBackground);
    painter.setPen(Qt::NoPen);
    painter.setBrush(oceanColour());
    if (azimuthal) {
        painter.drawEllipse(origin, kRimKm * s, kRimKm * s);
    } else {
        painter.drawRect(QRectF(toPixel({-180, 90}), toPixel({180, -90})));
    }

    painter.setBrush(landColour());
    painter.drawPath(landFill_);
    painter.setBrush(Qt::NoBrush);
    QPen coast(kCoast, 0.8);
    coast.setCosmetic(true);
    painter.setPen(coast);
    painter.drawPath(landStroke_);

    // Distances and directions: rings and spokes round home, or a 30-degree
    // graticule on the world map. Their labels come after the dots.
    QPen grid(kGrid, 1.0, Qt::DashLine);
    grid.setCosmetic(true);
    painter.setPen(grid);
    painter.setBrush(Qt::NoBrush);
    if (azimuthal) {
        for (int k = 0; k < 8; ++k) {
            const double a = k * std::numbers::pi / 4;
            painter.drawLine(origin, origin + QPointF(std::sin(a), -std::cos(a)) * (kRimKm * s));
        }
        for (const double km : kRangeRingsKm) painter.drawEllipse(origin, km * s, km * s);
        QPen rim(kGrid, 1.2);
        rim.setCosmetic(true);
        painter.setPen(rim);
        painter.drawEllipse(origin, kRimKm * s, kRimKm * s);
    } else {
        for (int lon = -180; lon <= 180; lon += 30) {
            painter.drawLine(toPixel({double(lon), 90}), toPixel({double(lon), -90}));
        }
        for (int lat = -60; lat <= 60; lat += 30) {
            painter.drawLine(toPixel({-180, double(lat)}), toPixel({180, double(lat)}));
        }
    }

    // The dots: one fill colour with some transparency, so that a crowd of
    // them shows as a darker patch. On a picture of pixels each dot is a
    // stamp drawn once per size, many times faster than thousands of
    // antialiased circles; drawings (SVG) get true circles.
    const bool stamps =
        painter.paintEngine() && painter.paintEngine()->type() == QPaintEngine::Raster;
    painter.setPen(Qt::NoPen);
    painter.setBrush(beaconColour());
    std::vector<int> own;
    for (const int i : drawOrder_) {
        const QPointF& p = beaconPixel_[static_cast<std::size_t>(i)];
        const double r = beaconRadius_[static_cast<std::size_t>(i)];
        if (p.x() < -r || p.y() < -r || p.x() > size_.width() + r || p.y() > size_.height() + r) {
            continue;
        }
        if (scene_.beacons[static_cast<std::size_t>(i)].own) {
            own.push_back(i);
            continue;
        }
        if (stamps) {
            const QImage& stamp = dotStamp(r, painter.device()->devicePixelRatioF());
            const double half = stamp.deviceIndependentSize().width() / 2;
            painter.drawImage(QPointF(std::round(p.x()) - half, std::round(p.y()) - half), stamp);
        } else {
            painter.drawEllipse(p, r, r);
        }
    }
    // Own beacons on top: few, and a listener looks for them.
    QPen ownEdge(centreColour(), 1.0);
    ownEdge.setCosmetic(true);
    painter.setPen(ownEdge);
    painter.setBrush(ownColour());
    for (const int i : own) {
        const QPointF& p = beaconPixel_[static_cast<std::size_t>(i)];
        const double r = beaconRadius_[static_cast<std::size_t>(i)] + 1.5;
        painter.drawPolygon(QPolygonF(
            {p + QPointF(0, -r), p + QPointF(r, 0), p + QPointF(0, r), p + QPointF(-r, 0)}));
    }
    painter.setPen(Qt::NoPen);

    if (azimuthal) {
        QFont font = painter.font();
        font.setPixelSize(12);
        // Ring labels on the line to the south-east, where the compass
        // letters are not; one is left out where it would touch the last.
        double outermost = kRangeRingsKm[0];
        double lastLabelled = 0;
        const double half = std::min(size_.width(), size_.height()) / 2.0;
        for (const double km : kRangeRingsKm) {
            const double r = km * s;
            if (r <= half - 16) outermost = km;
            if (r < 24 || r - lastLabelled < 26) continue;
            const QPointF at = origin + QPointF(r * 0.7071 + 3, r * 0.7071 - 3);
            if (at.x() + 60 > size_.width() || at.y() > size_.height() - 2) continue;
            lastLabelled = r;
            drawLabel(painter, at, kmText(km), font, kGrid.darker(150), Qt::AlignLeft);
        }
        QFont bold = font;
        bold.setBold(true);
        bold.setPixelSize(15);
        const double r = outermost * s + 14;
        const struct {
            const char* text;
            QPointF direction;
        } compass[] = {{"N", {0, -1}}, {"E", {1, 0}}, {"S", {0, 1}}, {"W", {-1, 0}}};
        for (const auto& c : compass) {
            drawLabel(painter, origin + c.direction * r, QString::fromLatin1(c.text), bold,
                      kGrid.darker(200), Qt::AlignCenter);
        }
    }
    painter.restore();
}

void MapRenderer::drawLabel(QPainter& painter, QPointF at, const QString& text, const QFont& font,
                            const QColor& colour, Qt::Alignment align) {
    // A pale halo keeps the letters readable over land and dots alike.
    QPainterPath path;
    const QFontMetricsF metrics(font);
    QPointF baseline = at;
    if (align & Qt::AlignCenter) {  // `at` is the middle, else the start of the baseline
        baseline += QPointF(-metrics.horizontalAdvance(text) / 2,
                            (metrics.ascent() - metrics.descent()) / 2);
    }
    path.addText(baseline, font, text);
    painter.save();
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(255, 255, 255, 220), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPath(path);
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawPath(path);
    painter.restore();
}

void MapRenderer::renderOverlay(QPainter& painter) {
    updatePixels();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setClipRect(QRectF(QPointF(0, 0), QSizeF(size_)));
    const QPointF origin = toPixel({0, 0});
    const bool azimuthal = projection() == Projection::Azimuthal;

    // On this map the straight line from home is the great circle, the way
    // the signal came.
    for (std::size_t i = 0; i < candidates_.size(); ++i) {
        if (!candidates_[i].suggested || !candidatePixel_[i] || !azimuthal) continue;
        QPen line(suggestedColour(), 1.5, Qt::DashLine);
        painter.setPen(line);
        painter.drawLine(origin, *candidatePixel_[i]);
    }
    painter.setBrush(Qt::NoBrush);
    QFont font = painter.font();
    font.setPixelSize(12);
    for (int pass = 0; pass < 2; ++pass) {  // the suggested pick last, on top
        for (std::size_t i = 0; i < candidates_.size(); ++i) {
            if (!candidatePixel_[i] || candidates_[i].suggested != (pass == 1)) continue;
            const bool suggested = candidates_[i].suggested;
            const QColor colour = suggested ? suggestedColour() : candidateColour();
            const QPointF at = *candidatePixel_[i];
            painter.setPen(QPen(colour, suggested ? 3.0 : 2.0));
            painter.setBrush(Qt::NoBrush);
            const double r = suggested ? 10 : 7;
            painter.drawEllipse(at, r, r);
            if (!candidateOffView_[i]) continue;
            // Pinned to the edge: an arrowhead outwards, the distance inwards.
            const QPointF away =
                at - (azimuthal ? origin : QPointF(size_.width() / 2.0, size_.height() / 2.0));
            const double length = std::hypot(away.x(), away.y());
            if (length < 1) continue;
            const QPointF u = away / length, n(-u.y(), u.x());
            const QPointF tip = at + u * (r + 9);
            painter.setPen(Qt::NoPen);
            painter.setBrush(colour);
            painter.drawPolygon(QPolygonF{tip, at + u * (r + 2) + n * 5, at + u * (r + 2) - n * 5});
            const auto& position = candidates_[i].candidate.position;
            if (scene_.centre() && position) {
                drawLabel(painter, at - u * (r + 30),
                          kmText(greatCircleKm(*scene_.centre(), *position)), font,
                          colour.darker(130), Qt::AlignCenter);
            }
        }
    }

    if (highlight_.kind == HitKind::Beacon || highlight_.kind == HitKind::Candidate) {
        std::optional<QPointF> at;
        double r = 9;
        if (highlight_.kind == HitKind::Beacon &&
            highlight_.index < static_cast<int>(beaconPixel_.size())) {
            at = beaconPixel_[static_cast<std::size_t>(highlight_.index)];
            r = beaconRadius_[static_cast<std::size_t>(highlight_.index)] + 3;
        } else if (highlight_.kind == HitKind::Candidate &&
                   highlight_.index < static_cast<int>(candidatePixel_.size())) {
            at = candidatePixel_[static_cast<std::size_t>(highlight_.index)];
            r = 13;
        }
        if (at) {
            painter.setPen(QPen(kHighlight, 2.5));
            painter.drawEllipse(*at, r, r);
        }
    }

    if (azimuthal) {
        // Home: a dark disc in a white ring, and a cross that finds it among
        // the dots.
        painter.setPen(QPen(centreColour(), 1.5));
        painter.drawLine(origin - QPointF(11, 0), origin - QPointF(6, 0));
        painter.drawLine(origin + QPointF(6, 0), origin + QPointF(11, 0));
        painter.drawLine(origin - QPointF(0, 11), origin - QPointF(0, 6));
        painter.drawLine(origin + QPointF(0, 6), origin + QPointF(0, 11));
        painter.setPen(QPen(Qt::white, 2));
        painter.setBrush(centreColour());
        painter.drawEllipse(origin, 5, 5);
    }
    painter.restore();
}

}  // namespace zolt
