#include "app/IndexManagerWindow.h"

#include "core/Defaults.h"
#include "indexes/FieldPlanner.h"
#include "indexes/IndexManagerDelegate.h"
#include "ui_IndexManagerWindow.h"

#include <QCheckBox>
#include <QDesktopServices>

#include <limits>

namespace siderama {

namespace {

constexpr int columns = 4;
// The user default holding the field width last typed.
constexpr const char* typedWidthKey = "indexFieldWidth";

Qt::CheckState toQt(CheckState state) {
    switch (state) {
    case CheckState::on: return Qt::Checked;
    case CheckState::mixed: return Qt::PartiallyChecked;
    case CheckState::off: break;
    }
    return Qt::Unchecked;
}

CheckState fromQt(Qt::CheckState state) {
    switch (state) {
    case Qt::Checked: return CheckState::on;
    case Qt::PartiallyChecked: return CheckState::mixed;
    case Qt::Unchecked: break;
    }
    return CheckState::off;
}

QString keyToolTip(const KeyStatus& status) {
    QString text = QString("%1 of %2 files installed").arg(status.present).arg(status.total);
    if (status.linkable > 0)
        text += QString("; %1 more installed by the distribution, linked on apply").arg(status.linkable);
    return text;
}

// "22–30′"
QString skymarkText(const QString& key) {
    const SkymarkRange range = FILES().entry(key)->skymarks;
    return QString("%1–%2′").arg(range.smallest).arg(range.largest);
}

}  // namespace

IndexManagerWindow::IndexManagerWindow(QWidget* parent)
    : QWidget(parent), ui_(std::make_unique<Ui::IndexManagerWindow>()) {
    ui_->setupUi(this);
    addBoxes(ui_->series4100Layout, IndexSeries::s4100);
    addBoxes(ui_->series4200Layout, IndexSeries::s4200);
    connectButtons();
}

IndexManagerWindow::~IndexManagerWindow() = default;

// A click cycles off, mixed, on; mixed is skipped so the user picks on or off.
void IndexManagerWindow::addBoxes(QGridLayout* layout, IndexSeries series) {
    const QStringList keys = FILES().keys(series);
    for (int i = 0; i < keys.size(); ++i) {
        auto* box = new QCheckBox(keys[i], layout->parentWidget());
        box->setTristate(true);
        connect(box, &QCheckBox::clicked, this, [this, box] {
            box->setCheckState(toQt(IndexManagerDelegate::afterClick(fromQt(box->checkState()))));
            if (delegate_) delegate_->ticksChanged();
        });
        auto* size = new QLabel(skymarkText(keys[i]), layout->parentWidget());
        size->setEnabled(false);  // the secondary text colour
        layout->addWidget(box, i / columns, 2 * (i % columns));
        layout->addWidget(size, i / columns, 2 * (i % columns) + 1);
        boxes_.insert(keys[i], box);
        sizeLabels_.insert(keys[i], size);
    }
}

void IndexManagerWindow::connectButtons() {
    connect(ui_->goButton, &QPushButton::clicked, this, [this] { if (delegate_) delegate_->go(); });
    connect(ui_->abortButton, &QPushButton::clicked, this, [this] { if (delegate_) delegate_->abort(); });
    connect(ui_->readmeButton, &QPushButton::clicked, this, [this] { if (delegate_) delegate_->readme(); });
    connect(ui_->planButton, &QPushButton::clicked, this, &IndexManagerWindow::planForTypedWidth);
    connect(ui_->fieldWidth, &QLineEdit::returnPressed, this, &IndexManagerWindow::planForTypedWidth);
    connect(ui_->lastSolveButton, &QPushButton::clicked, this, [this] { if (delegate_) delegate_->planForLastSolve(); });
    ui_->fieldWidth->setText(Defaults::stringValue(typedWidthKey).value_or(QString()));
}

void IndexManagerWindow::planForTypedWidth() {
    const auto degrees = FieldPlanner::parseWidth(ui_->fieldWidth->text());
    if (!degrees) {
        setStatusText("Type the field width in degrees (2.5) or arcminutes (40')");
        return;
    }
    Defaults::setString(typedWidthKey, ui_->fieldWidth->text().trimmed());
    if (delegate_) delegate_->planForField(*degrees);
}

void IndexManagerWindow::setKeyStatus(const QString& key, const KeyStatus& status) {
    QCheckBox* box = boxes_.value(key);
    if (!box) return;
    box->setCheckState(toQt(status.state));
    box->setToolTip(keyToolTip(status));
}

CheckState IndexManagerWindow::keyState(const QString& key) const {
    const QCheckBox* box = boxes_.value(key);
    return box ? fromQt(box->checkState()) : CheckState::off;
}

void IndexManagerWindow::setStatusText(const QString& text) { ui_->statusText->setText(text); }

void IndexManagerWindow::setQueueProgress(qint64 value, qint64 maximum) {
    showProgress(ui_->queueIndicator, value, maximum);
}

void IndexManagerWindow::setFileProgress(qint64 value, qint64 maximum) {
    showProgress(ui_->fileIndicator, value, maximum);
}

// QProgressBar counts in int: large files are shown in KiB. An unknown
// maximum shows the bar as busy.
void IndexManagerWindow::showProgress(QProgressBar* bar, qint64 value, qint64 maximum) {
    if (maximum < 0) {
        bar->setRange(0, 0);
        return;
    }
    const int shift = maximum > std::numeric_limits<int>::max() ? 10 : 0;
    bar->setRange(0, int(qMax<qint64>(maximum >> shift, 1)));
    bar->setValue(int(qMin(value, maximum) >> shift));
}

void IndexManagerWindow::setTransferring(bool transferring) {
    ui_->goButton->setEnabled(!transferring);
    ui_->abortButton->setEnabled(transferring);
}

void IndexManagerWindow::present() {
    if (delegate_) delegate_->askAllSizes();
    show();
    raise();
    activateWindow();
}

void IndexManagerWindow::openLocation(const QUrl& location) { QDesktopServices::openUrl(location); }

void IndexManagerWindow::setKeySize(const QString& key, qint64 bytes) {
    QLabel* label = sizeLabels_.value(key);
    if (!label) return;
    label->setText(skymarkText(key) + (bytes >= 0 ? " · " + TransferProgress::bytes(bytes) : QString()));
}

void IndexManagerWindow::setDownloadCost(const DownloadCost& cost) {
    ui_->costText->setText(cost.files.isEmpty() ? QString() : "To download: " + cost.describe());
    ui_->costText->setStyleSheet(cost.fits() ? QString() : "color: red");
}

void IndexManagerWindow::setTransferProgress(const TransferProgress& progress) {
    ui_->progressText->setText(progress.describe());
}

}  // namespace siderama
