// SPDX-License-Identifier: GPL-2.0-or-later
#include "app/MapWindow.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSaveFile>
#ifdef ZOLT_HAVE_SVG
#include <QSvgGenerator>
#endif
#include <QToolTip>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <exception>

#include "app/NativePath.h"
#include "app/ShownNumbers.h"
#include "core/EngineError.h"
#include "engine/Project.h"

namespace zolt {

// The drawing surface: paints from the renderer's caches and turns the mouse
// into hovering, clicking, panning and zooming. Keys go to the window.
class MapCanvas : public QWidget {
  public:
    explicit MapCanvas(MapWindow& window) : QWidget(&window), window_(window) {
        setMouseTracking(true);
        setFocusPolicy(Qt::StrongFocus);
        setMinimumSize(320, 240);
        setAccessibleName(QStringLiteral("Map"));
        setAccessibleDescription(QStringLiteral(
            "Beacons logged at this location around its home position. Arrow keys pan, plus "
            "and minus zoom."));
    }

    QSize sizeHint() const override { return {900, 680}; }

  protected:
    void paintEvent(QPaintEvent*) override {
        MapRenderer& r = window_.renderer_;
        r.setSize(size());
        // The base layers change only with the view, so hovering and
        // clicking repaint from a picture of them.
        const qreal dpr = devicePixelRatioF();
        if (base_.isNull() || baseVersion_ != r.baseVersion() || base_.size() != size() * dpr) {
            base_ = QPixmap(size() * dpr);
            base_.setDevicePixelRatio(dpr);
            QPainter p(&base_);
            r.renderBase(p);
            baseVersion_ = r.baseVersion();
        }
        QPainter painter(this);
        painter.drawPixmap(0, 0, base_);
        r.renderOverlay(painter);
    }

    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
        pressAt_ = lastAt_ = event->position();
        dragging_ = false;
    }

    void mouseMoveEvent(QMouseEvent* event) override {
        const QPointF at = event->position();
        if (event->buttons() & Qt::LeftButton) {
            if (!dragging_ && (at - pressAt_).manhattanLength() > 4) dragging_ = true;
            if (dragging_) {
                window_.renderer_.panByPixels(at - lastAt_);
                lastAt_ = at;
                update();
                return;
            }
        }
        window_.pointer_ = at;
        window_.hoverAt(at);
    }

    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
        if (!dragging_) window_.clicked(window_.renderer_.hitAt(event->position()));
        dragging_ = false;
    }

    void leaveEvent(QEvent*) override {
        window_.pointer_.reset();
        window_.hoverChanged({});
    }

    void wheelEvent(QWheelEvent* event) override {
        const double steps = event->angleDelta().y() / 120.0;
        if (steps == 0) return;
        window_.renderer_.zoomBy(std::pow(1.25, steps), event->position());
        update();
    }

  private:
    MapWindow& window_;
    QPixmap base_;
    quint64 baseVersion_ = ~quint64{0};
    QPointF pressAt_, lastAt_;
    bool dragging_ = false;
};

namespace {

QPushButton* button(QWidget* parent, const QString& text, const char* name,
                    const QString& accessible) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAccessibleName(accessible);
    b->setAutoDefault(false);
    return b;
}

QString describeError(const std::exception& e) { return QString::fromStdString(e.what()); }

}  // namespace

MapWindow::MapWindow(const ProjectPaths& paths, int location,
                     const std::filesystem::path& outlineFile, QWidget* parent)
    : QWidget(parent, Qt::Window), paths_(paths), location_(location) {
    buildUi();
    loadOutline(outlineFile);
    loadScene();
}

MapWindow::MapWindow(const ProjectPaths& paths, int location, QWidget* parent)
    : MapWindow(paths, location, defaultOutlineFile(), parent) {}

MapWindow::MapWindow(const ProjectPaths& paths, LocationMapScene scene,
                     const std::filesystem::path& outlineFile, QWidget* parent)
    : QWidget(parent, Qt::Window), paths_(paths), location_(scene.location) {
    buildUi();
    loadOutline(outlineFile);
    applyScene(std::move(scene));
}

