#include "indexes/DistributionIndexes.h"
#include "indexes/IndexCatalogue.h"
#include "indexes/IndexServer.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace siderama;

TEST(IndexCatalogue, holdsThirtyThreeKeysAndThreeHundredOneFiles) {
    EXPECT_EQ(FILES().entries().size(), 33);
    EXPECT_EQ(FILES().fileCount(), 301);
    QStringList all;
    for (const IndexKey& entry : FILES().entries()) all += entry.files;
    EXPECT_EQ(QSet<QString>(all.begin(), all.end()).size(), 301) << "no file name twice";
}

TEST(IndexCatalogue, groupsKeysBySeriesInDescendingOrder) {
    const QStringList keys4100 = FILES().keys(IndexSeries::s4100);
    ASSERT_EQ(keys4100.size(), 13);
    EXPECT_EQ(keys4100.first(), "index-4119.fits");
    EXPECT_EQ(keys4100.last(), "index-4107.fits");
    const QStringList keys4200 = FILES().keys(IndexSeries::s4200);
    ASSERT_EQ(keys4200.size(), 20);
    EXPECT_EQ(keys4200[0], "index-4219.fits");
    EXPECT_EQ(keys4200[11], "index-4208.fits");
    EXPECT_EQ(keys4200[12], "index-4207-*.fits");
    EXPECT_EQ(keys4200[19], "index-4200-*.fits");
    int files4200 = 0;
    for (const QString& key : keys4200) files4200 += int(FILES().lookup(key)->size());
    EXPECT_EQ(files4200, 288) << "12 whole files, 3 x 12 and 5 x 48 parts";
}

TEST(IndexCatalogue, listsSplitIndexesInPartOrder) {
    const QStringList parts = *FILES().lookup("index-4207-*.fits");
    ASSERT_EQ(parts.size(), 12);
    EXPECT_EQ(parts.first(), "index-4207-00.fits");
    EXPECT_EQ(parts[5], "index-4207-05.fits");
    EXPECT_EQ(parts.last(), "index-4207-11.fits");
    const QStringList tiles = *FILES().lookup("index-4200-*.fits");
    ASSERT_EQ(tiles.size(), 48);
    EXPECT_EQ(tiles.last(), "index-4200-47.fits");
    EXPECT_EQ(FILES().lookup("index-4205-*.fits")->size(), 12);
    EXPECT_EQ(FILES().lookup("index-4204-*.fits")->size(), 48);
    EXPECT_EQ(*FILES().lookup("index-4219.fits"), QStringList{"index-4219.fits"});
}

TEST(IndexCatalogue, findsNothingForTitlesThatAreNotKeys) {
    EXPECT_FALSE(FILES().lookup("index-4207-00.fits"));
    EXPECT_FALSE(FILES().lookup("index-4106.fits"));
    EXPECT_FALSE(FILES().lookup(""));
    EXPECT_FALSE(FILES().lookup("index-4207-?.fits"));
}

TEST(IndexServer, classesFilesBySeriesPrefix) {
    EXPECT_EQ(IndexServer::seriesOf("index-4119.fits"), IndexSeries::s4100);
    EXPECT_EQ(IndexServer::seriesOf("index-4207-05.fits"), IndexSeries::s4200);
    EXPECT_FALSE(IndexServer::seriesOf("index-4307.fits"));
    EXPECT_FALSE(IndexServer::seriesOf("4119.fits"));
}

TEST(IndexServer, appendsFileNamesToTheSeriesBase) {
    qunsetenv("SIDERAMA_INDEX_URL_4100");
    qunsetenv("SIDERAMA_INDEX_URL_4200");
    EXPECT_TRUE(IndexServer::baseLocation(IndexSeries::s4100).endsWith("/4100/"));
    EXPECT_TRUE(IndexServer::baseLocation(IndexSeries::s4200).endsWith("/4200/"));
    EXPECT_EQ(IndexServer::locationOf("index-4119.fits")->toString(),
              IndexServer::baseLocation(IndexSeries::s4100) + "index-4119.fits");
    EXPECT_EQ(IndexServer::locationOf("index-4207-05.fits")->toString(),
              IndexServer::baseLocation(IndexSeries::s4200) + "index-4207-05.fits");
    EXPECT_FALSE(IndexServer::locationOf("other.fits"));
    EXPECT_EQ(IndexServer::readmeLocation().scheme(), "http");
}

TEST(IndexServer, takesBaseLocationsFromTheEnvironment) {
    qputenv("SIDERAMA_INDEX_URL_4100", "http://127.0.0.1:9/a/");
    qputenv("SIDERAMA_INDEX_URL_4200", "http://127.0.0.1:9/b/");
    EXPECT_EQ(IndexServer::locationOf("index-4110.fits")->toString(), "http://127.0.0.1:9/a/index-4110.fits");
    EXPECT_EQ(IndexServer::locationOf("index-4201-47.fits")->toString(), "http://127.0.0.1:9/b/index-4201-47.fits");
    qunsetenv("SIDERAMA_INDEX_URL_4100");
    qunsetenv("SIDERAMA_INDEX_URL_4200");
}

TEST(DistributionIndexes, findsTycho2FilesUnderTheirPackageNames) {
    QTemporaryDir directory;
    QFile(directory.filePath("index-tycho2-12.littleendian.fits")).open(QIODevice::WriteOnly);
    QFile(directory.filePath("index-4208.fits")).open(QIODevice::WriteOnly);
    const DistributionIndexes distribution(directory.path());
    EXPECT_EQ(distribution.sourceOf("index-4112.fits"), directory.filePath("index-tycho2-12.littleendian.fits"));
    EXPECT_EQ(distribution.sourceOf("index-4208.fits"), directory.filePath("index-4208.fits"));
    EXPECT_FALSE(distribution.sourceOf("index-4113.fits"));
    EXPECT_FALSE(distribution.sourceOf("index-4212.fits")) << "only series 4100 has Tycho-2 names";
}
