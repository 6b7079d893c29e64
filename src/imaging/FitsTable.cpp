#include "imaging/FitsTable.h"

#include "imaging/FitsHandle.h"

#include <fitsio.h>

#include <QFile>
#include <memory>

namespace siderama {

namespace {

QString fitsMessage(int status) {
    char text[FLEN_STATUS] = {};
    fits_get_errstatus(status, text);
    return QString::fromLatin1(text);
}

// The file's first table; `status` tells whether it was reached.
FitsHandle openTable(const QString& path, int& status) {
    fitsfile* raw = nullptr;
    // The name is taken literally: CFITSIO's file-name syntax is not applied.
    fits_open_diskfile(&raw, QFile::encodeName(path).constData(), READONLY, &status);
    FitsHandle file(raw);
    fits_movabs_hdu(raw, 2, nullptr, &status);
    return file;
}

}  // namespace

std::optional<std::vector<std::vector<double>>> readFitsColumns(const QString& path, const QStringList& columns,
                                                                QString* error) {
    int status = 0;
    const FitsHandle file = openTable(path, status);
    fitsfile* raw = file.get();
    long rows = 0;
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

long readFitsTableKey(const QString& path, const QString& key) {
    int status = 0;
    long value = 0;
    const FitsHandle file = openTable(path, status);
    fits_read_key(file.get(), TLONG, key.toLatin1().constData(), &value, nullptr, &status);
    return status == 0 ? value : 0;
}

bool writeFitsTable(const QString& path, const QStringList& names, const std::vector<std::vector<double>>& columns,
                    const std::vector<std::pair<QString, long>>& keys) {
    QFile::remove(path);
    int status = 0;
    fitsfile* raw = nullptr;
    if (fits_create_diskfile(&raw, QFile::encodeName(path).constData(), &status) != 0) return false;
    FitsHandle file(raw);
    std::vector<QByteArray> labels;
    for (const QString& name : names) labels.push_back(name.toLatin1());
    std::vector<char*> types(names.size(), const_cast<char*>("D")), columnNames;
    for (QByteArray& label : labels) columnNames.push_back(label.data());
    fits_create_tbl(raw, BINARY_TBL, 0, int(names.size()), columnNames.data(), types.data(), nullptr, nullptr,
                    &status);
    for (auto [key, value] : keys) fits_update_key(raw, TLONG, key.toLatin1().constData(), &value, nullptr, &status);
    for (std::size_t i = 0; i < columns.size(); ++i)
        fits_write_col(raw, TDOUBLE, int(i + 1), 1, 1, long(columns[i].size()), const_cast<double*>(columns[i].data()),
                       &status);
    return status == 0;
}

}  // namespace siderama