MapWindow::MapWindow(LocationMapScene scene, std::vector<LandRing> land, QWidget* parent)
    : QWidget(parent, Qt::Window), location_(scene.location) {
    buildUi();
    renderer_.setLand(std::move(land));
    applyScene(std::move(scene));
}

MapWindow::~MapWindow() = default;

std::filesystem::path MapWindow::defaultOutlineFile() {
    const std::filesystem::path exe = pathFromQString(QCoreApplication::applicationDirPath());
    return applicationDataFolder(exe) / kLandOutlineFile;
}

void MapWindow::buildUi() {
    setObjectName(QStringLiteral("MapWindow"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    resize(960, 800);

    title_ = new QLabel(this);
    title_->setObjectName(QStringLiteral("lblMapTitle"));
    title_->setWordWrap(true);
    canvas_ = new MapCanvas(*this);
    canvas_->setObjectName(QStringLiteral("mapCanvas"));
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("lblMapStatus"));
    // Descriptions, not names: a label's accessible name would replace its
    // text, and a screen reader would never read the beacon or the figures.
    status_->setAccessibleDescription(QStringLiteral("The beacon under the pointer"));
    status_->setTextFormat(Qt::PlainText);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    message_ = new QLabel(this);
    message_->setObjectName(QStringLiteral("lblMapMessage"));
    message_->setWordWrap(true);
    message_->setTextFormat(Qt::PlainText);
    message_->setStyleSheet(QStringLiteral("color: #a03000;"));
    message_->hide();
    figures_ = new QLabel(this);
    figures_->setObjectName(QStringLiteral("lblMapFigures"));
    figures_->setAccessibleDescription(QStringLiteral("Figures of the location"));
    figures_->setTextFormat(Qt::PlainText);
    figures_->setWordWrap(true);
    figures_->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* zoomIn = button(this, QStringLiteral("Zoom &In"), "cmdZoomIn", QStringLiteral("Zoom in"));
    auto* zoomOut =
        button(this, QStringLiteral("Zoom &Out"), "cmdZoomOut", QStringLiteral("Zoom out"));
    auto* whole = button(this, QStringLiteral("&Whole View"), "cmdWholeView",
                         QStringLiteral("Show the whole view again"));
    auto* png = button(this, QStringLiteral("Save as &PNG\u2026"), "cmdSavePng",
                       QStringLiteral("Save the map as a PNG picture"));
    auto* svg = button(this, QStringLiteral("Save as &SVG\u2026"), "cmdSaveSvg",
                       QStringLiteral("Save the map as an SVG drawing"));
#ifndef ZOLT_HAVE_SVG
    svg->hide();  // built without Qt SVG (the Windows build): no drawing to save
#endif
    auto* close =
        button(this, QStringLiteral("&Close"), "cmdCloseMap", QStringLiteral("Close the map"));
    connect(zoomIn, &QPushButton::clicked, this, [this] {
        renderer_.zoomBy(1.5);
        canvas_->update();
    });
    connect(zoomOut, &QPushButton::clicked, this, [this] {
        renderer_.zoomBy(1 / 1.5);
        canvas_->update();
    });
    connect(whole, &QPushButton::clicked, this, [this] {
        renderer_.resetView();
        canvas_->update();
    });
    connect(png, &QPushButton::clicked, this, [this] { chooseAndSave(false); });
    connect(svg, &QPushButton::clicked, this, [this] { chooseAndSave(true); });
    connect(close, &QPushButton::clicked, this, &QWidget::close);

    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {zoomIn, zoomOut, whole}) buttons->addWidget(b);
    buttons->addStretch(1);
    for (QPushButton* b : {png, svg, close}) buttons->addWidget(b);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(title_);
    layout->addWidget(canvas_, 1);
    layout->addWidget(status_);
    layout->addWidget(message_);
    layout->addWidget(figures_);
    layout->addLayout(buttons);
    canvas_->setFocus();
    setFocusProxy(canvas_);
}

