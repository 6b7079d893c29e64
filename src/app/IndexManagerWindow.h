#pragma once

#include "indexes/IndexCatalogue.h"
#include "indexes/IndexManagerView.h"

#include <QHash>
#include <QWidget>

#include <memory>

class QCheckBox;
class QGridLayout;
class QLabel;
class QProgressBar;

namespace Ui {
class IndexManagerWindow;
}

namespace siderama {

// The index manager window: a field width to tick the keys for, one
// three-state check box per catalogue key in its series group (with its
// skymark sizes and download size beside it), the cost of the ticks, two
// progress bars with bytes, rate and time left, a status line and the apply,
// abort and readme buttons, which call the delegate that attached itself.
class IndexManagerWindow : public QWidget, public IndexManagerView {
    Q_OBJECT
public:
    explicit IndexManagerWindow(QWidget* parent = nullptr);
    ~IndexManagerWindow() override;

    QCheckBox* checkBox(const QString& key) const { return boxes_.value(key); }

    void setDelegate(IndexManagerDelegate* delegate) override { delegate_ = delegate; }
    void setKeyStatus(const QString& key, const KeyStatus& status) override;
    CheckState keyState(const QString& key) const override;
    void setStatusText(const QString& text) override;
    void setQueueProgress(qint64 value, qint64 maximum) override;
    void setFileProgress(qint64 value, qint64 maximum) override;
    void setTransferring(bool transferring) override;
    void present() override;
    void openLocation(const QUrl& location) override;
    void setKeySize(const QString& key, qint64 bytes) override;
    void setDownloadCost(const DownloadCost& cost) override;
    void setTransferProgress(const TransferProgress& progress) override;

private:
    void addBoxes(QGridLayout* layout, IndexSeries series);
    void connectButtons();
    void planForTypedWidth();
    static void showProgress(QProgressBar* bar, qint64 value, qint64 maximum);

    std::unique_ptr<Ui::IndexManagerWindow> ui_;
    QHash<QString, QCheckBox*> boxes_;
    QHash<QString, QLabel*> sizeLabels_;
    IndexManagerDelegate* delegate_ = nullptr;
};

}  // namespace siderama
