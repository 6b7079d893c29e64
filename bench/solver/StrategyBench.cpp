// Time to a right answer on generated fields of several kinds, side by side:
//  (a) bare `solve-field` with its defaults on the image,
//  (b) the fixed pipeline alone (image2xy list sorted by flux, uniformize 0,
//      --no-verify-uniformize), as the four tools were run before,
//  (c) `siderama --solve` (the portfolio), with no hints,
//  (d) `siderama --solve` again on the same image: the camera memory hints,
//  (e) with a second Siderama given as the argument (an earlier build), its
//      `--solve` as in (c), side by side.
// Photo-like fields are wide-angle JPEGs with lens distortion, vignetting, a
// sky gradient, a band of diffuse light and a bright foreground disc; (b)
// reads a FITS of the same field without the JPEG compression.
// A field is right when the centre lies within 0.5 % of the field's larger
// side of the truth and the pixel scale within 1 %.
//
//   bench_strategies [OTHER_SIDERAMA]
#include "BenchHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace {

constexpr int capSeconds = 120;  // a run still going then counts as failed

struct Field {
    const char* name;
    QStringList skyfield;  // generator arguments
};

struct Answer {
    double seconds = capSeconds;
    std::optional<double> ra, dec, scale;
};

struct Truth {
    double ra, dec, scale, side;  // side: larger field side in degrees
};

QProcessEnvironment environment;

QString run(const QString& program, const QStringList& arguments, bool* ok = nullptr) {
    return runProgram(environment, program, arguments, ok);
}

// The capped command, ended with its whole process group by timeout(1).
double timed(const QString& program, const QStringList& arguments, QString* output = nullptr) {
    QElapsedTimer clock;
    clock.start();
    const QString text = run("timeout", QStringList{QString::number(capSeconds), program} + arguments);
    if (output) *output = text;
    return std::min<double>(clock.nsecsElapsed() / 1e9, capSeconds);
}

double value(const QString& text, const QString& key) {
    const QRegularExpression pattern("^" + key + "\\s+(\\S+)", QRegularExpression::MultilineOption);
    return pattern.match(text).captured(1).toDouble();
}

Answer fromWcs(double seconds, const QString& wcs) {
    Answer answer;
    answer.seconds = seconds;
    if (!QFile::exists(wcs)) return answer;
    const QString info = run(TOOLS_DIR "/wcsinfo", {wcs});
    answer.ra = value(info, "ra_center");
    answer.dec = value(info, "dec_center");
    answer.scale = value(info, "pixscale");
    return answer;
}

Answer bare(const QString& fits, const QString& config, const QString& dir) {
    QDir().mkpath(dir);
    const double seconds = timed(TOOLS_DIR "/solve-field",
                                 {"--overwrite", "--no-plots", "--dir", dir, "--out", "a", "--config", config, fits});
    return fromWcs(seconds, dir + "/a.wcs");
}

Answer pipeline(const QString& fits, const QString& config, const QString& dir) {
    QDir().mkpath(dir);
    QElapsedTimer clock;
    clock.start();
    run(TOOLS_DIR "/image2xy", {"-O", "-o", dir + "/b.xy", fits});
    timed(TOOLS_DIR "/solve-field", {"--overwrite", "--no-plots", "--no-remove-lines", "--no-verify-uniformize",
                                     "--sort-column", "FLUX", "--uniformize", "0", "--config", config, dir + "/b.xy"});
    return fromWcs(std::min<double>(clock.nsecsElapsed() / 1e9, capSeconds), dir + "/b.wcs");
}

Answer siderama(const QString& fits, const QString& program = SIDERAMA) {
    QString output;
    const double seconds = timed(program, {"--solve", "--json", fits}, &output);
    // The log went to standard error; the one JSON object is the last line.
    const QJsonObject json = QJsonDocument::fromJson(output.trimmed().split('\n').last().toUtf8()).object();
    if (json["status"].toString() != "solved") return {seconds, {}, {}, {}};
    return {seconds, json["ra"].toDouble(), json["dec"].toDouble(), json["pixscale"].toDouble()};
}

bool right(const Answer& answer, const Truth& truth) {
    if (!answer.ra || answer.seconds >= capSeconds) return false;
    constexpr double radian = std::numbers::pi / 180;
    const double cosine = std::sin(*answer.dec * radian) * std::sin(truth.dec * radian) +
                          std::cos(*answer.dec * radian) * std::cos(truth.dec * radian) *
                              std::cos((*answer.ra - truth.ra) * radian);
    const double distance = std::acos(std::clamp(cosine, -1.0, 1.0)) / radian;
    return distance <= 0.005 * truth.side && std::abs(*answer.scale / truth.scale - 1) <= 0.01;
}

