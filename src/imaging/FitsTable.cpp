#include "imaging/FitsTable.h"

#include <fitsio.h>

#include <QFile>
#include <memory>

namespace siderama {

namespace {

struct FileCloser {
    void operator()(fitsfile* file) const {
        int status = 0;
        fits_close_file(file, &status);
    }
};
using FitsHandle = std::unique_ptr<fitsfile, FileCloser>;

QString fitsMessage(int status) {
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    return QString::fromLatin1(text);
}

}  // namespace

std::optional<std::vector<std::vector<double>>> readFitsColumns(const QString& path, const QStringList& columns,
                                                                QString* error) {
    int status = 0;
    fitsfile* raw = nullptr;
    // The name is taken literally: CFITSIO's file-name syntax is not applied.
    fits_open_diskfile(&raw, QFile::encodeName(path).constData(), READONLY, &status);
    FitsHandle file(raw);
    int type = 0;
    long rows = 0;
    fits_movabs_hdu(raw, 2, &type, &status);
    fits_get_num_rows(raw, &rows, &status);
    std::vector<std::vector<double>> values;
    for (const QString& column : columns) {
        if (status) break;
        int number = 0;
        QByteArray label = column.toLatin1();
        fits_get_colnum(raw, CASEINSEN, label.data(), &number, &status);
        std::vector<double>& data = values.emplace_back(size_t(rows));
        if (!status && rows > 0)
            fits_read_col(raw, TDOUBLE, number, 1, 1, rows, nullptr, data.data(), nullptr, &status);
        if (status && error) *error = path + ": column " + column + ": " + fitsMessage(status);
        if (status) return std::nullopt;
    }
    if (status) {
        if (error) *error = path + ": " + fitsMessage(status);
        return std::nullopt;
    }
    return values;
}

}  // namespace siderama
