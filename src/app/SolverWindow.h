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

class SolverDelegate;

// The solver window: the coloured log, the solve and abort controls, the two
// check boxes and a status line. Log lines are collected and inserted once
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

    // Solves the one local file that was dropped; false for other drops.
    bool solveDropped(const QMimeData& data);

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
    void saveCheckBoxes();
    void insertPendingLines();

    std::unique_ptr<Ui::SolverWindow> form;
    SolverDelegate& solver;
    std::vector<std::pair<QString, LogColor>> pendingLines;
};

}  // namespace siderama
