#include "remote/api/JobSolver.h"

#include "core/Constants.h"
#include "imaging/Convert.h"
#include "remote/api/JobTools.h"
#include "remote/api/StarList.h"
#include "solver/SolveFieldOptions.h"

#include <QFile>
#include <QFileInfo>
#include <fitsio.h>

namespace siderama {

namespace {

// A FITS file whose primary HDU is an image of two or more axes.
bool isFitsImage(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.read(9).startsWith("SIMPLE  =")) return false;
    fitsfile* fits = nullptr;
    int status = 0, axes = 0;
    const QByteArray name = QFile::encodeName(path);
    if (fits_open_diskfile(&fits, name.constData(), READONLY, &status) != 0) return false;
    fits_get_img_dim(fits, &axes, &status);
    const bool image = status == 0 && axes >= 2;
    status = 0;
    fits_close_file(fits, &status);
    return image;
}

}  // namespace

JobSolver::JobSolver(QString input, QString directory, QStringList hintOptions)
    : input(std::move(input)), directory(std::move(directory)), hintOptions(std::move(hintOptions)) {}

JobSolver::Prepared JobSolver::prepare(const ApiArguments& arguments, JobTools& tools) {
    const QString image = directory + "/image.fits";
    if (isFitsImage(input)) {
        if (!QFile::link(input, image)) throw JobFailure("Can't prepare the job directory");
        return {image, {"--fits-image"}, false};
    }
    if (std::optional<StarList> stars = StarList::fromFile(input)) {
        stars->settleSize(arguments);
        const QString table = directory + "/stars.xyls";
        if (!stars->writeTable(table)) throw JobFailure("Can't write the star list");
        tools.note(QString("Star list of %1 positions, image %2 x %3")
                       .arg(stars->x.size()).arg(stars->width).arg(stars->height));
        return {table, {"--width", QString::number(stars->width), "--height", QString::number(stars->height)}, false};
    }
    if (!Convert(input, image))
        throw JobFailure("Unsupported data: neither an image, a FITS table of X and Y nor a list of x y lines");
    return {image, {"--fits-image"}, true};
}

QStringList JobSolver::solveFieldArguments(const Prepared& prepared) const {
    QStringList arguments = hintOptions + prepared.options;
    // No step that needs the suite's Python modules (line removal, uniformizing).
    arguments << "--dir" << directory << "--out" << "job" << "--overwrite" << "--no-plots" << "--no-remove-lines"
              << "--uniformize" << "0" << "--config" << CONFIG();
    if (solveFieldSupports(toolsDirectory() + "/solve-field", "--no-fits2fits")) arguments << "--no-fits2fits";
    return arguments << prepared.file;
}

Calibration JobSolver::solve(const ApiArguments& arguments, JobTools& tools) {
    const Prepared prepared = prepare(arguments, tools);
    tools.run("solve-field", solveFieldArguments(prepared));
    const QString wcs = directory + "/job.wcs";
    if (!QFileInfo::exists(directory + "/job.solved") || !QFileInfo::exists(wcs))
        throw JobFailure("No solution found");
    const std::optional<Calibration> calibration =
        Calibration::fromWcsinfo(tools.run("wcsinfo", {wcs}), prepared.topRowFirst);
    if (!calibration) throw JobFailure("wcsinfo gave no calibration");
    return *calibration;
}

}  // namespace siderama
