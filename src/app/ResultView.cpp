#include "app/ResultView.h"

#include "solver/SolveResult.h"

#include <QAction>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSettings>
#include <QWheelEvent>
#include <QtConcurrent/QtConcurrentRun>
#include <cmath>

namespace siderama {

namespace {

// The longest side of the decoded picture: enough for a large screen at 2×.
constexpr int previewSide = 4096;

struct LayerInfo {
    const char* title;
    const char* key;
};
constexpr LayerInfo layerInfo[ResultView::layerCount] = {
    {"Stars &Found in the Image", "detectedStars"}, {"&Matched Catalogue Stars", "matchedStars"},
    {"RA/Dec &Grid", "grid"},                         {"&Constellations", "constellations"},
    {"Named &Stars", "namedStars"},                   {"&NGC/IC Objects", "deepSky"},
};

const QColor detectedColour(255, 210, 60, 150);
const QColor matchedColour(80, 230, 110);
const QColor gridColour(120, 170, 255, 170);
const QColor constellationColour(150, 230, 230, 190);
const QColor starColour(255, 255, 255);
const QColor deepSkyColour(255, 120, 220);

QPen cosmeticPen(const QColor& colour, double width = 1.2) {
    QPen pen(colour, width);
    pen.setCosmetic(true);
    return pen;
}

QString settingsKey(const char* key) { return QString("resultView/") + key; }

}  // namespace

ResultView::ResultView(QWidget* parent) : QWidget(parent) {
    setMinimumSize(200, 150);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    createActions();
    connect(&loader, &QFutureWatcher<ImagePreview>::finished, this, &ResultView::loaded);
}

ResultView::~ResultView() { loader.waitForFinished(); }

void ResultView::createActions() {
    QSettings settings("Siderama", "Siderama");
    for (int i = 0; i < layerCount; ++i) {
        auto* action = new QAction(layerInfo[i].title, this);
        action->setCheckable(true);
        action->setChecked(settings.value(settingsKey(layerInfo[i].key), true).toBool());
        connect(action, &QAction::toggled, this, [this, i](bool on) {
            QSettings("Siderama", "Siderama").setValue(settingsKey(layerInfo[i].key), on);
            update();
        });
        actions[size_t(i)] = action;
        addAction(action);
    }
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

bool ResultView::isLayerVisible(Layer layer) const { return layerAction(layer)->isChecked(); }

void ResultView::showResult(std::shared_ptr<const SolveResult> result) {
    const bool sameImage = shown && result && shown->input == result->input && !picture.isNull();
    shown = std::move(result);
    if (!sameImage) {
        picture = QImage();
        fullSize = QSize();
        loadError.clear();
        zoom = 1;
        pan = QPointF();
        if (shown) {
            const QString path = shown->input;
            loader.setFuture(QtConcurrent::run([path] { return ImagePreview::load(path, previewSide); }));
        }
    }
    update();
}

void ResultView::loaded() {
    // The watcher reports only its latest image; none is wanted once the
    // view was cleared.
    if (!shown) return;
    const ImagePreview preview = loader.result();
    picture = preview.image;
    fullSize = preview.fullSize;
    loadError = preview.error;
    update();
    emit imageLoaded();
}

QSizeF ResultView::imageSize() const {
    if (shown && shown->wcs) return shown->wcs->imageSize();
    return fullSize;
}

QTransform ResultView::imageToWidget() const {
    const QSizeF size = imageSize();
    if (size.isEmpty()) return {};
    const double fit = std::min(width() / size.width(), height() / size.height()) * zoom;
    QTransform transform;
    transform.translate(width() / 2.0 + pan.x(), height() / 2.0 + pan.y());
    transform.scale(fit, fit);
    transform.translate(-size.width() / 2, -size.height() / 2);
    return transform;
}

void ResultView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(16, 18, 24));
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!shown) {
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(rect(), Qt::AlignCenter, "Drop images or a folder here, or choose Solve…");
        return;
    }
    painter.setTransform(imageToWidget());
    if (!picture.isNull()) painter.drawImage(QRectF(QPointF(0, 0), imageSize()), picture);
    paintLayers(painter);
    painter.resetTransform();
    if (picture.isNull()) {
        painter.setPen(Qt::lightGray);
        painter.drawText(rect(), Qt::AlignCenter, loadError.isEmpty() ? "Loading " + shown->input + "…" : loadError);
    }
}

