// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <filesystem>
#include <optional>
#include <vector>

#include "app/MapRenderer.h"
#include "engine/LocationMap.h"
#include "engine/ProjectPaths.h"
#include "work/LocationStates.h"
#include "engine/SuggestedPicks.h"

class QLabel;
class QPushButton;

namespace zolt {

class MapCanvas;

// The map of one listening location, a window of its own: home in the
// middle with true distances and directions round it (or the whole world
// while home is unknown), a dot per beacon logged there, and the candidates
// of the reception the listener is looking at.
//
// Nothing it does throws: a database or outline problem shows as a message
// line above the figures, and the map opens with what could be read.
class MapWindow : public QWidget {
    Q_OBJECT
  public:
    // Reads the location's scene from the project's database and the world
    // outline from `outlineFile`.
    MapWindow(const ProjectPaths& paths, int location, const std::filesystem::path& outlineFile,
              QWidget* parent = nullptr);
    // As above, with the outline beside the pristine database
    // (defaultOutlineFile()).
    MapWindow(const ProjectPaths& paths, int location, QWidget* parent = nullptr);
    // A scene the caller has read, with the outline from `outlineFile`;
    // reload() reads the project's database again.
    MapWindow(const ProjectPaths& paths, LocationMapScene scene,
              const std::filesystem::path& outlineFile, QWidget* parent = nullptr);
    // A ready scene and outline, no database (tests); reload() keeps it.
    MapWindow(LocationMapScene scene, std::vector<LandRing> land, QWidget* parent = nullptr);
    ~MapWindow() override;

    // applicationDataFolder() of the running program / land-110m.txt.
    static std::filesystem::path defaultOutlineFile();

    // The title line reads "Map of <name>" instead of "Map of location N".
    void setLocationName(const QString& name);

    // Reads the scene again (after receptions were logged); keeps candidates.
    void reload();
    // The same with a scene the caller has read.
    void showScene(LocationMapScene scene);

    // The candidates of the selected reception as hollow rings, the suggested
    // one (ranked.suggested) highlighted; those without a position are left
    // out of the picture and counted in the status line.
    void showCandidates(const RankedCandidates& ranked);
    void clearCandidates();

    // The picture with its title and figures under it; false when the file
    // could not be written.
    bool savePng(const QString& path);
    bool saveSvg(const QString& path);

    // What the window shows, for tests and the screenshot tool.
    MapRenderer& renderer() { return renderer_; }
    QWidget* canvas() const;
    QString titleText() const;
    QString statusText() const;
    QString figuresText() const;
    QString messageText() const;  // empty when all is well
    // The map alone at `size`, as the canvas would draw it.
    QImage renderImage(QSize size);

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    friend class MapCanvas;
    void buildUi();
    void loadOutline(const std::filesystem::path& file);
    void loadScene();
    void applyScene(LocationMapScene scene);
    void updateTexts();
    void hoverChanged(MapRenderer::Hit hit);
    // Hovering at `at` of the canvas: the status line and the tooltip.
    void hoverAt(QPointF at);
    QString exportCaption() const;
    int exportCaptionHeight(int width) const;
    void clicked(MapRenderer::Hit hit);
    void showStatus();
    void updateMessage();
    void chooseAndSave(bool svg);
    void drawExport(QPainter& painter, QSize mapSize);

    std::optional<ProjectPaths> paths_;
    int location_ = 0;
    QString locationName_;
    QString outlineProblem_, sceneProblem_;  // the message line
    MapRenderer renderer_;
    MapRenderer::Hit hovered_, selected_;
    std::optional<QPointF> pointer_;  // over the canvas, where it last moved

    MapCanvas* canvas_ = nullptr;
    QLabel* title_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* message_ = nullptr;
    QLabel* figures_ = nullptr;
};

}  // namespace zolt
