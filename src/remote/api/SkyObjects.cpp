#include "remote/api/SkyObjects.h"

#include "remote/api/JobTools.h"
#include "solver/FieldObjects.h"
#include "solver/SkyWcs.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QSaveFile>
#include <algorithm>
#include <mutex>

namespace siderama {

namespace {

std::mutex making;  // one job's files are made once, by one thread

bool writeFile(const QString& path, const QByteArray& data) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.commit();
}

}  // namespace

// The listing is made once and kept as {"annotations": [...], "constellations": [...]}.
nlohmann::json SkyObjects::listing(int job) const {
    const QString cache = folders.job(job) + "/objects.json";
    std::lock_guard guard(making);
    if (QFile cached(cache); cached.open(QIODevice::ReadOnly))
        return nlohmann::json::parse(cached.readAll().toStdString(), nullptr, false);
    const std::optional<FieldObjects> field = FieldObjects::list(folders.result(job, "wcs"));
    nlohmann::json made{{"annotations", nlohmann::json::array()}, {"constellations", nlohmann::json::array()}};
    if (!field) return made;  // the next request tries again
    for (const SkyObject& object : field->objects) {
        nlohmann::json names = nlohmann::json::array();
        for (const QString& name : object.names) names.push_back(name.toStdString());
        made["annotations"].push_back({{"type", object.kind == SkyObject::Kind::star ? "star" : "ngc"},
                                       {"names", names},
                                       {"pixelx", object.position.x() + fitsPixelOffset},
                                       {"pixely", object.position.y() + fitsPixelOffset},
                                       {"radius", object.radius}});
    }
    for (const QString& constellation : field->constellations) made["constellations"].push_back(constellation.toStdString());
    writeFile(cache, QByteArray::fromStdString(made.dump()));
    return made;
}

nlohmann::json SkyObjects::annotations(int job) const { return listing(job).value("annotations", nlohmann::json::array()); }

std::vector<std::string> SkyObjects::names(int job) const {
    const nlohmann::json made = listing(job);
    std::vector<std::string> all;
    const auto add = [&all](const QString& name) {
        const std::string text = name.trimmed().toStdString();
        if (!text.empty() && std::find(all.begin(), all.end(), text) == all.end()) all.push_back(text);
    };
    for (const auto& entry : made.value("annotations", nlohmann::json::array()))
        for (const auto& names : entry.value("names", nlohmann::json::array()))
            // "ι Ori / 44 Ori" holds two names.
            for (const QString& name : QString::fromStdString(names.get<std::string>()).split(" / ")) add(name);
    for (const auto& constellation : made.value("constellations", nlohmann::json::array()))
        add(QString::fromStdString(constellation.get<std::string>()));
    return all;
}

namespace {

// The picture to draw on, as PPM: the uploaded image in its colours when Qt
// reads it (its top row is the first, as in the converted FITS the WCS
// belongs to), else the FITS image the tools read; false for star lists.
bool writeBackground(const QString& original, const QString& directory, const QString& ppm, JobTools& tools) {
    if (QImage image(original); !image.isNull()) return image.convertToFormat(QImage::Format_RGB888).save(ppm, "PPM");
    if (!QFileInfo::exists(directory + "/image.fits")) return false;
    tools.run("an-fitstopnm", {"-i", directory + "/image.fits", "-o", ppm});
    return true;
}

}  // namespace

std::optional<QByteArray> SkyObjects::annotatedImage(int job, const QString& original, int width, int height) const {
    const QString directory = folders.job(job);
    const QString cache = directory + "/annotated.jpg";
    std::lock_guard guard(making);
    if (QFile cached(cache); cached.open(QIODevice::ReadOnly)) return cached.readAll();
    try {
        JobTools tools(folders.log(job));
        QStringList arguments{"-w", folders.result(job, "wcs"), "-o", directory + "/annotated.png", "-N", "-C", "-B"};
        if (writeBackground(original, directory, directory + "/image.ppm", tools)) {
            arguments << "-i" << directory + "/image.ppm";
        } else {
            arguments << "-W" << QString::number(width) << "-H" << QString::number(height);
        }
        tools.run("plot-constellations", arguments);
    } catch (const JobFailure&) {
        return std::nullopt;
    }
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    if (!QImage(directory + "/annotated.png").save(&buffer, "JPEG", 90)) return std::nullopt;
    QFile::remove(directory + "/image.ppm");
    writeFile(cache, jpeg);
    return jpeg;
}

}  // namespace siderama
