#pragma once

#include "remote/api/Calibration.h"
#include "solver/SolveOptions.h"

#include <QString>
#include <QStringList>
#include <chrono>

namespace siderama {

class ApiArguments;
class JobTools;

// Solves one API job: takes the uploaded data (an image in any format the
// window solves, a FITS star table, or an "x y" text list), prepares it in
// the job directory, solves an image with the solving portfolio and a star
// list with one solve-field run, both with the hints, and reads the solution
// with wcsinfo. Result files are named job.wcs, job.new, job.corr, ...
class JobSolver {
public:
    // The solve ends at `deadline` with the failure `text`.
    struct Limit {
        std::chrono::steady_clock::time_point deadline;
        QString text;
    };
    JobSolver(QString input, QString directory, SolveOptions hints, Limit limit);

    // Throws JobFailure with the reason when there is no calibration.
    Calibration solve(const ApiArguments& arguments, JobTools& tools);

private:
    // The file to solve and, for a star list, its solve-field size options;
    // whether the image's first row is its top one.
    struct Prepared {
        QString file;
        QStringList options;
        bool topRowFirst = false;
        bool image = true;
    };
    Prepared prepare(const ApiArguments& arguments, JobTools& tools);
    void solveImage(const QString& image, JobTools& tools) const;
    void solveStarList(const Prepared& prepared, JobTools& tools) const;

    QString input;
    QString directory;
    SolveOptions hints;
    Limit limit;
};

}  // namespace siderama
