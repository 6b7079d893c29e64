#include "app/CommandLine.h"

namespace siderama {

namespace {

bool isIndexOption(const QString& word) {
    return word == "--indexes" || word == "--fetch-index" || word == "--remove-index";
}

CommandLine failure(const QString& error) {
    CommandLine line;
    line.action = CommandLine::Action::error;
    line.error = error;
    return line;
}

// Takes "--port N" out of `words` into `port`; false when N is no port number.
bool takePort(QStringList& words, int& port) {
    const qsizetype at = words.indexOf("--port");
    if (at < 0) return true;
    bool ok = false;
    port = at + 1 < words.size() ? words[at + 1].toInt(&ok) : 0;
    words.remove(at, std::min<qsizetype>(2, words.size() - at));
    return ok && port > 0 && port < 65536;
}

}  // namespace

CommandLine CommandLine::parse(const QStringList& arguments) {
    QStringList words = arguments.mid(1);
    int port = 0;
    if (!takePort(words, port)) return failure("--port needs a number from 1 to 65535");
    CommandLine line = parseWords(words);
    line.port = port;
    return line;
}

CommandLine CommandLine::parseWords(const QStringList& words) {
    CommandLine line;
    if (words.isEmpty()) return line;
    const QString& first = words.first();
    if (first == "-h" || first == "--help") line.action = Action::help;
    else if (first == "-v" || first == "--version") line.action = Action::version;
    else if (isIndexOption(first)) {
        line.action = Action::indexCommand;
        line.indexArguments = words;
        return line;
    } else if (first == "--headless") line.action = Action::headless;
    else if (first == "--solve") {
        if (words.size() != 2) return failure("--solve needs exactly one image file");
        line.action = Action::solve;
        line.file = words[1];
        return line;
    } else if (first.startsWith('-')) return failure("unknown option " + first);
    else line.file = first;
    if (words.size() > 1) return failure("too many arguments");
    return line;
}

QString CommandLine::usage() {
    return "Usage: siderama [IMAGE]\n"
           "       siderama --headless [--port N]\n"
           "       siderama --solve IMAGE\n"
           "       siderama --indexes | --fetch-index KEY... | --remove-index KEY...\n"
           "\n"
           "Plate-solves astronomical images (FITS, JPEG, PNG, TIFF, raw frames).\n"
           "\n"
           "  IMAGE                 open the solver window and solve IMAGE\n"
           "  --headless            no window: log to standard output, serve the\n"
           "                        remote solving API until interrupted\n"
           "  --port N              serve HTTP on port N (default: the user default\n"
           "                        http-port, else a port the system chooses)\n"
           "  --solve IMAGE         solve IMAGE in the terminal; exit status 0 when solved\n"
           "  --indexes             list the index files and whether they are installed\n"
           "  --fetch-index KEY...  install the index files of the given keys\n"
           "  --remove-index KEY... move the index files of the given keys to the Trash\n"
           "  -h, --help            show this help\n"
           "  -v, --version         show the version\n";
}

}  // namespace siderama
