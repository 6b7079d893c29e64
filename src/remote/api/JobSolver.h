#pragma once

#include "remote/api/Calibration.h"

#include <QString>
#include <QStringList>

namespace siderama {

class ApiArguments;
class JobTools;

// Solves one API job: takes the uploaded data (an image in any format the
// window solves, a FITS star table, or an "x y" text list), prepares it in
// the job directory, runs solve-field with the hints and reads the solution
// with wcsinfo. Result files are named job.wcs, job.new, job.corr, ...
class JobSolver {
public:
    JobSolver(QString input, QString directory, QStringList hintOptions);

    // Throws JobFailure with the reason when there is no calibration.
    Calibration solve(const ApiArguments& arguments, JobTools& tools);

private:
    // The file solve-field reads and its extra options; whether the image's
    // first row is its top one.
    struct Prepared {
        QString file;
        QStringList options;
        bool topRowFirst = false;
    };
    Prepared prepare(const ApiArguments& arguments, JobTools& tools);
    QStringList solveFieldArguments(const Prepared& prepared) const;

    QString input;
    QString directory;
    QStringList hintOptions;
};

}  // namespace siderama
