#include "indexes/IndexCatalogue.h"

namespace siderama {

namespace {

// Skymark diameters in arcminutes by scale number, the last two digits of
// the index number (the same for both series).
constexpr SkymarkRange skymarkRanges[] = {
    {2.0, 2.8},   {2.8, 4.0},   {4.0, 5.6},    {5.6, 8.0},     {8, 11},       {11, 16},     {16, 22},
    {22, 30},     {30, 42},     {42, 60},      {60, 85},       {85, 120},     {120, 170},   {170, 240},
    {240, 340},   {340, 480},   {480, 680},    {680, 1000},    {1000, 1400},  {1400, 2000},
};

QString wholeName(int index) { return QString("index-%1.fits").arg(index); }

IndexKey whole(int index, IndexSeries series) {
    return {wholeName(index), series, {wholeName(index)}, skymarkRanges[index % 100]};
}

IndexKey split(int index, int parts) {
    IndexKey entry{QString("index-%1-*.fits").arg(index), IndexSeries::s4200, {}, skymarkRanges[index % 100]};
    for (int part = 0; part < parts; ++part)
        entry.files << QString("index-%1-%2.fits").arg(index).arg(part, 2, 10, QChar('0'));
    return entry;
}

}  // namespace

IndexCatalogue::IndexCatalogue() {
    for (int index = 4219; index >= 4208; --index) entries_ << whole(index, IndexSeries::s4200);
    for (int index = 4207; index >= 4205; --index) entries_ << split(index, 12);
    for (int index = 4204; index >= 4200; --index) entries_ << split(index, 48);
    for (int index = 4119; index >= 4107; --index) entries_ << whole(index, IndexSeries::s4100);
}

QStringList IndexCatalogue::keys(IndexSeries series) const {
    QStringList keys;
    for (const IndexKey& entry : entries_)
        if (entry.series == series) keys << entry.key;
    return keys;
}

std::optional<QStringList> IndexCatalogue::lookup(const QString& key) const {
    if (const IndexKey* found = entry(key)) return found->files;
    return std::nullopt;
}

const IndexKey* IndexCatalogue::entry(const QString& key) const {
    for (const IndexKey& entry : entries_)
        if (entry.key == key) return &entry;
    return nullptr;
}

int IndexCatalogue::fileCount() const {
    int count = 0;
    for (const IndexKey& entry : entries_) count += int(entry.files.size());
    return count;
}

const IndexCatalogue& FILES() {
    static const IndexCatalogue catalogue;
    return catalogue;
}

}  // namespace siderama
