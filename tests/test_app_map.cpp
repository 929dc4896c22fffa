// SPDX-License-Identifier: GPL-2.0-or-later
// The location map: where things land in the picture under both projections,
// land and sea round a home whose far side is land, the exports, a missing
// outline, and the mouse and keys.
#include <gtest/gtest.h>

#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QRegularExpression>
#ifdef ZOLT_HAVE_SVG
#include <QSvgRenderer>
#endif
#include <QTest>
#include <QToolTip>
#include <QWheelEvent>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "EngineTestUtil.h"
#include "TestUtil.h"
#include "WindowTestUtil.h"
#include "app/MapWindow.h"

namespace fs = std::filesystem;
using namespace zolt;

namespace {

LoggedBeacon beacon(const char* ident, LatLon position, int receptions = 1) {
    return {0, ident, "344", "Town", "Land", position, receptions};
}

Candidate candidate(const char* ident, std::optional<LatLon> position) {
    return {0, ident, "", "", "", "", position};
}

LocationMapScene sceneAt(std::optional<LatLon> home, std::vector<LoggedBeacon> beacons) {
    LocationHome h;
    h.position = home;
    h.source = home ? LocationHome::Source::Entered : LocationHome::Source::Unknown;
    return makeLocationMapScene(1, h, std::move(beacons));
}

QImage render(MapRenderer& renderer) {
    QImage image(renderer.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    renderer.render(painter);
    return image;
}

QColor pixel(const QImage& image, QPointF at) {
    return image.pixelColor(static_cast<int>(std::floor(at.x())),
                            static_cast<int>(std::floor(at.y())));
}
bool reddish(QColor c) { return c.red() > c.green() + 60 && c.red() > c.blue() + 60; }
bool dark(QColor c) { return c.red() < 70 && c.green() < 70 && c.blue() < 70; }

// The expected pixel is worked out here from the projection alone: half the
// shorter side of the picture spans the view radius, x grows east, y south.
TEST(MapRender, HomeAndBeaconLandWhereTheProjectionPutsThem) {
    struct Case {
        const char* name;
        std::optional<LatLon> home;
        LatLon beacon;
        QSize size;
        double viewRadius;  // km round home; 0: the whole world, fitted
    };
    const std::vector<Case> cases = {
        {"round home, to the north-east", LatLon{50, 10}, {55, 20}, {400, 400}, 2000},
        {"round home, south-west, wide picture", LatLon{50, 10}, {45, 2}, {600, 400}, 1500},
        {"round home across the date line", LatLon{60, 179}, {62, -170}, {400, 300}, 1000},
        {"world: 45° N 90° E", std::nullopt, {45, 90}, {720, 360}, 0},
        {"world: wide picture, 30° S 120° W", std::nullopt, {-30, -120}, {900, 360}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MapRenderer renderer;
        renderer.setScene(sceneAt(c.home, {beacon("TST", c.beacon)}));
        renderer.setSize(c.size);
        QPointF expected;
        const QPointF middle(c.size.width() / 2.0, c.size.height() / 2.0);
        if (c.home) {
            ASSERT_EQ(renderer.projection(), MapRenderer::Projection::Azimuthal);
            renderer.setViewRadius(c.viewRadius);
            const double scale = std::min(c.size.width(), c.size.height()) / 2.0 / c.viewRadius;
            const PlaneXY km = azimuthalEquidistantKm(*c.home, c.beacon);
            expected = middle + QPointF(km.x * scale, -km.y * scale);
        } else {
            ASSERT_EQ(renderer.projection(), MapRenderer::Projection::World);
            const double pxPerDeg = std::min(c.size.width() / 360.0, c.size.height() / 180.0);
            expected = middle + QPointF(c.beacon.lon * pxPerDeg, -c.beacon.lat * pxPerDeg);
        }
        const QImage image = render(renderer);
        EXPECT_TRUE(reddish(pixel(image, expected)))
            << "no dot at " << expected.x() << "," << expected.y();
        // Mirrored through the middle there must be none: a flipped axis
        // would put the dot there.
        if ((expected - middle).manhattanLength() > 20) {
            EXPECT_FALSE(reddish(pixel(image, 2 * middle - expected)));
        }
        if (c.home) {
            EXPECT_TRUE(dark(pixel(image, middle))) << "no home marker in the middle";
        }
    }
}

// Each ring is filled the way that leaves out the far side of the Earth, so
// when that point is on land the sea and land would swap without care.
TEST(MapRender, LandAndSeaRoundAnyHome) {
    struct Case {
        const char* name;
        LatLon home, probe;
        bool land;
    };
    const std::vector<Case> cases = {
        {"Denmark: Siberia", {55.6, 12.6}, {60, 80}, true},
        {"Denmark: mid-Atlantic", {55.6, 12.6}, {40, -40}, false},
        {"Pacific, far side in Africa: the sea nearby", {-5, -160}, {0, -140}, false},
        {"Pacific, far side in Africa: North America", {-5, -160}, {40, -100}, true},
        {"Pacific, far side in Africa: Indian Ocean", {-5, -160}, {-20, 75}, false},
    };
    const auto land = loadLandOutline(fs::path(ZOLT_SOURCE_DIR) / "data" / "land-110m.txt");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MapRenderer renderer;
        renderer.setLand(land);
        renderer.setScene(sceneAt(c.home, {}));
        renderer.setSize({800, 800});
        renderer.setViewRadius(20500);  // the whole Earth
        const QImage image = render(renderer);
        const QColor at = pixel(image, renderer.toPixel(renderer.project(c.probe)));
        EXPECT_EQ(at.rgb(), (c.land ? MapRenderer::landColour() : MapRenderer::oceanColour()).rgb())
            << at.name().toStdString();
    }
}

TEST(MapRender, CandidatesAndTheSuggestedPick) {
    MapRenderer renderer;
    renderer.setScene(sceneAt(LatLon{50, 10}, {}));
    renderer.setSize({400, 400});
    renderer.setViewRadius(1000);
    renderer.setCandidates({{candidate("NEAR", LatLon{51, 12}), true},
                            {candidate("FAR", LatLon{-30, 150}), false},  // beyond the picture
                            {candidate("NONE", std::nullopt), false}});
    const QImage image = render(renderer);

    // The suggested pick: a green ring of radius 10 round its place.
    const QPointF near = renderer.toPixel(renderer.project({51, 12}));
    ASSERT_EQ(renderer.candidatePixel(0), near);
    const QColor ring = pixel(image, near + QPointF(10, 0));
    EXPECT_GT(ring.green(), ring.red() + 60) << ring.name().toStdString();

    // The far one is pinned inside the edge, on the straight line from home.
    const auto far = renderer.candidatePixel(1);
    ASSERT_TRUE(far);
    EXPECT_TRUE(QRectF(0, 0, 400, 400).adjusted(10, 10, -10, -10).contains(*far));
    const QPointF home = renderer.toPixel({0, 0});
    const QPointF truly = renderer.toPixel(renderer.project({-30, 150}));
    const QPointF a = *far - home, b = truly - home;
    EXPECT_NEAR(a.x() * b.y() - a.y() * b.x(), 0, 1e-6 * std::hypot(b.x(), b.y()) * 400);
    EXPECT_GT(a.x() * b.x() + a.y() * b.y(), 0);
    const MapRenderer::Hit hit = renderer.hitAt(*far);
    EXPECT_EQ(hit.kind, MapRenderer::HitKind::Candidate);
    EXPECT_EQ(hit.index, 1);
    EXPECT_TRUE(renderer.describe(hit).startsWith(QStringLiteral("Candidate: FAR")));
    EXPECT_FALSE(renderer.candidatePixel(2));
}

TEST(MapRender, OwnBeaconsAreDrawnAndNamedAsOwn) {
    LoggedBeacon own = beacon("OWN", {52, 14});
    own.own = true;
    MapRenderer renderer;
    renderer.setScene(sceneAt(LatLon{50, 10}, {beacon("LST", {48, 6}), own}));
    renderer.setSize({400, 400});
    renderer.setViewRadius(1000);
    const QImage image = render(renderer);
    const QPointF at = renderer.toPixel(renderer.project({52, 14}));
    const QColor c = pixel(image, at);
    EXPECT_LT(std::abs(c.red() - MapRenderer::ownColour().red()) +
                  std::abs(c.green() - MapRenderer::ownColour().green()) +
                  std::abs(c.blue() - MapRenderer::ownColour().blue()),
              30)
        << c.name().toStdString();
    EXPECT_TRUE(renderer.describe(renderer.hitAt(at)).startsWith("Your own beacon: OWN"));
    const QPointF listed = renderer.toPixel(renderer.project({48, 6}));
    EXPECT_FALSE(renderer.describe(renderer.hitAt(listed)).contains("Your own"));
}

class MapWindowTest : public ::testing::Test {
  protected:
    MapWindowTest() { test::application(); }

    // Home near Hamburg; one beacon to the east heard 4 times, one south.
    std::unique_ptr<MapWindow> open() {
        auto window = std::make_unique<MapWindow>(
            sceneAt(LatLon{53.5, 10}, {beacon("EST", {53.5, 14}, 4), beacon("SUD", {50, 10})}),
            std::vector<LandRing>{});
        window->resize(800, 700);
        window->show();
        for (int i = 0; i < 3; ++i) QApplication::processEvents();
        window->renderer().setSize(window->canvas()->size());
        return window;
    }

    static void mouse(QWidget* target, QEvent::Type type, QPointF at, Qt::MouseButton button,
                      Qt::MouseButtons held) {
        QMouseEvent event(type, at, target->mapToGlobal(at), button, held, Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }

    test::TempDir dir;
};

TEST_F(MapWindowTest, TheStatusLineTellsThePointedBeaconAndTheCandidates) {
    auto window = open();
    window->showCandidates(
        {{{candidate("CAN", LatLon{53, 11}), {}, {}}, {candidate("CAN", {}), {}, {}}}, 0});
    EXPECT_TRUE(window->statusText().startsWith(QStringLiteral("1 of 2 candidates on the map")));
    EXPECT_TRUE(window->statusText().contains(QStringLiteral("suggested")));
    window->clearCandidates();
    EXPECT_FALSE(window->statusText().contains(QStringLiteral("candidates")));
    MapRenderer& r = window->renderer();
    const QPointF east = r.toPixel(r.project({53.5, 14}));
    mouse(window->canvas(), QEvent::MouseMove, east, Qt::NoButton, Qt::NoButton);
    const QString status = window->statusText();
    for (const char* part :
         {"EST 344 kHz", "Town, Land", " km, bearing 0", "(E)", "4 receptions"}) {
        EXPECT_TRUE(status.contains(QString::fromUtf8(part))) << status.toStdString();
    }
    mouse(window->canvas(), QEvent::MouseMove, QPointF(5, 5), Qt::NoButton, Qt::NoButton);
    EXPECT_FALSE(window->statusText().contains(QStringLiteral("EST")));

    // A click keeps the beacon in the status line after the pointer leaves.
    const QPointF south = r.toPixel(r.project({50, 10}));
    mouse(window->canvas(), QEvent::MouseButtonPress, south, Qt::LeftButton, Qt::LeftButton);
    mouse(window->canvas(), QEvent::MouseButtonRelease, south, Qt::LeftButton, Qt::NoButton);
    mouse(window->canvas(), QEvent::MouseMove, QPointF(5, 5), Qt::NoButton, Qt::NoButton);
    EXPECT_TRUE(window->statusText().contains(QStringLiteral("SUD")))
        << window->statusText().toStdString();
    EXPECT_TRUE(window->statusText().contains(QStringLiteral("(S)")));
}

TEST_F(MapWindowTest, KeysZoomPanAndClose) {
    // Which way the view radius and the centre's x and y move.
    const std::tuple<Qt::Key, int, int, int> cases[] = {
        {Qt::Key_Plus, -1, 0, 0}, {Qt::Key_Minus, 1, 0, 0}, {Qt::Key_Left, 0, -1, 0},
        {Qt::Key_Right, 0, 1, 0}, {Qt::Key_Up, 0, 0, 1},    {Qt::Key_Down, 0, 0, -1}};
    const auto sign = [](double d) { return (d > 1e-9) - (d < -1e-9); };
    auto window = open();
    MapRenderer& r = window->renderer();
    for (const auto& [key, radius, x, y] : cases) {
        const double radiusBefore = r.viewRadius();
        const PlaneXY before = r.viewCentre();
        QTest::keyClick(window->canvas(), key);
        EXPECT_EQ(std::tuple(sign(r.viewRadius() - radiusBefore), sign(r.viewCentre().x - before.x),
                             sign(r.viewCentre().y - before.y)),
                  std::tuple(radius, x, y))
            << QTest::toString(key);
    }
    QTest::keyClick(window->canvas(), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(MapWindowTest, WheelZoomsAboutThePointerAndDragPans) {
    auto window = open();
    MapRenderer& r = window->renderer();
    const QPointF at(600, 200);
    const PlaneXY under = r.toPlane(at);
    const double radius = r.viewRadius();
    QWheelEvent wheel(at, window->canvas()->mapToGlobal(at), {}, {0, 120}, Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(window->canvas(), &wheel);
    EXPECT_NEAR(r.viewRadius(), radius / 1.25, 1e-6);
    const QPointF still = r.toPixel(under);
    EXPECT_NEAR(still.x(), at.x(), 1e-6);
    EXPECT_NEAR(still.y(), at.y(), 1e-6);

    const PlaneXY centre = r.viewCentre();
    const double kmPerPixel =
        r.viewRadius() / (std::min(r.size().width(), r.size().height()) / 2.0);
    mouse(window->canvas(), QEvent::MouseButtonPress, {300, 300}, Qt::LeftButton, Qt::LeftButton);
    mouse(window->canvas(), QEvent::MouseMove, {330, 300}, Qt::NoButton, Qt::LeftButton);
    mouse(window->canvas(), QEvent::MouseMove, {350, 300}, Qt::NoButton, Qt::LeftButton);
    mouse(window->canvas(), QEvent::MouseButtonRelease, {350, 300}, Qt::LeftButton, Qt::NoButton);
    EXPECT_NEAR(r.viewCentre().x, centre.x - 50 * kmPerPixel, 1e-6);
    EXPECT_NEAR(r.viewCentre().y, centre.y, 1e-6);
}

// A zoom from the keyboard moves the map under a pointer that stays: the
// status line and tooltip follow what it points at now.
TEST_F(MapWindowTest, AKeyboardZoomRefreshesWhatThePointerShows) {
    auto window = open();
    MapRenderer& r = window->renderer();
    const QPointF east = r.toPixel(r.project({53.5, 14}));
    mouse(window->canvas(), QEvent::MouseMove, east, Qt::NoButton, Qt::NoButton);
    ASSERT_TRUE(window->statusText().contains("EST"));
    ASSERT_TRUE(QToolTip::text().contains("EST"));
    for (int i = 0; i < 3; ++i) QTest::keyClick(window->canvas(), Qt::Key_Plus);
    EXPECT_FALSE(window->statusText().contains("EST")) << window->statusText().toStdString();
    QTest::qWait(500);  // a tooltip fades out
    EXPECT_FALSE(QToolTip::isVisible() && QToolTip::text().contains("EST"));
    for (int i = 0; i < 3; ++i) QTest::keyClick(window->canvas(), Qt::Key_Minus);
    EXPECT_TRUE(window->statusText().contains("EST")) << window->statusText().toStdString();
}

// The saved pictures hold their whole caption, however narrow the map and
// however long the names in it.
TEST_F(MapWindowTest, SavedPicturesHoldTheirWholeCaption) {
    LoggedBeacon far = beacon("FAR", {-33.9, 151.2});
    far.city = "A very long name of a city somewhere far away on the other side of the world";
    far.country = "A country with a long name as well";
    MapWindow window(sceneAt(LatLon{53.5, 10}, {far}), {});
    window.setLocationName("The listening location with the longest name one could think of");
    window.resize(340, 400);
    window.show();
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
    const QSize map = window.canvas()->size();
    ASSERT_GE(map.width(), 320);

#ifndef ZOLT_HAVE_SVG
    GTEST_SKIP() << "built without Qt SVG: the drawing, and its layout, are not there";
#endif
    const QString svgPath = QString::fromStdString((dir / "map.svg").string());
    ASSERT_TRUE(window.saveSvg(svgPath));
    const QString svg = QString::fromStdString(test::readFile(dir / "map.svg"));
    const auto box = QRegularExpression(R"re(viewBox="0 0 (\d+) (\d+)")re").match(svg);
    ASSERT_TRUE(box.hasMatch());
    const int height = box.captured(2).toInt();
    int texts = 0;
    const QRegularExpression textAt(R"re(<text[^>]* y="([\d.]+)")re");
    for (auto it = textAt.globalMatch(svg); it.hasNext();) {
        ++texts;
        EXPECT_LE(it.next().captured(1).toDouble(), height);
    }
    EXPECT_GT(texts, 3);

    // The PNG is laid out as the drawing is.
    const QString pngPath = QString::fromStdString((dir / "map.png").string());
    ASSERT_TRUE(window.savePng(pngPath));
    EXPECT_EQ(QImage(pngPath).height(), height);
}

TEST_F(MapWindowTest, SavesPngAndSvg) {
    auto window = open();
    const QString png = QString::fromStdString((dir / "map.png").string());
    const QString svg = QString::fromStdString((dir / "map.svg").string());
    ASSERT_TRUE(window->savePng(png));
    const QImage image(png);
    EXPECT_EQ(image.width(), window->canvas()->width());
    EXPECT_GT(image.height(), window->canvas()->height());  // the caption below the map

#ifdef ZOLT_HAVE_SVG
    ASSERT_TRUE(window->saveSvg(svg));
    EXPECT_TRUE(QSvgRenderer(svg).isValid());
    // Dots in a drawing are true circles, not pictures of them.
    EXPECT_EQ(test::readFile(dir / "map.svg").find("<image"), std::string::npos);
    const std::initializer_list<bool> kinds = {false, true};
#else
    // Built without Qt SVG: no drawing is written, and the button is not shown.
    EXPECT_FALSE(window->saveSvg(svg));
    EXPECT_FALSE(fs::exists(dir / "map.svg"));
    const std::initializer_list<bool> kinds = {false};
#endif

    for (const bool asSvg : kinds) {
        const fs::path path = dir / "missing" / (asSvg ? "map.svg" : "map.png");
        const QString target = QString::fromStdString(path.string());
        EXPECT_FALSE(asSvg ? window->saveSvg(target) : window->savePng(target)) << path;
        EXPECT_FALSE(fs::exists(path));
    }
}

// Without its outline the map still opens, says which file is missing or
// broken, and draws what it has; a location with nothing logged and no home
// is a world map.
TEST_F(MapWindowTest, OutlineMissingOrBroken) {
    const ProjectPaths paths = test::makeProject(dir.path());
    struct Case {
        const char* name;
        std::optional<std::string> content;  // none: no file
        std::vector<const char*> message;
    };
    const std::vector<Case> cases = {
        {"missing", std::nullopt, {"land-110m.txt", "missing", "without coastlines"}},
        {"broken", "# comment\n1 2 3\n", {"land-110m.txt", "line 2", "without coastlines"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path outline = dir / c.name / "land-110m.txt";
        if (c.content) {
            fs::create_directories(outline.parent_path());
            test::writeFile(outline, *c.content);
        }
        MapWindow window(paths, 4, outline);
        window.show();
        QApplication::processEvents();
        for (const char* part : c.message) {
            EXPECT_TRUE(window.messageText().contains(QString::fromUtf8(part)))
                << window.messageText().toStdString();
        }
        EXPECT_EQ(window.renderer().projection(), MapRenderer::Projection::World);
        EXPECT_TRUE(window.figuresText().startsWith(QStringLiteral("No receptions logged")));
        EXPECT_FALSE(window.renderImage({400, 200}).isNull());
    }
    MapWindow fine(paths, 4, fs::path(ZOLT_SOURCE_DIR) / "data" / "land-110m.txt");
    EXPECT_TRUE(fine.messageText().isEmpty()) << fine.messageText().toStdString();
}

}  // namespace
