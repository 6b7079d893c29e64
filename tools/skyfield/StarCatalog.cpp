#include "StarCatalog.h"

#include <QDir>
#include <QProcess>
#include <QSet>

#include <stdexcept>

namespace skyfield {

namespace {

QByteArray runQuery(const QString& indexFile, double ra, double dec, double radius) {
    QProcess process;
    process.start("query-starkd", {"-r", QString::number(ra, 'f', 8), "-d", QString::number(dec, 'f', 8),
                                   "-R", QString::number(radius, 'f', 8), "-T", indexFile});
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        throw std::runtime_error("query-starkd failed on " + indexFile.toStdString() + ": " +
                                 process.readAllStandardError().toStdString());
    }
    return process.readAllStandardOutput();
}

// Data lines hold "RA, Dec, magnitude"; the comments and messages do not parse.
QList<QByteArray> fieldsOf(const QByteArray& line) {
    return QByteArray(line).replace(',', ' ').simplified().split(' ');
}

bool parseStar(const QByteArray& line, Star& star) {
    const QList<QByteArray> fields = fieldsOf(line);
    if (fields.size() < 3) return false;
    bool ok[3];
    star = {fields[0].toDouble(&ok[0]), fields[1].toDouble(&ok[1]), fields[2].toDouble(&ok[2])};
    return ok[0] && ok[1] && ok[2];
}

}  // namespace

QStringList defaultIndexFiles() {
    QStringList files;
    for (int n = 10; n <= 19; ++n) {
        files << QString("/usr/share/astrometry/index-tycho2-%1.littleendian.fits").arg(n);
    }
    return files;
}

std::vector<Star> queryStars(const QStringList& indexFiles, double ra, double dec, double radius) {
    std::vector<Star> stars;
    QSet<QByteArray> seen;  // the files print a shared star with the same text
    for (const QString& file : indexFiles) {
        for (const QByteArray& line : runQuery(file, ra, dec, radius).split('\n')) {
            Star star;
            const QByteArray position = fieldsOf(line).mid(0, 2).join(' ');
            if (!parseStar(line, star) || seen.contains(position)) continue;
            seen.insert(position);
            stars.push_back(star);
        }
    }
    return stars;
}

}  // namespace skyfield
