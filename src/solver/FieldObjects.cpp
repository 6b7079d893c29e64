#include "solver/FieldObjects.h"

#include "core/Constants.h"
#include "solver/SkyWcs.h"
#include "solver/ToolCommand.h"

#include <QRegularExpression>
#include <nlohmann/json.hpp>

namespace siderama {

namespace {

// The JSON object starts at the first brace; -J writes nothing else there
// but stray messages may precede it.
std::optional<nlohmann::json> parseJson(const QByteArray& bytes) {
    const qsizetype start = bytes.indexOf('{');
    if (start < 0) return std::nullopt;
    nlohmann::json json = nlohmann::json::parse(bytes.mid(start).toStdString(), nullptr, false);
    if (json.is_discarded() || !json.contains("annotations")) return std::nullopt;
    return json;
}

std::optional<SkyObject> toObject(const nlohmann::json& item) {
    const std::string type = item.value("type", "");
    if (type != "star" && type != "ngc") return std::nullopt;
    if (!item.contains("pixelx") || !item.contains("pixely") || !item["pixelx"].is_number() ||
        !item["pixely"].is_number())
        return std::nullopt;
    SkyObject object{type == "star" ? SkyObject::Kind::star : SkyObject::Kind::deepSky, {}, {}, 0};
    if (item.contains("names") && item["names"].is_array())
        for (const auto& name : item["names"])
            if (name.is_string()) object.names << QString::fromStdString(name.get<std::string>());
    if (object.names.isEmpty()) return std::nullopt;
    object.position = fromFitsPixel(item["pixelx"].get<double>(), item["pixely"].get<double>());
    if (item.contains("radius") && item["radius"].is_number()) object.radius = item["radius"].get<double>();
    return object;
}

}  // namespace

std::optional<FieldObjects> FieldObjects::parse(const QByteArray& json, const QByteArray& text) {
    const std::optional<nlohmann::json> listing = parseJson(json);
    if (!listing || !(*listing)["annotations"].is_array()) return std::nullopt;
    FieldObjects field;
    for (const auto& item : (*listing)["annotations"])
        if (std::optional<SkyObject> object = toObject(item)) field.objects.push_back(std::move(*object));
    static const QRegularExpression constellation("^Part of the constellation (.+)$",
                                                  QRegularExpression::MultilineOption);
    for (auto match = constellation.globalMatch(QString::fromUtf8(text)); match.hasNext();)
        field.constellations << match.next().captured(1).trimmed();
    return field;
}

std::optional<FieldObjects> FieldObjects::list(const QString& wcsFile, QString* error) {
    QString text, json;
    ToolCommand command("plot-constellations", {"-w", wcsFile, "-L", "-J", "-N", "-B", "-C"});
    const ToolCommand::Result result = command.run([&text](const QString& line) { text += line + "\n"; },
                                                   ToolCommand::Clock::now() + std::chrono::seconds(60),
                                                   [&json](const QString& line) { json += line + "\n"; });
    const auto fail = [error](const QString& reason) -> std::optional<FieldObjects> {
        if (error) *error = reason;
        return std::nullopt;
    };
    if (!result.succeeded())
        return fail(result.stopped ? "plot-constellations did not finish" : result.failure("plot-constellations"));
    std::optional<FieldObjects> field = parse(json.toUtf8(), text.toUtf8());
    if (!field) return fail("plot-constellations printed no object list");
    return field;
}

}  // namespace siderama
