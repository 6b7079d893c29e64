#include "indexes/IndexServer.h"

namespace siderama::IndexServer {

std::optional<IndexSeries> seriesOf(const QString& fileName) {
    if (fileName.startsWith("index-41")) return IndexSeries::s4100;
    if (fileName.startsWith("index-42")) return IndexSeries::s4200;
    return std::nullopt;
}

QString baseLocation(IndexSeries series) {
    const bool is4100 = series == IndexSeries::s4100;
    const QString override = qEnvironmentVariable(is4100 ? "SIDERAMA_INDEX_URL_4100" : "SIDERAMA_INDEX_URL_4200");
    if (!override.isEmpty()) return override;
    return is4100 ? "http://data.astrometry.net/4100/" : "http://data.astrometry.net/4200/";
}

std::optional<QUrl> locationOf(const QString& fileName) {
    const auto series = seriesOf(fileName);
    if (!series) return std::nullopt;
    const QUrl url(baseLocation(*series) + fileName, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty()) return std::nullopt;
    return url;
}

QUrl readmeLocation() { return QUrl("http://astrometry.net/doc/readme.html"); }

}  // namespace siderama::IndexServer
