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
    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        return failure(unknown.isEmpty() ? parser.errorText() : "unknown option " + dashed(unknown.first()));
    }
    if (parser.optionNames().size() > 1) return failure("too many arguments");
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
    if (words.size() > (line.action == Action::window || line.action == Action::solve ? 1 : 0))
        return failure("too many arguments");
    line.file = words.value(0);
    return line;
}

QString CommandLine::usage() {
    return "Usage: siderama [IMAGE]\n"
           "       siderama --headless\n"
           "       siderama --solve IMAGE\n"
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
           "  -v, --version         show the version\n";
}

}  // namespace siderama
