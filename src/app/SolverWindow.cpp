#include "app/SolverWindow.h"

#include "app/SolveOptionsPanel.h"
#include "app/QueueTable.h"
#include "app/ResultView.h"
#include "app/ResultsPanel.h"
#include "solver/SolveQueue.h"
#include "solver/SolverDelegate.h"
#include "solver/WatchedFolders.h"
#include "ui_SolverWindow.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QSettings>
#include <QTextCursor>

namespace siderama {

namespace {

constexpr int maxLogLines = 200000;
const char* const geometryKey = "solverWindow/geometry";
const char* const imageFilter =
    "Images (*.fit *.fits *.fts *.FIT *.FITS *.jpeg *.jpg *.png *.tiff *.tif *.raw);;All files (*)";

// The status line: the state word and message, and the calibration once
// an image is solved.
QString statusText(const SolverState& state) {
    if (state.status == SolverStatus::done && state.raCenter && state.decCenter) {
        QString text = QString("Solved: RA %1°  Dec %2°").arg(*state.raCenter, 0, 'f', 4).arg(*state.decCenter, 0, 'f', 4);
        if (state.orientation) text += QString("  orientation %1°").arg(*state.orientation, 0, 'f', 2);
        if (state.pixelScale) text += QString("  scale %1″/px").arg(*state.pixelScale, 0, 'f', 3);
        return text + "  —  " + state.message;
    }
    const QString word = statusWord(state.status);
    return state.message.isEmpty() ? word : word + ": " + state.message;
}

QStringList localFiles(const QMimeData* data) {
    QStringList files;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) files << url.toLocalFile();
    return files;
}

}  // namespace

SolverWindow::SolverWindow(SolverDelegate& solver, QWidget* parent)
    : QMainWindow(parent), form(std::make_unique<Ui::SolverWindow>()), solver(solver),
      solveQueue(new SolveQueue(solver, this)), watched(new WatchedFolders(solver, *solveQueue, this)) {
    form->setupUi(this);
    form->queueTable->setQueue(*solveQueue);
    // The picture takes most of the room; the panel and the log what is left.
    form->viewSplitter->setSizes({3000, 1000});
    form->resultSplitter->setSizes({2500, 1000});
    connect(form->queueTable, &QueueTable::resultSelected, this, &SolverWindow::showResult);
    // The table comes forward once there is more than one file to follow.
    connect(solveQueue, &SolveQueue::entriesAdded, this, [this] {
        if (solveQueue->entries().size() > 1) form->lowerTabs->setCurrentWidget(form->queueTable);
    });
    addViewMenu();
    form->logText->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    form->logText->setMaximumBlockCount(maxLogLines);  // a bounded tail of the log stays in memory
    form->lowerTabs->addTab(new SolveOptionsPanel, "Solve options");
    connect(form->solveButton, &QPushButton::clicked, this, &SolverWindow::chooseImage);
    connect(form->solveMenu, &QAction::triggered, this, &SolverWindow::chooseImage);
    connect(form->watchFolderMenu, &QAction::triggered, this, &SolverWindow::chooseWatchFolder);
    connect(form->abortButton, &QPushButton::clicked, &solver, [&solver] { solver.abort(); });
    connect(form->abortMenu, &QAction::triggered, &solver, [&solver] { solver.abort(); });
    connect(form->removeFilesButton, &QCheckBox::toggled, this, &SolverWindow::saveCheckBoxes);
    connect(form->writeWCSHeadersButton, &QCheckBox::toggled, this, &SolverWindow::saveCheckBoxes);
    connect(form->indexManagerMenu, &QAction::triggered, this, &SolverWindow::indexManagerRequested);
    connect(form->productPageMenu, &QAction::triggered, this, &SolverWindow::productPageRequested);
    connect(form->sideramaNetMenu, &QAction::triggered, this, &SolverWindow::sideramaNetRequested);
    connect(form->quitMenu, &QAction::triggered, this, &QWidget::close);
    restoreGeometry(QSettings("Siderama", "Siderama").value(geometryKey).toByteArray());
    statusBar()->showMessage(statusWord(SolverStatus::ready));
}

SolverWindow::~SolverWindow() = default;

QColor SolverWindow::color(LogColor color) {
    switch (color) {
    case LogColor::green: return QColor::fromRgbF(0.0f, 0.6f, 0.0f, 1.0f);
    case LogColor::yellow: return QColor::fromRgbF(1.0f, 0.5f, 0.0f, 1.0f);
    case LogColor::red: return QColor::fromRgbF(0.5f, 0.0f, 0.0f, 1.0f);
    case LogColor::plain: break;
    }
    return {};
}

