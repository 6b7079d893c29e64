#include "indexes/IndexCatalogue.h"

#include <QSet>
#include <gtest/gtest.h>

using namespace siderama;

// 33 keys, 301 files: the 4100 series whole, the 4200 series whole from
// 4208 up, in 12 parts for 4205-4207 and in 48 tiles below.
TEST(IndexCatalogue, KeysAndTheirFiles) {
    EXPECT_EQ(FILES().entries().size(), 33);
    EXPECT_EQ(FILES().fileCount(), 301);
    QStringList all;
    for (const IndexKey& entry : FILES().entries()) all += entry.files;
    EXPECT_EQ(QSet<QString>(all.begin(), all.end()).size(), 301) << "no file name twice";
    const QStringList keys4100 = FILES().keys(IndexSeries::s4100);
    const QStringList keys4200 = FILES().keys(IndexSeries::s4200);
    EXPECT_EQ(QStringList({keys4100.first(), keys4100.last(), keys4200[0], keys4200[11], keys4200[12], keys4200.last()}),
              QStringList({"index-4119.fits", "index-4107.fits", "index-4219.fits", "index-4208.fits",
                           "index-4207-*.fits", "index-4200-*.fits"}));
    EXPECT_EQ(keys4100.size() + keys4200.size(), 33);
    const QStringList parts = *FILES().lookup("index-4207-*.fits");
    EXPECT_EQ(QStringList({parts.first(), parts[5], parts.last()}),
              QStringList({"index-4207-00.fits", "index-4207-05.fits", "index-4207-11.fits"}));
    EXPECT_EQ(FILES().lookup("index-4204-*.fits")->last(), "index-4204-47.fits");
    for (const char* title : {"index-4207-00.fits", "index-4106.fits", "", "index-4207-?.fits"})
        EXPECT_FALSE(FILES().lookup(title)) << title;
}
