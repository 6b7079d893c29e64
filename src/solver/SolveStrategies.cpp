#include "solver/SolveStrategies.h"

#include "solver/WcsSummary.h"

#include <cmath>

namespace siderama {

namespace {

QString number(double value) { return QString::number(value, 'g', 8); }

// The whole image diagonal at the scale window's upper end, at least a
// degree: a smaller radius misses wide fields whose header position is the
// pointing rather than the centre.
double hintRadius(const SolveHint& hint, int width, int height) {
    if (hint.radius) return *hint.radius;
    return std::max(1.0, std::hypot(width, height) * hint.scale->second / 3600);
}

}  // namespace

// The stored words first, then the pipeline's own. There is no
// --no-verify-uniformize: it lets weak partial matches through, which on
// wide fields are solutions with a wrong centre and scale.
QStringList SolveStrategies::solveFieldWords(const QString& xyList, const QString& configFile) const {
    QStringList words = setup.userWords + QStringList{"--overwrite"};
    if (setup.noFits2Fits) words << "--no-fits2fits";
    return words << "--no-plots" << "--no-remove-lines" << "--sort-column" << "FLUX" << "--uniformize" << "0"
                 << "--config" << configFile << xyList;
}

SolveAttempt::Step SolveStrategies::extraction() const {
    return {"image2xy", {"-O", "-o", paths.xyList, paths.fits}, true};
}

SolveAttempt SolveStrategies::pipeline(bool extract) const {
    SolveAttempt attempt{"pipeline", {}, paths.wcs, paths.base + ".solved", paths.xyList, pipelineBudget, true, true};
    if (extract) attempt.steps.push_back(extraction());
    attempt.steps.push_back({"solve-field", solveFieldWords(paths.xyList, setup.config)});
    return attempt;
}

// The full-resolution list again, only widths from 20° up, every index at
// once: bright foregrounds, nebulosity and lens distortion of wide-angle
// photos make the all-scale search long and downsampling loses their stars.
SolveAttempt SolveStrategies::wide() const {
    const QString base = setup.workDir + "/wide";
    QStringList words = solveFieldWords(paths.xyList, setup.parallelConfig);
    words.removeLast();
    words << "--dir" << setup.workDir << "--out" << "wide" << "--scale-units" << "degwidth" << "--scale-low"
          << number(wideLow) << "--scale-high" << "180" << paths.xyList;
    return {"wide", {extraction(), {"solve-field", words}}, base + ".wcs", base + ".solved", paths.xyList,
            wideBudget, false};
}

SolveHint SolveStrategies::window(const SolveHint& hint, int width, int height) {
    SolveHint window = hint;
    if (window.ra) window.radius = hintRadius(hint, width, height);
    return window;
}

SolveAttempt SolveStrategies::hinted(const SolveHint& hint, int width, int height) const {
    SolveAttempt attempt = pipeline(true);
    attempt.name = "hinted pipeline";
    attempt.budget = hintedBudget;
    attempt.exhaustive = false;
    QStringList& words = attempt.steps.back().arguments;
    words.removeLast();
    words << window(hint, width, height).arguments() << paths.xyList;
    return attempt;
}

SolveAttempt SolveStrategies::fastXy(const std::optional<SolveHint>& window) const {
    const QString base = setup.workDir + "/fast";
    QStringList words = solveFieldWords(base + ".xy", setup.parallelConfig);
    words.removeLast();
    if (window) words << window->arguments();
    else words << "--scale-units" << "degwidth" << "--scale-low" << "1" << "--scale-high" << "180";
    words << "--objs" << "150" << base + ".xy";
    return {window ? "hinted fast xy" : "fast xy",
            {{"image2xy", {"-d", "2", "-O", "-o", base + ".xy", paths.fits}, true}, {"solve-field", words}},
            base + ".wcs",
            base + ".solved",
            base + ".xy",
            window ? hintedBudget : fastXyBudget,
            false};
}

SolveAttempt SolveStrategies::defaults(int downsample) const {
    QStringList words = setup.userWords + QStringList{"--overwrite", "--no-plots", "--dir", setup.workDir + "/defaults",
                                                      "--out", "image", "--config", setup.config};
    if (downsample > 1) words << "--downsample" << QString::number(downsample);
    const QString base = setup.workDir + "/defaults/image";
    return {"solve-field defaults", {{"solve-field", words << paths.fits}}, base + ".wcs", base + ".solved",
            base + ".axy", 0, false};
}

// A centred reference pixel and a third-order SIP fit, in a narrow window
// around the first solution: measured on 47° and 63° fields, this moves a
// centre that was 0.35–1.4° off to within 0.03°.
SolveAttempt SolveStrategies::secondLook(const WcsSummary& found, const QString& source) const {
    const QString base = setup.workDir + "/second";
    const auto window = scaleWindow(found.pixelScale, 0.05);
    QStringList words = solveFieldWords(source, setup.config);
    words.removeLast();
    words << "--dir" << setup.workDir << "--out" << "second" << "--crpix-center" << "--tweak-order" << "3"
          << "--scale-units" << "arcsecperpix" << "--scale-low" << number(window.first) << "--scale-high"
          << number(window.second) << "--ra" << number(found.ra) << "--dec" << number(found.dec) << "--radius"
          << number(std::max(found.fieldWidth, found.fieldHeight) / 4) << source;
    return {"second look", {{"solve-field", words}}, base + ".wcs", base + ".solved", source, 0, false};
}

// Taking turns, the hinted fast xy and the hinted pipeline come first, then
// the pipeline with a short budget (it solved the generated fields it can
// solve within 2.4–6.4 s), the wide search on the same list, "fast xy", and
// the defaults. Racing, "fast xy"
// runs alone first (with the hint's window first when there is one): on
// easy fields its downsampled extraction and 150 sources cost less than the
// pipeline's tools; the pipeline (hinted first) joins it when it has not
// solved within the race's delay, the wide search after another delay.
std::vector<std::vector<SolveAttempt>> SolveStrategies::lanes(const std::optional<SolveHint>& hint, int width,
                                                              int height, int downsample, bool racing) const {
    const bool hinting = hint && hint->isUsable();
    std::vector<SolveAttempt> first, second;
    if (hinting) first.push_back(fastXy(window(*hint, width, height)));
    if (hinting) second.push_back(hinted(*hint, width, height));
    if (!racing) {
        first.insert(first.end(), second.begin(), second.end());
        first.insert(first.end(), {pipeline(true), wide(), fastXy(), defaults(downsample)});
        return {first};
    }
    first.insert(first.end(), {fastXy(), defaults(downsample)});
    second.push_back(pipeline(true));
    second.back().budget = 0;
    return {first, second, {wide()}};
}

}  // namespace siderama
