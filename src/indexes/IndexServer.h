#pragma once

#include "indexes/IndexCatalogue.h"

#include <QString>
#include <QUrl>

#include <optional>

namespace siderama::IndexServer {

// Series of an index file name by its prefix: "index-41" or "index-42".
std::optional<IndexSeries> seriesOf(const QString& fileName);

// Base location of a series, ending in "/": the index-file server's "4100/"
// or "4200/" directory, or $SIDERAMA_INDEX_URL_4100 / $SIDERAMA_INDEX_URL_4200.
QString baseLocation(IndexSeries series);

// Where a file name is fetched from: its series' base followed by the name.
// Nothing for a name of neither series or a location that is not a URL.
std::optional<QUrl> locationOf(const QString& fileName);

// The index files' documentation page.
QUrl readmeLocation();

}  // namespace siderama::IndexServer
