// Siderama's overhead over the bare plate-solving tools: the same generated
// fields solved (a) by running image2xy, solve-field, new-wcs and wcsinfo
// directly with the pipeline's arguments and (b) through `siderama --solve`
// with the strategies taking turns (the pipeline is the first of them) and no
// camera memory, so both run the same tools on the same lists.
// Prints the median time of each and their ratio.
#include "BenchHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int rounds = 3;

bool run(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment) {
    QProcess process;
    process.setProcessEnvironment(environment);
    process.setStandardOutputFile("/dev/null");
    process.setStandardErrorFile("/dev/null");
    process.start(program, arguments);
    return process.waitForFinished(-1) && process.exitCode() == 0;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The four tools as the pipeline runs them, on a FITS field.
bool solveDirectly(const QString& fits, const QString& config, const QProcessEnvironment& environment) {
    const QString base = fits.chopped(5), tools = TOOLS_DIR;
    return run(tools + "/image2xy", {"-O", "-o", base + ".xy", fits}, environment) &&
           run(tools + "/solve-field",
               {"--overwrite", "--no-plots", "--no-remove-lines", "--sort-column",
                "FLUX", "--uniformize", "0", "--config", config, base + ".xy"},
               environment) &&
           run(tools + "/new-wcs", {"-v", "-d", "-i", fits, "-o", base + "_wcs.fits", "-w", base + ".wcs"},
               environment) &&
           run(tools + "/wcsinfo", {base + ".wcs"}, environment);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QTemporaryDir home;
    const QProcessEnvironment environment = benchEnvironment(home);
    const QString folder = home.filePath("data/Siderama");

    const QList<QStringList> fields{{"83.8", "-5.4", "36", "30"}, {"201.3", "-43.0", "40", "75"},
                                    {"56.8", "24.1", "30", "315"}};
    std::vector<double> direct, throughSiderama;
    for (int i = 0; i < fields.size(); ++i) {
        const QString fits = home.filePath(QString("field%1.fits").arg(i));
        const QStringList& f = fields[i];
        run(SKYFIELD, {"--ra", f[0], "--dec", f[1], "--scale", f[2], "--rotation", f[3], "--width", "900",
                       "--height", "700", "--format", "fits", "--out", fits}, environment);
        // A first solve writes the configuration and warms the file cache.
        run(SIDERAMA, {"--solve", fits}, environment);
        for (int round = 0; round < rounds; ++round) {
            QElapsedTimer clock;
            clock.start();
            if (!solveDirectly(fits, folder + "/siderama.cfg", environment)) std::printf("direct solve failed\n");
            direct.push_back(clock.nsecsElapsed() / 1e9);
            QSettings(home.filePath("config/Siderama/Siderama.conf"), QSettings::IniFormat).remove("cameras");
            clock.restart();
            if (!run(SIDERAMA, {"--racing", "off", "--solve", fits}, environment))
                std::printf("siderama --solve failed\n");
            throughSiderama.push_back(clock.nsecsElapsed() / 1e9);
        }
    }
    const double a = median(direct), b = median(throughSiderama);
    std::printf("solves per method          %zu\n", direct.size());
    std::printf("bare tools, median         %.3f s\n", a);
    std::printf("siderama --solve, median   %.3f s\n", b);
    std::printf("ratio                      %.3f (overhead %+.1f%%, %+.0f ms; target <= 3%% or +30 ms)\n", b / a,
                (b / a - 1) * 100, (b - a) * 1000);
    return 0;
}