void SolverWindow::appendLog(const QString& line, LogColor color) {
    pendingLines.emplace_back(line, color);
}

void SolverWindow::logUpdated() {
    insertPendingLines();
    showStatus();
}

void SolverWindow::setQueueLength(int length) { apiQueueLength = length; }

// The solver's status, then the API queue while it holds jobs.
void SolverWindow::showStatus() {
    const QString queue = apiQueueLength > 0 ? QString("  ·  API queue: %1").arg(apiQueueLength) : QString();
    statusBar()->showMessage(statusText(solver.state()) + queue);
}

// Inserts the collected lines with one insertion per run of one colour.
void SolverWindow::insertPendingLines() {
    if (pendingLines.empty()) return;
    QTextCursor cursor(form->logText->document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    for (size_t i = 0; i < pendingLines.size();) {
        const LogColor color = pendingLines[i].second;
        QString run;
        for (; i < pendingLines.size() && pendingLines[i].second == color; ++i)
            run += pendingLines[i].first + '\n';
        QTextCharFormat format;
        if (color != LogColor::plain) format.setForeground(SolverWindow::color(color));
        cursor.insertText(run, format);
    }
    cursor.endEditBlock();
    pendingLines.clear();
    QScrollBar* scroll = form->logText->verticalScrollBar();
    scroll->setValue(scroll->maximum());
}

QString SolverWindow::logText() const { return form->logText->toPlainText(); }

void SolverWindow::setControls(bool solveEnabled, bool abortEnabled) {
    form->solveMenu->setEnabled(solveEnabled);
    form->solveButton->setEnabled(solveEnabled);
    form->abortMenu->setEnabled(abortEnabled);
    form->abortButton->setEnabled(abortEnabled);
}

void SolverWindow::setCheckBoxes(bool removeFiles, bool writeWCSHeaders) {
    const QSignalBlocker blockRemove(form->removeFilesButton);
    const QSignalBlocker blockWrite(form->writeWCSHeadersButton);
    form->removeFilesButton->setChecked(removeFiles);
    form->writeWCSHeadersButton->setChecked(writeWCSHeaders);
    solver.setWriteHeaders(writeWCSHeaders);
}

void SolverWindow::present() {
    show();
    raise();
    activateWindow();
}

void SolverWindow::addViewMenu() {
    QMenu* menu = new QMenu("&View", this);
    for (int i = 0; i < ResultView::layerCount; ++i)
        menu->addAction(form->resultView->layerAction(ResultView::Layer(i)));
    form->menuBar->insertMenu(form->helpMenu->menuAction(), menu);
}

void SolverWindow::showResult(const std::shared_ptr<const SolveResult>& result) {
    form->resultView->showResult(result);
    form->resultsPanel->showResult(result);
}

void SolverWindow::saveCheckBoxes() {
    solver.saveState(form->removeFilesButton->checkState() == Qt::Checked,
                     form->writeWCSHeadersButton->checkState() == Qt::Checked);
}

void SolverWindow::chooseImage() {
    auto* dialog = new QFileDialog(this, "Select image files", QString(), imageFilter);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::filesSelected, solveQueue, &SolveQueue::add);
    dialog->open();
}

void SolverWindow::chooseWatchFolder() {
    auto* dialog = new QFileDialog(this, "Watch a folder for new frames");
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this, &SolverWindow::watchFolder);
    dialog->open();
}

bool SolverWindow::watchFolder(const QString& folder) {
    const QString problem = watched->add(folder, false);
    if (!problem.isEmpty()) {
        solver.append(problem, RED);
        return false;
    }
    form->lowerTabs->setCurrentWidget(form->queueTable);
    return true;
}

void SolverWindow::dragEnterEvent(QDragEnterEvent* event) {
    if (!localFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void SolverWindow::dropEvent(QDropEvent* event) {
    if (solveDropped(*event->mimeData())) event->acceptProposedAction();
}

bool SolverWindow::solveDropped(const QMimeData& data) {
    const QStringList files = localFiles(&data);
    if (files.isEmpty()) return false;
    solveQueue->add(files);
    return true;
}

void SolverWindow::closeEvent(QCloseEvent* event) {
    QSettings("Siderama", "Siderama").setValue(geometryKey, saveGeometry());
    QMainWindow::closeEvent(event);
}

}  // namespace siderama