QString cell(const Answer& answer, const Truth& truth) {
    return QString("%1 %2").arg(answer.seconds, 7, 'f', 2).arg(right(answer, truth) ? "ok   " : "WRONG");
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QTemporaryDir home;
    environment = benchEnvironment(home);
    const QString folder = home.filePath("data/Siderama");
    const QString config = folder + "/siderama.cfg";

    const QList<Field> fields{
        {"Orion 12°, 36\"/px", {"--ra", "83.8", "--dec", "-5.4", "--scale", "36", "--rotation", "30", "--width", "1200", "--height", "900"}},
        {"Centaurus 5°, 12\"/px", {"--ra", "201.3", "--dec", "-43", "--scale", "12", "--rotation", "75", "--width", "1600", "--height", "1200"}},
        {"8°, 36\"/px", {"--ra", "56.8", "--dec", "24.1", "--scale", "36", "--rotation", "315", "--width", "800", "--height", "600"}},
        {"Vela 11° + 12 blobs", {"--ra", "128", "--dec", "-45", "--scale", "20", "--rotation", "200", "--width", "2000", "--height", "1500", "--blobs", "12"}},
        {"Ursa Major 47°", {"--ra", "165", "--dec", "56", "--scale", "170", "--rotation", "10", "--width", "1000", "--height", "700"}},
        {"63° wide, distorted", {"--ra", "90", "--dec", "20", "--scale", "284", "--rotation", "0", "--width", "800", "--height", "600", "--distortion", "-0.08"}},
        {"photo Orion 64° JPEG", {"--ra", "83.8", "--dec", "2", "--scale", "256", "--rotation", "15", "--width", "900", "--height", "675", "--distortion", "-0.06", "--vignetting", "0.5", "--gradient", "0.15", "--band", "0.4", "--foreground", "0.3", "--blobs", "2", "--seed", "3"}},
        {"photo Orion, EXIF 32 mm", {"--ra", "83.8", "--dec", "2", "--scale", "256", "--rotation", "15", "--width", "900", "--height", "675", "--distortion", "-0.06", "--vignetting", "0.5", "--gradient", "0.15", "--band", "0.4", "--foreground", "0.3", "--blobs", "2", "--seed", "4", "--focal", "32", "--pitch", "40"}},
        {"photo Cygnus 45° JPEG", {"--ra", "305", "--dec", "40", "--scale", "135", "--rotation", "70", "--width", "1200", "--height", "800", "--distortion", "-0.04", "--vignetting", "0.4", "--gradient", "0.2", "--band", "0.6", "--foreground", "0.25", "--seed", "5"}},
        {"photo Scorpius 30° JPEG", {"--ra", "255", "--dec", "-30", "--scale", "68", "--rotation", "280", "--width", "1600", "--height", "1200", "--distortion", "-0.03", "--vignetting", "0.3", "--gradient", "0.3", "--band", "0.5", "--foreground", "0.2", "--blobs", "3", "--seed", "7"}},
    };
    const QString other = argc > 1 ? QString(argv[1]) : QString();
    std::printf("%-24s | %-15s | %-15s | %-15s | %-15s | %-15s | %s\n", "field (seconds, right)", "(a) solve-field",
                "(b) pipeline", "(c) siderama", "(d) 2nd, hinted", "(e) other", "c/a");
    double sumA = 0, sumB = 0, sumC = 0, sumD = 0, sumE = 0, worst = 0;
    int wrong = 0;
    for (int i = 0; i < fields.size(); ++i) {
        const bool photo = fields[i].skyfield.contains("--foreground");
        const QString fits = home.filePath(QString("field%1.fits").arg(i));
        const QString image = photo ? home.filePath(QString("field%1.jpg").arg(i)) : fits;
        bool made = false;
        const QJsonObject json = QJsonDocument::fromJson(
            run(SKYFIELD, fields[i].skyfield + QStringList{"--out", fits}, &made).toUtf8()).object();
        if (photo) run(SKYFIELD, fields[i].skyfield + QStringList{"--format", "jpg", "--quality", "75", "--out", image});
        const double scale = json["scale"].toDouble();
        const Truth truth{json["ra"].toDouble(), json["dec"].toDouble(), scale,
                          std::max(json["width"].toDouble(), json["height"].toDouble()) * scale / 3600};
        // Each field starts with fresh user defaults: no camera memory.
        environment.insert("XDG_CONFIG_HOME", home.filePath(QString("config%1").arg(i)));
        const Answer c = siderama(image);  // writes the solver configuration first
        const Answer d = siderama(image);
        const Answer a = bare(image, config, home.filePath(QString("a%1").arg(i)));
        const Answer b = pipeline(fits, config, home.filePath(QString("b%1").arg(i)));
        Answer e;
        if (!other.isEmpty()) {
            environment.insert("XDG_CONFIG_HOME", home.filePath(QString("other%1").arg(i)));
            e = siderama(image, other);
        }
        std::printf("%-24s | %s | %s | %s | %s | %s | %.2f\n", fields[i].name, qPrintable(cell(a, truth)),
                    qPrintable(cell(b, truth)), qPrintable(cell(c, truth)), qPrintable(cell(d, truth)),
                    other.isEmpty() ? "      -        " : qPrintable(cell(e, truth)), c.seconds / a.seconds);
        std::fflush(stdout);
        sumA += a.seconds, sumB += b.seconds, sumC += c.seconds, sumD += d.seconds, sumE += other.isEmpty() ? 0 : e.seconds;
        worst = std::max(worst, c.seconds / a.seconds);
        wrong += !right(c, truth) + !right(d, truth);
    }
    std::printf("%-24s | %7.2f         | %7.2f         | %7.2f         | %7.2f         | %7.2f         | %.2f\n",
                "sum", sumA, sumB, sumC, sumD, sumE, sumC / sumA);
    std::printf("(c) worst field %.2f x (a) (target <= 1.2), sum %.2f x (a) (target <= 0.5); "
                "wrong or missing answers from siderama: %d (target 0); failures count as %d s\n",
                worst, sumC / sumA, wrong, capSeconds);
    return 0;
}
