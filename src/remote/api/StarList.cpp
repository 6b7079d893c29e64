#include "remote/api/StarList.h"

#include "remote/api/ApiArguments.h"

#include <QFile>
#include <fitsio.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <sstream>

namespace siderama {

namespace {

struct FitsCloser {
    void operator()(fitsfile* file) const {
        int status = 0;
        fits_close_file(file, &status);
    }
};
using FitsHandle = std::unique_ptr<fitsfile, FitsCloser>;

FitsHandle openTable(const QString& path) {
    fitsfile* file = nullptr;
    int status = 0;
    const QByteArray name = QFile::encodeName(path);
    if (fits_open_diskfile(&file, name.constData(), READONLY, &status) != 0) return nullptr;
    FitsHandle handle(file);
    return fits_movabs_hdu(file, 2, nullptr, &status) == 0 ? std::move(handle) : nullptr;
}

std::optional<std::vector<double>> column(fitsfile* file, const char* name, long rows) {
    int status = 0, number = 0;
    if (fits_get_colnum(file, CASEINSEN, const_cast<char*>(name), &number, &status) != 0) return std::nullopt;
    std::vector<double> values(static_cast<std::size_t>(rows));
    if (rows > 0 && fits_read_col(file, TDOUBLE, number, 1, 1, rows, nullptr, values.data(), nullptr, &status) != 0)
        return std::nullopt;
    return values;
}

int headerSize(fitsfile* file, const char* key) {
    int status = 0;
    long value = 0;
    return fits_read_key(file, TLONG, key, &value, nullptr, &status) == 0 ? int(value) : 0;
}

}  // namespace

std::optional<StarList> StarList::fromFile(const QString& path) {
    if (const FitsHandle table = openTable(path)) {
        int status = 0;
        long rows = 0;
        fits_get_num_rows(table.get(), &rows, &status);
        auto x = column(table.get(), "X", rows), y = column(table.get(), "Y", rows);
        if (!x || !y || rows == 0) return std::nullopt;
        return StarList{*x, *y, headerSize(table.get(), "IMAGEW"), headerSize(table.get(), "IMAGEH")};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    return fromText(file.readAll().toStdString());
}

std::optional<StarList> StarList::fromText(const std::string& text) {
    StarList list;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        line = line.substr(0, line.find('#'));
        std::replace(line.begin(), line.end(), ',', ' ');
        std::istringstream words(line);
        double x = 0, y = 0;
        if (!(words >> x)) {
            if (line.find_first_not_of(" \t\r") != std::string::npos) return std::nullopt;
            continue;
        }
        if (!(words >> y)) return std::nullopt;
        list.x.push_back(x);
        list.y.push_back(y);
    }
    if (list.x.empty()) return std::nullopt;
    return list;
}

std::optional<StarList> StarList::fromArguments(const ApiArguments& arguments) {
    auto x = arguments.numbers("x"), y = arguments.numbers("y");
    if (!x || !y || x->size() != y->size() || x->empty()) return std::nullopt;
    return StarList{*x, *y};
}

void StarList::settleSize(const ApiArguments& arguments) {
    if (const auto w = arguments.number("image_width"); w && *w > 0) width = int(std::ceil(*w));
    if (const auto h = arguments.number("image_height"); h && *h > 0) height = int(std::ceil(*h));
    if (width <= 0) width = int(std::ceil(*std::max_element(x.begin(), x.end())));
    if (height <= 0) height = int(std::ceil(*std::max_element(y.begin(), y.end())));
    width = std::max(width, 1);
    height = std::max(height, 1);
}

std::string StarList::text() const {
    std::ostringstream out;
    out.precision(10);
    out << "# IMAGEW " << width << " IMAGEH " << height << "\n";
    for (std::size_t i = 0; i < x.size(); ++i) out << x[i] << " " << y[i] << "\n";
    return out.str();
}

bool StarList::writeTable(const QString& path) const {
    QFile::remove(path);
    fitsfile* file = nullptr;
    int status = 0;
    const QByteArray name = QFile::encodeName(path);
    if (fits_create_diskfile(&file, name.constData(), &status) != 0) return false;
    FitsHandle handle(file);
    char* names[] = {const_cast<char*>("X"), const_cast<char*>("Y")};
    char* formats[] = {const_cast<char*>("D"), const_cast<char*>("D")};
    long w = width, h = height;
    fits_create_tbl(file, BINARY_TBL, 0, 2, names, formats, nullptr, nullptr, &status);
    fits_update_key(file, TLONG, "IMAGEW", &w, nullptr, &status);
    fits_update_key(file, TLONG, "IMAGEH", &h, nullptr, &status);
    fits_write_col(file, TDOUBLE, 1, 1, 1, long(x.size()), const_cast<double*>(x.data()), &status);
    fits_write_col(file, TDOUBLE, 2, 1, 1, long(y.size()), const_cast<double*>(y.data()), &status);
    return status == 0;
}

}  // namespace siderama
