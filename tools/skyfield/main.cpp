// skyfield: renders a real star field from the Tycho-2 index files and writes
// it as an image, printing the values it was made with as JSON.
//
//   skyfield --ra 83.8 --dec -5.4 --width 800 --height 600 --scale 40
//            --rotation 30 --format png16 --out field.png [--truth field.json]
#include "ExifWriter.h"
#include "FieldWriter.h"
#include "StarCatalog.h"
#include "StarRenderer.h"
#include "TanProjection.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtPlugin>

#include <cmath>
#include <cstdio>
#include <stdexcept>

Q_IMPORT_PLUGIN(RawImagePlugin)

namespace {

struct Request {
    double ra, dec, scale, rotation;
    int width, height;
    unsigned seed;
    int blobs;
    double distortion;
    skyfield::RenderSettings photo;  // the photo effects only
    int quality;
    double focal, pitch;
    QString format, out, truth;
    QStringList indexes;
};

void addOptions(QCommandLineParser& parser) {
    parser.addHelpOption();
    parser.addOptions({
        {"ra", "Right ascension of the image centre (degrees).", "deg"},
        {"dec", "Declination of the image centre (degrees).", "deg"},
        {"width", "Image width in pixels (default 800).", "px", "800"},
        {"height", "Image height in pixels (default 600).", "px", "600"},
        {"scale", "Pixel scale (arcsec per pixel, default 40).", "arcsec", "40"},
        {"rotation", "Sky rotation, counter-clockwise (degrees, default 0).", "deg", "0"},
        {"format", "Output format: " + skyfield::formatNames().join(", ") + ".", "name", "fits"},
        {"out", "Output image file.", "file"},
        {"truth", "Also write the JSON truth to this file.", "file"},
        {"seed", "Seed of the sky noise (default 1).", "n", "1"},
        {"blobs", "Bright extended glows to add (default 0).", "n", "0"},
        {"distortion", "Radial distortion k: r -> r (1 + k r^2), r in half diagonals (default 0).", "k", "0"},
        {"vignetting", "Corners darker by this fraction (default 0).", "v", "0"},
        {"gradient", "Sky brighter towards the bottom by this much (default 0).", "g", "0"},
        {"band", "Peak of a diagonal band of diffuse light (default 0).", "b", "0"},
        {"foreground", "Radius of a bright disc at the bottom, in image heights (default 0).", "r", "0"},
        {"quality", "JPEG quality, 0-100 (default 90).", "q", "90"},
        {"focal", "With --pitch: write a camera's EXIF focal length into a JPEG (millimetres).", "mm", "0"},
        {"pitch", "The camera's pixel pitch for the EXIF block (micrometres).", "um", "0"},
        {"index", "Index file to take stars from (repeatable; default the Tycho-2 files).", "file"},
    });
}

double number(const QCommandLineParser& parser, const QString& name) {
    bool ok = false;
    const double value = parser.value(name).toDouble(&ok);
    if (!ok) throw std::runtime_error("--" + name.toStdString() + " needs a number");
    return value;
}

Request parseRequest(const QCommandLineParser& parser) {
    if (!parser.isSet("ra") || !parser.isSet("dec") || !parser.isSet("out")) {
        throw std::runtime_error("--ra, --dec and --out are required");
    }
    Request request{number(parser, "ra"), number(parser, "dec"), number(parser, "scale"),
                    number(parser, "rotation"), int(number(parser, "width")), int(number(parser, "height")),
                    unsigned(number(parser, "seed")), int(number(parser, "blobs")),
                    number(parser, "distortion"), {}, int(number(parser, "quality")), number(parser, "focal"),
                    number(parser, "pitch"), parser.value("format"), parser.value("out"),
                    parser.value("truth"), parser.values("index")};
    request.photo.vignetting = number(parser, "vignetting");
    request.photo.gradient = number(parser, "gradient");
    request.photo.band = number(parser, "band");
    request.photo.foreground = number(parser, "foreground");
    if (request.width <= 0 || request.height <= 0 || request.scale <= 0) {
        throw std::runtime_error("width, height and scale must be positive");
    }
    if (!skyfield::formatNames().contains(request.format)) {
        throw std::runtime_error("unknown format " + request.format.toStdString());
    }
    if (request.indexes.isEmpty()) request.indexes = skyfield::defaultIndexFiles();
    return request;
}

QByteArray truthJson(const Request& request, int stars) {
    const QJsonObject truth{{"ra", request.ra},         {"dec", request.dec},
                            {"scale", request.scale},   {"rotation", request.rotation},
                            {"width", request.width},   {"height", request.height},
                            {"format", request.format}, {"stars", stars}};
    return QJsonDocument(truth).toJson(QJsonDocument::Compact) + "\n";
}

int run(const Request& request) {
    // Half the diagonal, with a margin for stars whose light reaches the edge.
    const double radius = 0.5 * std::hypot(request.width, request.height) * request.scale / 3600.0 + 0.1;
    const auto stars = skyfield::queryStars(request.indexes, request.ra, request.dec, radius);
    const skyfield::TanProjection projection(request.ra, request.dec, request.scale, request.rotation,
                                             request.width, request.height);
    skyfield::RenderSettings settings = request.photo;
    settings.seed = request.seed;
    settings.blobs = request.blobs;
    settings.distortion = request.distortion;
    int drawn = 0;
    const auto field = skyfield::renderField(stars, projection, request.width, request.height, settings, drawn);
    if (!skyfield::writeField(field, request.format, request.out, request.quality)) return 1;
    if (request.focal > 0 && request.pitch > 0 && request.format == "jpg" &&
        !skyfield::addCameraExif(request.out, request.focal, request.pitch, request.width))
        return 1;
    const QByteArray truth = truthJson(request, drawn);
    std::fwrite(truth.constData(), 1, size_t(truth.size()), stdout);
    if (!request.truth.isEmpty()) {
        QFile file(request.truth);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(truth) != truth.size()) {
            throw std::runtime_error("cannot write " + request.truth.toStdString());
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    addOptions(parser);
    parser.process(app);
    try {
        return run(parseRequest(parser));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "skyfield: %s\n", error.what());
        return 2;
    }
}
