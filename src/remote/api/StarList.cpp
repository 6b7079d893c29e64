#include "remote/api/StarList.h"

#include "imaging/FitsTable.h"
#include "remote/api/ApiArguments.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <sstream>

namespace siderama {

namespace {

constexpr qint64 largestText = 64 << 20;
constexpr qint64 headBytes = 4096;

using Position = std::pair<double, double>;

// One line of a text list: a position, or nothing for a blank or comment
// line; none when it is no line of a list.
std::optional<std::optional<Position>> lineOf(std::string line) {
    line = line.substr(0, line.find('#'));
    std::replace(line.begin(), line.end(), ',', ' ');
    std::istringstream words(line);
    double x = 0, y = 0;
    if (!(words >> x)) {
        if (line.find_first_not_of(" \t\r") != std::string::npos) return std::nullopt;
        return std::optional<Position>();
    }
    if (!(words >> y)) return std::nullopt;
    return std::optional(Position{x, y});
}

// Whether the whole lines among the first bytes of `file` are lines of a list.
bool startsAsText(QFile& file) {
    QByteArray head = file.peek(headBytes);
    if (file.size() > head.size()) head.truncate(head.lastIndexOf('\n') + 1);
    std::istringstream lines(head.toStdString());
    for (std::string line; std::getline(lines, line);)
        if (!lineOf(line)) return false;
    return true;
}

}  // namespace

// A text list is read whole only when its first bytes are list lines and it
// is not larger than any list a client sends.
std::optional<StarList> StarList::fromFile(const QString& path) {
    if (const auto columns = readFitsColumns(path, {"X", "Y"})) {
        if ((*columns)[0].empty()) return std::nullopt;
        return StarList{(*columns)[0], (*columns)[1], int(readFitsTableKey(path, "IMAGEW")),
                        int(readFitsTableKey(path, "IMAGEH"))};
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > largestText || !startsAsText(file)) return std::nullopt;
    return fromText(file.readAll().toStdString());
}

std::optional<StarList> StarList::fromText(const std::string& text) {
    StarList list;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::optional<std::optional<Position>> read = lineOf(line);
        if (!read) return std::nullopt;
        if (!*read) continue;
        list.x.push_back((*read)->first);
        list.y.push_back((*read)->second);
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
    return writeFitsTable(path, {"X", "Y"}, {x, y}, {{"IMAGEW", width}, {"IMAGEH", height}});
}

}  // namespace siderama
