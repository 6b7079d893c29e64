#pragma once

#include <QString>
#include <optional>
#include <string>
#include <vector>

namespace siderama {

class ApiArguments;

// A list of star positions in image pixels and the size of the image they
// come from, as an API client sends it: a FITS table (columns X and Y), a
// text of "x y" lines ("#" starts a comment) or JSON lists `x` and `y`.
struct StarList {
    std::vector<double> x, y;
    int width = 0;
    int height = 0;

    // The list of uploaded data; none when the data is neither a FITS table
    // with X and Y nor a text of number pairs (a text is judged by its first
    // kilobytes and refused beyond 64 MB).
    static std::optional<StarList> fromFile(const QString& path);
    static std::optional<StarList> fromText(const std::string& text);
    // The JSON lists; none when absent, of different lengths or empty.
    static std::optional<StarList> fromArguments(const ApiArguments& arguments);

    // Takes `image_width`/`image_height` when given, else keeps a size found
    // in the data, else the ceiling of the largest coordinates.
    void settleSize(const ApiArguments& arguments);
    // "x y" lines, the form kept in a job's directory.
    std::string text() const;
    // Writes the list as the FITS table solve-field reads; false on failure.
    bool writeTable(const QString& path) const;
};

}  // namespace siderama
