#pragma once

#include "solver/SolverView.h"

#include <QMainWindow>
#include <memory>
#include <utility>
#include <vector>

class QMimeData;

namespace Ui {
class SolverWindow;
}

namespace siderama {

class SolveQueue;
class SolverDelegate;
class WatchedFolders;

// The solver window: the result view and its numbers, the coloured log and
// the queue of files, the solve and abort controls, the two check boxes and
// a status line. Log lines are collected and inserted once
// per batch, so verbose tools never re-lay out the log line by line.
class SolverWindow : public QMainWindow, public SolverView {
    Q_OBJECT
public:
    explicit SolverWindow(SolverDelegate& solver, QWidget* parent = nullptr);
    ~SolverWindow() override;

    void appendLog(const QString& line, LogColor color) override;
    void logUpdated() override;
    void setControls(bool solveEnabled, bool abortEnabled) override;
    void setCheckBoxes(bool removeFiles, bool writeWCSHeaders) override;
    void present() override;
    void setQueueLength(int length) override;
    void showResult(const std::shared_ptr<const SolveResult>& result) override;

    // Queues the dropped local files and folders; false when there are none.
    bool solveDropped(const QMimeData& data);
    // Solves the frames that land in `folder` from now on; false (and the
    // reason in the log) when it cannot be watched.
    bool watchFolder(const QString& folder);
    SolveQueue& queue() { return *solveQueue; }

    // The text colour of a log colour (invalid for plain).
    static QColor color(LogColor color);

    // The whole log text, for tests and the screenshot script.
    QString logText() const;
    Ui::SolverWindow& ui() { return *form; }

signals:
    void indexManagerRequested();
    void productPageRequested();
    void sideramaNetRequested();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void chooseImage();
    void chooseWatchFolder();
    void saveCheckBoxes();
    void insertPendingLines();
    void showStatus();
    void addViewMenu();

    std::unique_ptr<Ui::SolverWindow> form;
    SolverDelegate& solver;
    SolveQueue* solveQueue;
    WatchedFolders* watched;
    std::vector<std::pair<QString, LogColor>> pendingLines;
    int apiQueueLength = 0;
};

}  // namespace siderama
