#include "app/ResultsPanel.h"

#include "remote/web/SkyMap.h"
#include "solver/SolveResult.h"
#include "solver/SolveSummary.h"

#include <QApplication>
#include <QClipboard>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace siderama {

namespace {

const QStringList titles{"File", "Centre", "RA, Dec", "Field", "Pixel scale", "Orientation", "Parity", "Quality"};
const QSize locatorSize(240, 120);

// An angle in degrees, or arcminutes below two degrees.
QString angle(double arcseconds) {
    if (arcseconds >= 7200) return QString("%1°").arg(arcseconds / 3600, 0, 'f', 2);
    return QString("%1′").arg(arcseconds / 60, 0, 'f', 1);
}

QStringList values(const SolveResult& result) {
    const QString file = QFileInfo(result.input).fileName();
    if (!result.wcs) return {file, result.solved ? "no solution file" : "not solved: " + result.message};
    const Calibration c = Calibration::of(*result.wcs);
    return {file,
            QString("%1°, %2°").arg(c.ra, 0, 'f', 5).arg(c.dec, 0, 'f', 5),
            hoursMinutesSeconds(c.ra) + ", " + degreesMinutesSeconds(c.dec),
            angle(c.width_arcsec) + " × " + angle(c.height_arcsec),
            QString("%1″/px").arg(c.pixscale, 0, 'f', 3),
            QString("up is %1° E of N").arg(result.wcs->upPositionAngle(), 0, 'f', 2),
            c.parity > 0 ? "normal" : "mirrored",
            result.quality ? result.quality->describe() : "–"};
}

QString objectText(const SkyObject& object) { return object.names.join(" / "); }

}  // namespace

ResultsPanel::ResultsPanel(QWidget* parent) : QScrollArea(parent) {
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setMaximumWidth(460);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    auto* grid = new QGridLayout;
    layout->addLayout(grid);
    for (const QString& title : titles) addRow(grid, title);
    locator = new QLabel;
    locator->setAlignment(Qt::AlignCenter);
    locator->setToolTip("Where the field lies on the sky (red)");
    layout->addWidget(locator);
    layout->addWidget(new QLabel("Objects in the field:"));
    objectList = new QListWidget;
    objectList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    objectList->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* copyObjects = new QAction("Copy", objectList);
    copyObjects->setShortcut(QKeySequence::Copy);
    connect(copyObjects, &QAction::triggered, this, [this] {
        QStringList names;
        for (const QListWidgetItem* item : objectList->selectedItems()) names << item->text();
        QApplication::clipboard()->setText(names.join('\n'));
    });
    objectList->addAction(copyObjects);
    layout->addWidget(objectList, 1);
    auto* copyAll = new QPushButton("Copy all");
    connect(copyAll, &QPushButton::clicked, this, [this] { QApplication::clipboard()->setText(plainText()); });
    layout->addWidget(copyAll);
    setWidget(content);
    setValues({});
}

void ResultsPanel::addRow(QGridLayout* grid, const QString& title) {
    const int row = grid->rowCount();
    auto* value = new QLabel;
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    value->setWordWrap(true);
    auto* copy = new QToolButton;
    copy->setText("Copy");
    copy->setToolTip("Copy " + title.toLower());
    connect(copy, &QToolButton::clicked, value, [value] { QApplication::clipboard()->setText(value->text()); });
    grid->addWidget(new QLabel(title + ":"), row, 0);
    grid->addWidget(value, row, 1);
    grid->addWidget(copy, row, 2);
    grid->setColumnStretch(1, 1);
    rows.push_back({title, value});
}

void ResultsPanel::setValues(const QStringList& texts) {
    for (size_t i = 0; i < rows.size(); ++i) rows[i].value->setText(qsizetype(i) < texts.size() ? texts[qsizetype(i)] : "–");
}

void ResultsPanel::showResult(const std::shared_ptr<const SolveResult>& result) {
    objectList->clear();
    locator->clear();
    if (!result) return setValues({});
    setValues(values(*result));
    if (result->wcs) locator->setPixmap(QPixmap::fromImage(SkyMap::draw(*result->wcs, 0, locatorSize)));
    for (const SkyObject& object : result->objects.objects) objectList->addItem(objectText(object));
    for (const QString& constellation : result->objects.constellations)
        objectList->addItem("Constellation " + constellation);
}

QString ResultsPanel::plainText() const {
    QString text;
    for (const Row& row : rows) text += row.title + ": " + row.value->text() + '\n';
    if (objectList->count() > 0) text += "Objects:\n";
    for (int i = 0; i < objectList->count(); ++i) text += "  " + objectList->item(i)->text() + '\n';
    return text;
}

}  // namespace siderama
