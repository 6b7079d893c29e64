#include "remote/api/SkyObjects.h"

#include "remote/api/JobTools.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QSaveFile>
#include <algorithm>
#include <mutex>

namespace siderama {

namespace {

std::mutex making;  // one job's files are made once, by one thread

// The JSON object plot-constellations -J writes among its list lines: from
// a line "{" up to the first line "}".
nlohmann::json jsonBlock(const QString& output) {
    const qsizetype start = output.indexOf(QRegularExpression("^\\{", QRegularExpression::MultilineOption));
    const qsizetype end = output.indexOf(QRegularExpression("^\\}", QRegularExpression::MultilineOption), start);
    if (start < 0 || end < 0) return nlohmann::json::object();
    return nlohmann::json::parse(output.mid(start, end - start + 1).toStdString(), nullptr, false);
}

nlohmann::json normalised(const nlohmann::json& entries) {
    nlohmann::json list = nlohmann::json::array();
    if (!entries.is_array()) return list;
    for (const auto& entry : entries) {
        list.push_back({{"type", entry.value("type", "")},
                        {"names", entry.value("names", nlohmann::json::array())},
                        {"pixelx", entry.value("pixelx", 0.0)},
                        {"pixely", entry.value("pixely", 0.0)},
                        {"radius", entry.value("radius", 0.0)}});
    }
    return list;
}

bool writeFile(const QString& path, const QByteArray& data) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.commit();
}

}  // namespace

nlohmann::json SkyObjects::annotations(int job) const {
    const QString cache = folders.job(job) + "/objects.json";
    std::lock_guard guard(making);
    QFile cached(cache);
    if (cached.open(QIODevice::ReadOnly)) return nlohmann::json::parse(cached.readAll().toStdString(), nullptr, false);
    nlohmann::json list = nlohmann::json::array();
    try {
        JobTools tools(folders.log(job));
        const QString output =
            tools.run("plot-constellations", {"-w", folders.result(job, "wcs"), "-L", "-N", "-C", "-B", "-J"});
        list = normalised(jsonBlock(output).value("annotations", nlohmann::json::array()));
        writeFile(cache, QByteArray::fromStdString(list.dump()));
    } catch (const JobFailure&) {
        // No list this time; the next request tries again.
    }
    return list;
}

std::vector<std::string> SkyObjects::names(const nlohmann::json& annotations) {
    std::vector<std::string> all;
    for (const auto& entry : annotations)
        for (const auto& names : entry.value("names", nlohmann::json::array()))
            // "ι Ori / 44 Ori" holds two names.
            for (const QString& name : QString::fromStdString(names.get<std::string>()).split(" / ")) {
                const std::string text = name.trimmed().toStdString();
                if (!text.empty() && std::find(all.begin(), all.end(), text) == all.end()) all.push_back(text);
            }
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
