#include "indexes/DistributionIndexes.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSysInfo>

namespace siderama {

namespace {

// The Tycho-2 packages name series 4100 file index-41NN.fits by NN alone.
QString tycho2Name(const QString& fileName) {
    static const QRegularExpression pattern("^index-41(\\d\\d)\\.fits$");
    const auto match = pattern.match(fileName);
    if (!match.hasMatch()) return {};
    const char* order = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? "littleendian" : "bigendian";
    return QString("index-tycho2-%1.%2.fits").arg(match.captured(1), order);
}

}  // namespace

DistributionIndexes::DistributionIndexes(QString directory) : directory_(std::move(directory)) {}

DistributionIndexes DistributionIndexes::fromEnvironment() {
    const QString override = qEnvironmentVariable("SIDERAMA_DISTRIBUTION_INDEX_DIR");
    return DistributionIndexes(override.isEmpty() ? QString("/usr/share/astrometry") : override);
}

std::optional<QString> DistributionIndexes::sourceOf(const QString& fileName) const {
    for (const QString& name : {fileName, tycho2Name(fileName)}) {
        if (name.isEmpty()) continue;
        const QFileInfo info(directory_ + "/" + name);
        if (info.isFile()) return info.absoluteFilePath();
    }
    return std::nullopt;
}

}  // namespace siderama
