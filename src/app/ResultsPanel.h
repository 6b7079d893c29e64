#pragma once

#include <QScrollArea>
#include <memory>
#include <vector>

class QGridLayout;
class QLabel;
class QListWidget;

namespace siderama {

struct SolveResult;

// The numbers of a solve: centre in degrees and sexagesimal, field size,
// pixel scale, orientation, parity, the quality figures, where the field
// lies on the whole sky and the named objects. Every value has a
// copy button; "Copy all" copies a plain-text summary. Scrolls when the
// window is small.
class ResultsPanel : public QScrollArea {
    Q_OBJECT
public:
    explicit ResultsPanel(QWidget* parent = nullptr);

    void showResult(const std::shared_ptr<const SolveResult>& result);
    // The summary that "Copy all" puts on the clipboard.
    QString plainText() const;

private:
    struct Row {
        QString title;
        QLabel* value;
    };
    void addRow(QGridLayout* grid, const QString& title);
    void setValues(const QStringList& values);

    std::vector<Row> rows;
    QListWidget* objectList;
    QLabel* locator;  // the all-sky map with the field
};

}  // namespace siderama
