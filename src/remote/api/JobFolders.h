#pragma once

#include <QString>

namespace siderama {

// Where API jobs keep their files: ROOT/submissions/N holds an upload as
// received ("input"), ROOT/jobs/N a job's work, results and log.
class JobFolders {
public:
    explicit JobFolders(QString root) : root(std::move(root)) {}

    QString database() const { return root + "/jobs.sqlite"; }
    QString submission(int id) const { return root + "/submissions/" + QString::number(id); }
    QString input(int submission) const { return this->submission(submission) + "/input"; }
    QString job(int id) const { return root + "/jobs/" + QString::number(id); }
    // A file of a job, by the suffix solve-field gives it: "wcs", "new", ...
    QString result(int job, const QString& suffix) const { return this->job(job) + "/job." + suffix; }
    QString log(int job) const { return this->job(job) + "/job.log"; }

private:
    QString root;
};

}  // namespace siderama
