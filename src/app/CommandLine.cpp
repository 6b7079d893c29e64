#include "app/CommandLine.h"

#include <QCommandLineParser>

namespace siderama {

namespace {

CommandLine failure(const QString& error) {
    CommandLine line;
    line.action = CommandLine::Action::error;
    line.error = error;
    return line;
}

QString dashed(const QString& name) { return (name.size() == 1 ? "-" : "--") + name; }

}  // namespace

// Every option is a flag; the image and the index keys are the positional
// arguments. One action at a time.
CommandLine CommandLine::parse(const QStringList& arguments) {
    const QCommandLineOption help(QStringList{"h", "help"}), version(QStringList{"v", "version"});
    const QCommandLineOption headless("headless"), solve("solve");
    const QList<QCommandLineOption> indexOptions{QCommandLineOption("indexes"), QCommandLineOption("fetch-index"),
                                                 QCommandLineOption("remove-index")};
    QCommandLineParser parser;
    parser.addOptions({help, version, headless, solve});
    parser.addOptions(indexOptions);
    for (const QString& name : SolveOptions::names) parser.addOption(QCommandLineOption(name, {}, "value"));
    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        return failure(unknown.isEmpty() ? parser.errorText() : "unknown option " + dashed(unknown.first()));
    }
    QList<std::pair<QString, QString>> solveFlags;
    SolveOptions check;
    for (const QString& name : SolveOptions::names) {
        if (!parser.isSet(name)) continue;
        if (const QString problem = check.set(name, parser.value(name)); !problem.isEmpty()) return failure(problem);
        solveFlags.append({name, parser.value(name)});
    }
    if (parser.optionNames().size() - solveFlags.size() > 1) return failure("too many arguments");
    const QStringList words = parser.positionalArguments();
    CommandLine line;
    if (parser.isSet(help)) line.action = Action::help;
    else if (parser.isSet(version)) line.action = Action::version;
    for (const QCommandLineOption& option : indexOptions) {
        if (!parser.isSet(option)) continue;
        line.action = Action::indexCommand;
        line.indexArguments = QStringList{dashed(option.names().first())} + words;
        return line;
    }
    if (parser.isSet(solve)) {
        if (words.size() != 1) return failure("--solve needs exactly one image file");
        line.action = Action::solve;
    } else if (parser.isSet(headless)) {
        line.action = Action::headless;
    }
    if (!solveFlags.isEmpty() && line.action != Action::solve && line.action != Action::window)
        return failure("solve options go with --solve IMAGE or IMAGE");
    line.solveFlags = solveFlags;
    if (words.size() > (line.action == Action::window || line.action == Action::solve ? 1 : 0))
        return failure("too many arguments");
    line.file = words.value(0);
    return line;
}

SolveOptions CommandLine::solveOptions() const {
    SolveOptions options = SolveOptions::load();
    for (const auto& [name, value] : solveFlags) options.set(name, value);
    return options;
}

QString CommandLine::usage() {
    return "Usage: siderama [IMAGE]\n"
           "       siderama --headless\n"
           "       siderama [SOLVE OPTIONS] --solve IMAGE\n"
           "       siderama --indexes | --fetch-index KEY... | --remove-index KEY...\n"
           "\n"
           "Plate-solves astronomical images (FITS, JPEG, PNG, TIFF, raw frames).\n"
           "\n"
           "  IMAGE                 open the solver window and solve IMAGE\n"
           "  --headless            no window: log to standard output, serve the\n"
           "                        remote solving API until interrupted\n"
           "  --solve IMAGE         solve IMAGE in the terminal; exit status 0 when solved\n"
           "  --indexes             list the index files and whether they are installed\n"
           "  --fetch-index KEY...  install the index files of the given keys\n"
           "  --remove-index KEY... move the index files of the given keys to the Trash\n"
           "  -h, --help            show this help\n"
           "  -v, --version         show the version\n"
           "\n"
           "Solve options (over the ones stored in the window's options panel):\n"
           "  --scale-units U       arcsecperpix, arcminwidth or degwidth\n"
           "  --scale-low N, --scale-high N\n"
           "                        the scale range, tried first\n"
           "  --ra DEG --dec DEG [--radius DEG]\n"
           "                        where the field points, tried with the scale\n"
           "  --downsample N        downsampling for solve-field's own extraction (0: auto)\n"
           "  --time-limit S        give up after S seconds (default 300)\n"
           "  --racing on|off       race two strategies on two cores (default on)\n";
}

}  // namespace siderama
