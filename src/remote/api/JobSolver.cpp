#include "remote/api/JobSolver.h"

#include "core/Constants.h"
#include "imaging/Convert.h"
#include "remote/api/JobTools.h"
#include "remote/api/SolveHints.h"
#include "remote/api/StarList.h"
#include "solver/SolveFieldOptions.h"
#include "solver/SolvePaths.h"

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

JobSolver::JobSolver(QString input, QString directory, SolveOptions hints, Limit limit)
    : input(std::move(input)), directory(std::move(directory)), hints(std::move(hints)), limit(std::move(limit)) {}

JobSolver::Prepared JobSolver::prepare(const ApiArguments& arguments, JobTools& tools) {
    const QString image = directory + "/job.fits";
    if (isFitsImage(input)) {
        if (!QFile::link(input, image)) throw JobFailure("Can't prepare the job directory");
        return {image, {}, false};
    }
    if (std::optional<StarList> stars = StarList::fromFile(input)) {
        stars->settleSize(arguments);
        const QString table = directory + "/stars.xyls";
        if (!stars->writeTable(table)) throw JobFailure("Can't write the star list");
        tools.note(QString("Star list of %1 positions, image %2 x %3")
                       .arg(stars->x.size()).arg(stars->width).arg(stars->height));
        return {table, {"--width", QString::number(stars->width), "--height", QString::number(stars->height)}, false,
                false};
    }
    if (!Convert(input, image))
        throw JobFailure("Unsupported data: neither an image, a FITS table of X and Y nor a list of x y lines");
    return {image, {}, true};
}

// The portfolio leaves the solution at job.wcs, job.corr, job.rdls, job.axy;
// new-wcs writes the image with it.
void JobSolver::solveImage(const QString& image, JobTools& tools) const {
    const SolvePaths paths(image);
    const QString failure = tools.solve(paths, hints, limit.deadline);
    if (failure == "time limit") throw JobFailure(limit.text);
    if (failure == "solve-field found no solution") throw JobFailure("No solution found");
    if (!failure.isEmpty()) throw JobFailure(failure);
    tools.run("new-wcs", {"-d", "-i", paths.fits, "-o", directory + "/job.new", "-w", paths.wcs});
}

void JobSolver::solveStarList(const Prepared& prepared, JobTools& tools) const {
    QStringList arguments = solveFieldHintWords(hints) + prepared.options;
    // No step that needs the suite's Python modules (line removal, uniformizing).
    arguments << "--dir" << directory << "--out" << "job" << "--overwrite" << "--no-plots" << "--no-remove-lines"
              << "--uniformize" << "0" << "--config" << CONFIG();
    if (solveFieldSupports(toolsDirectory() + "/solve-field", "--no-fits2fits")) arguments << "--no-fits2fits";
    tools.run("solve-field", arguments << prepared.file);
    if (!QFileInfo::exists(directory + "/job.solved")) throw JobFailure("No solution found");
}

Calibration JobSolver::solve(const ApiArguments& arguments, JobTools& tools) {
    const Prepared prepared = prepare(arguments, tools);
    if (prepared.image) solveImage(prepared.file, tools);
    else solveStarList(prepared, tools);
    const QString wcs = directory + "/job.wcs";
    if (!QFileInfo::exists(wcs)) throw JobFailure("No solution found");
    // The portfolio already read an image's solution with wcsinfo.
    const QString info = prepared.image ? tools.solutionInfo() : tools.run("wcsinfo", {wcs});
    const std::optional<Calibration> calibration = Calibration::fromWcsinfo(info, prepared.topRowFirst);
    if (!calibration) throw JobFailure("wcsinfo gave no calibration");
    return *calibration;
}

}  // namespace siderama