void MapWindow::loadOutline(const std::filesystem::path& file) {
    outlineProblem_.clear();
    std::error_code error;
    if (!std::filesystem::exists(file, error)) {
        outlineProblem_ = QStringLiteral(
                              "The world outline file %1 is missing (looked for %2), so the map "
                              "is drawn without coastlines.")
                              .arg(QString::fromStdString(file.filename().string()),
                                   QDir::toNativeSeparators(QString::fromStdString(file.string())));
    } else {
        try {
            renderer_.setLand(loadLandOutline(file));
        } catch (const std::exception& e) {
            outlineProblem_ =
                describeError(e) + QStringLiteral(" The map is drawn without coastlines.");
        }
    }
    updateMessage();
}

void MapWindow::loadScene() {
    sceneProblem_.clear();
    LocationMapScene scene = makeLocationMapScene(location_, {}, {});
    if (paths_) {
        try {
            scene = loadLocationMapScene(*paths_, location_);
        } catch (const std::exception& e) {
            sceneProblem_ = describeError(e);
        }
    }
    updateMessage();
    applyScene(std::move(scene));
}

void MapWindow::updateMessage() {
    QStringList lines;
    for (const QString* line : {&outlineProblem_, &sceneProblem_}) {
        if (!line->isEmpty()) lines << *line;
    }
    message_->setText(lines.join(QLatin1Char('\n')));
    message_->setVisible(!lines.isEmpty());
}

void MapWindow::applyScene(LocationMapScene scene) {
    // A new reading of the same home keeps the listener's zoom and place.
    const auto& before = renderer_.scene().centre();
    const auto& after = scene.centre();
    const bool sameHome = before.has_value() == after.has_value() &&
                          (!before || (before->lat == after->lat && before->lon == after->lon));
    const bool keepView = sameHome && !renderer_.fitted();
    const double radius = renderer_.viewRadius();
    const PlaneXY centre = renderer_.viewCentre();

    const auto keep = renderer_.candidates();
    renderer_.setScene(std::move(scene));
    renderer_.setCandidates(keep);
    if (keepView) {
        renderer_.setViewRadius(radius);
        renderer_.setViewCentre(centre);
    }
    hovered_ = selected_ = {};
    updateTexts();
    canvas_->update();
}

void MapWindow::updateTexts() {
    const QString name =
        locationName_.isEmpty() ? QStringLiteral("location %1").arg(location_) : locationName_;
    setWindowTitle(QStringLiteral("Map of %1").arg(name));
    title_->setText(
        QStringLiteral("<b>Map of %1</b> \u2014 %2")
            .arg(name.toHtmlEscaped(),
                 QString::fromStdString(describeHome(renderer_.scene().home)).toHtmlEscaped()));
    const bool world = renderer_.projection() == MapRenderer::Projection::World;
    QString figures = QString::fromStdString(describeFigures(renderer_.scene()));
    if (world) figures += QStringLiteral(" \u00B7 world map until home is known");
    const auto own =
        std::count_if(renderer_.scene().beacons.begin(), renderer_.scene().beacons.end(),
                      [](const LoggedBeacon& b) { return b.own; });
    if (own > 0) {
        figures +=
            QStringLiteral(" \u00B7 %1 of your own, drawn as diamonds")
                .arg(own == 1 ? QStringLiteral("one beacon") : counted(own, "beacon", "beacons"));
    }
    figures_->setText(figures);
    showStatus();
}

void MapWindow::setLocationName(const QString& name) {
    locationName_ = name;
    updateTexts();
}

void MapWindow::reload() {
    if (paths_) loadScene();
}

void MapWindow::showScene(LocationMapScene scene) {
    sceneProblem_.clear();
    updateMessage();
    applyScene(std::move(scene));
}

