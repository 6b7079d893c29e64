#pragma once

#include "imaging/ImagePreview.h"

#include <QFutureWatcher>
#include <QImage>
#include <QWidget>
#include <array>
#include <memory>

class QAction;

namespace siderama {

struct SolveResult;

// The solved image scaled to fit, with zoom (wheel), pan (drag) and a reset
// (double click), under layers that can be switched on and off. The image is
// decoded and reduced on a worker thread; the layers show at once.
class ResultView : public QWidget {
    Q_OBJECT
public:
    enum class Layer { detectedStars, matchedStars, grid, constellations, namedStars, deepSky };
    static constexpr int layerCount = 6;

    explicit ResultView(QWidget* parent = nullptr);
    ~ResultView() override;

    void showResult(std::shared_ptr<const SolveResult> result);
    const SolveResult* result() const { return shown.get(); }

    // Checkable actions for the layers (for menus); their state persists.
    QAction* layerAction(Layer layer) const { return actions[size_t(layer)]; }
    bool isLayerVisible(Layer layer) const;
    // The image currently drawn (reduced); null while loading or when it
    // cannot be decoded.
    const QImage& image() const { return picture; }
    // From image pixels to widget coordinates, with the current zoom and pan.
    QTransform imageToWidget() const;

signals:
    void imageLoaded();

protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void createActions();
    void loaded();
    QSizeF imageSize() const;
    void paintLayers(QPainter& painter) const;
    void paintGrid(QPainter& painter) const;
    void paintConstellations(QPainter& painter) const;
    void paintStars(QPainter& painter) const;
    void paintObjects(QPainter& painter) const;
    void paintLabel(QPainter& painter, QPointF imagePoint, const QString& text, const QColor& color) const;

    std::shared_ptr<const SolveResult> shown;
    QImage picture;
    QSize fullSize;
    QString loadError;
    QFutureWatcher<ImagePreview> loader;
    std::array<QAction*, layerCount> actions{};
    double zoom = 1;
    QPointF pan;
    QPointF dragStart;
};

}  // namespace siderama