void ResultView::paintLayers(QPainter& painter) const {
    if (isLayerVisible(Layer::grid)) paintGrid(painter);
    if (isLayerVisible(Layer::constellations)) paintConstellations(painter);
    paintStars(painter);
    paintObjects(painter);
}

// Text is drawn upright and at screen size wherever the image point lands.
void ResultView::paintLabel(QPainter& painter, QPointF imagePoint, const QString& text, const QColor& colour) const {
    const QTransform transform = painter.transform();
    const QPointF at = transform.map(imagePoint);
    painter.resetTransform();
    QPainterPath path;
    path.addText(at + QPointF(6, -4), font(), text);
    painter.strokePath(path, QPen(QColor(0, 0, 0, 160), 3));
    painter.fillPath(path, colour);
    painter.setTransform(transform);
}

void ResultView::paintGrid(QPainter& painter) const {
    painter.setPen(cosmeticPen(gridColour, 1));
    for (const GridLine& line : shown->grid) {
        painter.drawPolyline(line.points);
        paintLabel(painter, line.points.first(), line.label, gridColour.lighter(130));
    }
}

void ResultView::paintConstellations(QPainter& painter) const {
    const QRectF inside = QRectF(QPointF(0, 0), imageSize()).adjusted(20, 20, -120, -20);
    for (const ConstellationFigure& figure : shown->constellations) {
        painter.setPen(cosmeticPen(constellationColour, 1.5));
        for (const QLineF& line : figure.lines) painter.drawLine(line);
        const QPointF at(std::clamp(figure.labelPosition.x(), inside.left(), std::max(inside.left(), inside.right())),
                         std::clamp(figure.labelPosition.y(), inside.top(), std::max(inside.top(), inside.bottom())));
        paintLabel(painter, at, figure.name.toUpper(), constellationColour);
    }
}

void ResultView::paintStars(QPainter& painter) const {
    const double perPixel = 1 / std::max(1e-9, painter.transform().m11());
    if (isLayerVisible(Layer::detectedStars)) {
        painter.setPen(cosmeticPen(detectedColour, 1));
        for (const QPointF& star : shown->detectedStars) painter.drawEllipse(star, 4 * perPixel, 4 * perPixel);
    }
    if (isLayerVisible(Layer::matchedStars)) {
        painter.setPen(cosmeticPen(matchedColour, 1.5));
        for (const MatchedStar& star : shown->matchedStars)
            painter.drawEllipse(star.catalogue, 7 * perPixel, 7 * perPixel);
    }
}

void ResultView::paintObjects(QPainter& painter) const {
    const double perPixel = 1 / std::max(1e-9, painter.transform().m11());
    for (const SkyObject& object : shown->objects.objects) {
        const bool star = object.kind == SkyObject::Kind::star;
        if (!isLayerVisible(star ? Layer::namedStars : Layer::deepSky)) continue;
        const QColor colour = star ? starColour : deepSkyColour;
        painter.setPen(cosmeticPen(colour, 1.5));
        const double radius = star ? 4 * perPixel : std::max(object.radius, 4 * perPixel);
        painter.drawEllipse(object.position, radius, radius);
        const QString label = star ? object.names.first() : object.names.mid(0, 2).join(" / ");
        paintLabel(painter, object.position + QPointF(radius * 0.7, -radius * 0.7), label, colour);
    }
}

void ResultView::wheelEvent(QWheelEvent* event) {
    const double factor = std::pow(1.25, event->angleDelta().y() / 120.0);
    const double next = std::clamp(zoom * factor, 1.0, 64.0);
    // The point under the cursor stays where it is.
    const QPointF centre(width() / 2.0, height() / 2.0);
    const QPointF cursor = event->position();
    pan = cursor - centre - (cursor - centre - pan) * (next / zoom);
    zoom = next;
    update();
}

void ResultView::mousePressEvent(QMouseEvent* event) { dragStart = event->position() - pan; }

void ResultView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) return;
    pan = event->position() - dragStart;
    update();
}

void ResultView::mouseDoubleClickEvent(QMouseEvent*) {
    zoom = 1;
    pan = QPointF();
    update();
}

}  // namespace siderama