void MapWindow::showCandidates(const RankedCandidates& ranked) {
    std::vector<MapCandidate> candidates;
    for (std::size_t i = 0; i < ranked.rows.size(); ++i) {
        candidates.push_back({ranked.rows[i].candidate, static_cast<int>(i) == ranked.suggested});
    }
    renderer_.setCandidates(std::move(candidates));
    if (hovered_.kind == MapRenderer::HitKind::Candidate) hovered_ = {};
    if (selected_.kind == MapRenderer::HitKind::Candidate) selected_ = {};
    renderer_.setHighlight(selected_);
    showStatus();
    canvas_->update();
}

void MapWindow::clearCandidates() { showCandidates(RankedCandidates{}); }

void MapWindow::hoverAt(QPointF at) {
    const MapRenderer::Hit hit = renderer_.hitAt(at);
    if (hit == hovered_) return;
    hoverChanged(hit);
    if (hit.kind == MapRenderer::HitKind::None) {
        QToolTip::hideText();
    } else {
        QToolTip::showText(canvas_->mapToGlobal(at.toPoint()), renderer_.describe(hit), canvas_);
    }
}

void MapWindow::hoverChanged(MapRenderer::Hit hit) {
    hovered_ = hit;
    renderer_.setHighlight(hit.kind != MapRenderer::HitKind::None ? hit : selected_);
    showStatus();
    canvas_->update();
}

void MapWindow::clicked(MapRenderer::Hit hit) {
    selected_ = hit;
    renderer_.setHighlight(hit);
    showStatus();
    canvas_->update();
}

void MapWindow::showStatus() {
    QString text = renderer_.describe(hovered_);
    if (text.isEmpty()) text = renderer_.describe(selected_);
    if (text.isEmpty()) {
        const auto& candidates = renderer_.candidates();
        int placed = 0;
        bool suggested = false;
        for (const MapCandidate& c : candidates) {
            placed += c.candidate.position ? 1 : 0;
            suggested |= c.suggested && c.candidate.position;
        }
        if (!candidates.empty()) {
            text = QStringLiteral("%1 of %2 on the map (blue rings)")
                       .arg(numberText(placed), counted(static_cast<long long>(candidates.size()),
                                                        "candidate", "candidates"));
            text += suggested ? QStringLiteral(", the suggested pick ringed in green.")
                              : QStringLiteral(", none clearly nearest.");
        } else {
            text = QStringLiteral(
                "Point at a dot for its beacon. Drag or use the arrow keys to move, the wheel "
                "or + and \u2212 to zoom.");
        }
    }
    status_->setText(text);
}

QWidget* MapWindow::canvas() const { return canvas_; }
QString MapWindow::titleText() const { return windowTitle(); }
QString MapWindow::statusText() const { return status_->text(); }
QString MapWindow::figuresText() const { return figures_->text(); }
QString MapWindow::messageText() const { return message_->text(); }

QImage MapWindow::renderImage(QSize size) {
    renderer_.setSize(size);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    renderer_.render(painter);
    return image;
}

void MapWindow::keyPressEvent(QKeyEvent* event) {
    const double step = 60;
    switch (event->key()) {
        case Qt::Key_Escape:
            close();
            return;
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            renderer_.zoomBy(1.5);
            break;
        case Qt::Key_Minus:
        case Qt::Key_Underscore:
            renderer_.zoomBy(1 / 1.5);
            break;
        case Qt::Key_Left:
            renderer_.panByPixels({step, 0});
            break;
        case Qt::Key_Right:
            renderer_.panByPixels({-step, 0});
            break;
        case Qt::Key_Up:
            renderer_.panByPixels({0, step});
            break;
        case Qt::Key_Down:
            renderer_.panByPixels({0, -step});
            break;
        case Qt::Key_Home:
        case Qt::Key_0:
            renderer_.resetView();
            break;
        default:
            QWidget::keyPressEvent(event);
            return;
    }
    // The view moved under a pointer that did not: what it points at now
    // is another beacon, or none.
    if (pointer_) hoverAt(*pointer_);
    canvas_->update();
}

