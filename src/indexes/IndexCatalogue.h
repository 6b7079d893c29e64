#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace siderama {

// The two series of index files the program offers.
enum class IndexSeries { s4100, s4200 };

// The range of skymark (quad) diameters of an index, in arcminutes, as the
// index files' documentation gives it beside each file title.
struct SkymarkRange {
    double smallest = 0;
    double largest = 0;
};

// One catalogue entry: a check-box title and the file names it stands for.
// A split index has a literal "*" in its key in place of the part number.
struct IndexKey {
    QString key;
    IndexSeries series;
    QStringList files;  // ascending part order
    SkymarkRange skymarks;
};

// The built-in catalogue of index files (FILES): 33 keys, 301 file names.
// Built once, never changed.
class IndexCatalogue {
public:
    // Every key, series 4200 (4219 down to 4200) then 4100 (4119 down to 4107).
    const QList<IndexKey>& entries() const { return entries_; }
    // The keys of one series, in their order.
    QStringList keys(IndexSeries series) const;
    // The files of a key; nothing for a title that is not a key.
    std::optional<QStringList> lookup(const QString& key) const;
    const IndexKey* entry(const QString& key) const;
    int fileCount() const;

private:
    friend const IndexCatalogue& FILES();
    IndexCatalogue();
    QList<IndexKey> entries_;
};

const IndexCatalogue& FILES();

}  // namespace siderama
