// Below the pages: API keys and their sessions, who a page shows a job to,
// the quality figures of a solution and where the sky maps put a field.
#include "imaging/FitsTable.h"
#include "remote/api/ApiKeys.h"
#include "remote/api/JobAccess.h"
#include "remote/api/JobStore.h"
#include "remote/web/SkyMap.h"
#include "remote/web/WebSession.h"
#include "solver/SkyWcs.h"
#include "solver/SolutionQuality.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <cmath>

#include <gtest/gtest.h>

using namespace siderama;

TEST(ApiKeys, KeepOnlyHashesAndSignSessionsThatEndWithTheirKey) {
    QTemporaryDir folder;
    const QString path = folder.filePath("api-keys.json");
    ApiKeys keys(path), server(path);  // the key command and the running server
    EXPECT_FALSE(server.required());
    const QString boss = keys.add("boss"), ann = keys.add("ann");
    EXPECT_THROW(keys.add("ann"), std::runtime_error);
    EXPECT_THROW(keys.add(" "), std::runtime_error);
    EXPECT_TRUE(server.required());
    const QByteArray stored = testsupport::readFile(path);
    EXPECT_FALSE(stored.contains(boss.toUtf8()) || stored.contains(ann.toUtf8()));
    EXPECT_FALSE(QFile::permissions(path) & (QFile::ReadGroup | QFile::ReadOther)) << "owner only";
    ASSERT_TRUE(server.account(boss) && server.account(ann));
    EXPECT_TRUE(server.account(boss)->isOperator);
    EXPECT_FALSE(server.account(ann)->isOperator);
    EXPECT_FALSE(server.account(ann + "0") || server.account(""));

    const QString session = server.session(*server.account(ann));
    EXPECT_EQ(server.sessionAccount(session)->name, "ann");
    EXPECT_EQ(keys.session(*keys.account(ann)), session) << "one session per key: its jobs stay its own";
    const QStringList parts = session.split('.');
    const QString asBoss = QString::fromLatin1(QByteArray("boss").toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    for (const QString& forged : {asBoss + "." + parts[1], parts[0] + "." + QString(parts[1]).replace(0, 1, "x"),
                                  parts[0], QString("")})
        EXPECT_FALSE(server.sessionAccount(forged)) << qPrintable(forged);
    ApiKeys elsewhere(folder.filePath("other.json"));
    elsewhere.add("ann");
    EXPECT_FALSE(elsewhere.sessionAccount(session)) << "another server's secret signs differently";

    keys.remove("ann");
    EXPECT_FALSE(server.sessionAccount(session)) << "a removed key ends its sessions";
    EXPECT_THROW(keys.remove("ann"), std::runtime_error);
    keys.add("ann");
    EXPECT_FALSE(server.sessionAccount(session)) << "nor does a new key of the same name revive them";
    keys.remove("ann");
    keys.remove("boss");
    EXPECT_FALSE(server.required());
}

TEST(WebSession, PagesShowAJobToItsOwnerTheOperatorAndItsUploaderAddressOnly) {
    QTemporaryDir folder;
    ApiKeys keys(folder.filePath("api-keys.json"));
    const JobAccess access([&] { return keys.required(); },
                           [&](const QString& session) { return keys.sessionAccount(session).has_value(); },
                           [&](const QString& session) { return keys.sessionAccount(session).value_or(ApiKeys::Account()).isOperator; });
    WebSession sessions(keys, access);
    http::HttpRequest fromUploader, fromElsewhere;
    fromUploader.address = "192.168.1.7";
    fromElsewhere.address = "192.168.1.8";
    Submission bobs;
    bobs.address = "192.168.1.7";
    EXPECT_TRUE(sessions.maySee(fromElsewhere, {}, bobs)) << "without keys the service is open";

    const QString bossKey = keys.add("boss"), annKey = keys.add("ann"), bobKey = keys.add("bob");
    const auto viewer = [&](const QString& key) {
        const QString session = keys.session(*keys.account(key));
        http::HttpRequest request;
        request.headers["cookie"] = "theme=dark; " + std::string(WebSession::cookieName) + "=" + session.toStdString();
        return sessions.viewer(request);
    };
    bobs.session = viewer(bobKey).session;
    const struct {
        const char* who;
        WebSession::Viewer viewer;
        const http::HttpRequest& request;
        bool sees;
    } cases[] = {
        {"owner", viewer(bobKey), fromElsewhere, true},
        {"operator", viewer(bossKey), fromElsewhere, true},
        {"another member", viewer(annKey), fromElsewhere, false},
        {"no session, the uploader's address", {}, fromUploader, true},
        {"no session, another address", {}, fromElsewhere, false},
    };
    for (const auto& c : cases) EXPECT_EQ(sessions.maySee(c.request, c.viewer, bobs), c.sees) << c.who;

    EXPECT_TRUE(sessions.tokenMatches(viewer(annKey), sessions.token(viewer(annKey)).toStdString()));
    EXPECT_FALSE(sessions.tokenMatches(viewer(annKey), sessions.token(viewer(bobKey)).toStdString()));
    EXPECT_FALSE(sessions.tokenMatches({}, ""));
    EXPECT_EQ(WebSession::cookie("s", false), std::string(WebSession::cookieName) + "=s; Path=/; HttpOnly; SameSite=Strict");
    EXPECT_TRUE(WebSession::cookie("s", true).ends_with("; Secure"));
}

TEST(SolutionQuality, CountsMatchesAndTakesTheRmsOnTheSkyAndTheLogOdds) {
    QTemporaryDir folder;
    const QString base = folder.filePath("job");
    EXPECT_FALSE(SolutionQuality::read(base));
    // Pairs 1″ apart in declination and 3″ apart in right ascension near the pole.
    const double nearPole = 3 / 3600.0 / std::cos(89 * M_PI / 180);
    ASSERT_TRUE(writeFitsTable(base + ".corr", {"field_ra", "field_dec", "index_ra", "index_dec"},
                               {{10, 10}, {20, 89}, {10, 10 + nearPole}, {20 + 1 / 3600.0, 89}}, {}));
    std::optional<SolutionQuality> quality = SolutionQuality::read(base);
    ASSERT_TRUE(quality);
    EXPECT_EQ(quality->matchedStars, 2);
    EXPECT_NEAR(*quality->rmsArcsec, std::sqrt(5.0), 0.01);
    EXPECT_FALSE(quality->logOdds);
    EXPECT_TRUE(quality->toJson()["log_odds"].is_null());
    ASSERT_TRUE(writeFitsTable(base + ".match", {"LOGODDS"}, {{123.5}}, {}));
    EXPECT_DOUBLE_EQ(*SolutionQuality::read(base)->logOdds, 123.5);
}

namespace {

QByteArray card(const QString& key, const QString& value) {
    return (key.leftJustified(8, ' ') + "= " + value).leftJustified(80, ' ').toLatin1();
}

// A north-up field of 600 x 400 pixels at 36″ per pixel.
SkyWcs field(double ra, double dec) {
    const double scale = 36 / 3600.0;
    QByteArray header = card("CTYPE1", "'RA---TAN'") + card("CTYPE2", "'DEC--TAN'") +
                        card("CRVAL1", QString::number(ra)) + card("CRVAL2", QString::number(dec)) +
                        card("CRPIX1", "300.5") + card("CRPIX2", "200.5") + card("CD1_1", QString::number(-scale)) +
                        card("CD1_2", "0") + card("CD2_1", "0") + card("CD2_2", QString::number(-scale)) +
                        card("IMAGEW", "600") + card("IMAGEH", "400") + QByteArray("END").leftJustified(80, ' ');
    return *SkyWcs::fromHeader(header);
}

// The centre of the map's red pixels (the field), as fractions of its size.
QPointF redCentre(const QImage& map) {
    QPointF sum;
    int count = 0;
    for (int y = 0; y < map.height(); ++y)
        for (int x = 0; x < map.width(); ++x)
            if (const QColor c = map.pixelColor(x, y); c.red() > 120 && c.green() < 100 && c.blue() < 100) {
                sum += QPointF(x, y);
                ++count;
            }
    if (count == 0) return {-1, -1};
    return {sum.x() / count / map.width(), sum.y() / count / map.height()};
}

}  // namespace

TEST(SkyMap, PutsTheFieldWhereItLiesEastLeftNorthUp) {
    const struct {
        double ra, dec;
        QPointF where;  // on the whole sky, as fractions of the map
    } fields[] = {{0, 0, {0.5, 0.5}}, {90, 0, {0.25, 0.5}}, {270, 0, {0.75, 0.5}}, {0, 60, {0.5, 0.15}}, {0, -60, {0.5, 0.85}}};
    for (const auto& f : fields) {
        const SkyWcs wcs = field(f.ra, f.dec);
        const QPointF onSky = redCentre(SkyMap::draw(wcs, 0, QSize(400, 200)));
        EXPECT_NEAR(onSky.x(), f.where.x(), 0.05) << f.ra << " " << f.dec;
        EXPECT_NEAR(onSky.y(), f.where.y(), 0.08) << f.ra << " " << f.dec;
        double wider = 360;
        for (int zoom = 1; zoom < SkyMap::zoomLevels; ++zoom) {
            const QPointF centred = redCentre(SkyMap::draw(wcs, zoom, QSize(300, 300)));
            EXPECT_NEAR(centred.x(), 0.5, 0.02) << "zoom " << zoom;
            EXPECT_NEAR(centred.y(), 0.5, 0.02) << "zoom " << zoom;
            EXPECT_LE(SkyMap::widthDegrees(wcs, zoom), wider);
            EXPECT_GT(SkyMap::widthDegrees(wcs, zoom), 2 * wcs.radius());
            wider = SkyMap::widthDegrees(wcs, zoom);
        }
    }
    EXPECT_TRUE(SkyMap::draw(field(0, 0), SkyMap::zoomLevels, QSize(100, 100)).isNull());
}