// ---- export --------------------------------------------------------------------

namespace {
constexpr int kCaptionMargin = 8;
QFont captionFont() {
    QFont font;
    font.setPixelSize(13);
    return font;
}
}  // namespace

QString MapWindow::exportCaption() const {
    return windowTitle() + QStringLiteral(" \u2014 ") +
           QString::fromStdString(describeHome(renderer_.scene().home)) + QLatin1Char('\n') +
           figures_->text();
}

int MapWindow::exportCaptionHeight(int width) const {
    // As many lines as the caption wraps into at this width, so that the
    // picture holds all of it.
    const QFontMetrics metrics(captionFont());
    const QRect text =
        metrics.boundingRect(QRect(0, 0, width - 2 * kCaptionMargin, 100000),
                             Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, exportCaption());
    return text.height() + 2 * kCaptionMargin;
}

void MapWindow::drawExport(QPainter& painter, QSize mapSize) {
    const QSize keep = renderer_.size();
    renderer_.setSize(mapSize);
    const int captionHeight = exportCaptionHeight(mapSize.width());
    painter.fillRect(QRect(QPoint(0, 0), QSize(mapSize.width(), mapSize.height() + captionHeight)),
                     Qt::white);
    renderer_.render(painter);
    painter.setFont(captionFont());
    painter.setPen(Qt::black);
    const QRect caption(kCaptionMargin, mapSize.height() + kCaptionMargin,
                        mapSize.width() - 2 * kCaptionMargin, captionHeight - 2 * kCaptionMargin);
    painter.drawText(caption, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, exportCaption());
    renderer_.setSize(keep);
}

namespace {
QSize exportSize(QWidget* canvas) {
    const QSize s = canvas->size();
    return canvas->isVisible() && s.width() >= 320 && s.height() >= 240 ? s : QSize(1000, 760);
}
}  // namespace

bool MapWindow::savePng(const QString& path) {
    const QSize mapSize = exportSize(canvas_);
    QImage image(mapSize + QSize(0, exportCaptionHeight(mapSize.width())),
                 QImage::Format_ARGB32_Premultiplied);
    {
        QPainter painter(&image);
        drawExport(painter, mapSize);
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (!image.save(&file, "PNG")) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool MapWindow::saveSvg(const QString& path) {
#ifndef ZOLT_HAVE_SVG
    (void)path;
    return false;
#else
    const QSize mapSize = exportSize(canvas_);
    const QSize total = mapSize + QSize(0, exportCaptionHeight(mapSize.width()));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(total);
        svg.setViewBox(QRect(QPoint(0, 0), total));
        svg.setTitle(windowTitle());
        svg.setDescription(figures_->text());
        QPainter painter;
        if (!painter.begin(&svg)) return false;
        drawExport(painter, mapSize);
        painter.end();
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    if (file.write(buffer.data()) != buffer.data().size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
#endif
}

void MapWindow::chooseAndSave(bool svg) {
    const QString filter =
        svg ? QStringLiteral("SVG drawing (*.svg)") : QStringLiteral("PNG picture (*.png)");
    const QString suffix = svg ? QStringLiteral(".svg") : QStringLiteral(".png");
    QString path = QFileDialog::getSaveFileName(
        this, svg ? QStringLiteral("Save the Map as SVG") : QStringLiteral("Save the Map as PNG"),
        QDir::home().filePath(QStringLiteral("map-location-%1%2").arg(location_).arg(suffix)),
        filter);
    if (path.isEmpty()) return;
    if (!path.endsWith(suffix, Qt::CaseInsensitive)) path += suffix;
    const bool ok = svg ? saveSvg(path) : savePng(path);
    if (!ok) {
        QMessageBox::warning(this, QStringLiteral("Save the Map"),
                             QStringLiteral("The map could not be saved as %1: the file could not "
                                            "be written there.")
                                 .arg(QDir::toNativeSeparators(path)));
    }
}

}  // namespace zolt
