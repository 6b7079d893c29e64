#include "cli/IndexConsoleView.h"

#include <unistd.h>

namespace siderama {

namespace {

constexpr int barWidth = 20;

const char* mark(CheckState state) {
    switch (state) {
    case CheckState::on: return "[x]";
    case CheckState::mixed: return "[-]";
    case CheckState::off: break;
    }
    return "[ ]";
}

}  // namespace

IndexConsoleView::IndexConsoleView(std::FILE* output, std::FILE* progress)
    : output_(output), progress_(progress), terminal_(isatty(fileno(progress)) == 1) {}

void IndexConsoleView::choose(const QString& key, CheckState state) { chosen_[key] = state; }

void IndexConsoleView::setKeyStatus(const QString& key, const KeyStatus& status) {
    if (!statuses_.contains(key)) keys_ << key;
    statuses_[key] = status;
    chosen_[key] = status.state;
}

CheckState IndexConsoleView::keyState(const QString& key) const { return chosen_.value(key, CheckState::off); }

void IndexConsoleView::setStatusText(const QString& text) {
    endBar();
    std::fprintf(progress_, "%s%s\n", qPrintable(queueText_), qPrintable(text));
    std::fflush(progress_);
}

void IndexConsoleView::setQueueProgress(qint64 value, qint64 maximum) {
    queueText_ = value > 0 ? QString("[%1/%2] ").arg(value).arg(maximum) : QString();
}

void IndexConsoleView::setFileProgress(qint64 value, qint64 maximum) { (void)value, (void)maximum; }

void IndexConsoleView::setTransferring(bool transferring) {
    transferring_ = transferring;
    if (!transferring) endBar();
}

void IndexConsoleView::setTransferProgress(const TransferProgress& progress) {
    if (terminal_ && transferring_) drawBar(progress);
}

void IndexConsoleView::present() {
    for (const QString& key : keys_) std::fprintf(output_, "%s\n", qPrintable(describe(key, statuses_[key])));
    std::fflush(output_);
}

void IndexConsoleView::openLocation(const QUrl& location) {
    std::fprintf(output_, "%s\n", qPrintable(location.toString()));
    std::fflush(output_);
}

QString IndexConsoleView::describe(const QString& key, const KeyStatus& status) {
    QString line = QString("%1 %2 %3/%4 files")
                       .arg(mark(status.state), key.leftJustified(20))
                       .arg(status.present, 2)
                       .arg(status.total);
    if (status.linkable > 0) line += QString(", %1 installed by the distribution").arg(status.linkable);
    return line;
}

// "\r  [#########.....................]  30%  12 MB of 40 MB, 4.1 MB/s, 7 s left; queue ..."
void IndexConsoleView::drawBar(const TransferProgress& progress) {
    QString line = "  ";
    if (progress.fileTotal > 0) {
        const int filled = int(qMin<qint64>(barWidth, progress.fileDone * barWidth / progress.fileTotal));
        line += QString("[%1%2] %3%  ")
                    .arg(QString(filled, '#'), QString(barWidth - filled, '.'))
                    .arg(int(progress.fileDone * 100 / progress.fileTotal), 3);
    }
    std::fprintf(progress_, "\r%s\033[K", qPrintable(line + progress.describe()));
    std::fflush(progress_);
    barShown_ = true;
}

void IndexConsoleView::endBar() {
    if (!barShown_) return;
    std::fprintf(progress_, "\n");
    barShown_ = false;
}

}  // namespace siderama
