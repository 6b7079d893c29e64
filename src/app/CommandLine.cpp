#include "app/CommandLine.h"

#include "remote/ServerSettings.h"

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

// Takes "--name N" or "--name=N" out of `words` into `port`; false when
// its value is no port number.
bool takePort(QStringList& words, const QString& name, std::optional<std::uint16_t>& port) {
    for (qsizetype i = 0; i < words.size(); ++i) {
        QString value;
        if (words[i] == name && i + 1 < words.size()) value = words.takeAt(i + 1);
        else if (words[i].startsWith(name + "=")) value = words[i].mid(name.size() + 1);
        else continue;
        words.removeAt(i);
        port = ServerSettings::parsePort(value);
        return port.has_value();
    }
    return true;
}

}  // namespace

CommandLine CommandLine::parse(const QStringList& arguments) {
    CommandLine line;
    QStringList words = arguments.mid(1);
    if (!takePort(words, "--port", line.port)) return failure("--port needs a port number from 0 to 65535");
    if (!takePort(words, "--tls-port", line.tlsPort)) return failure("--tls-port needs a port number from 0 to 65535");
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
    return "Usage: siderama [--port N] [--tls-port N] [IMAGE]\n"
           "       siderama --headless [--port N] [--tls-port N]\n"
           "       siderama --solve IMAGE\n"
           "       siderama --indexes | --fetch-index KEY... | --remove-index KEY...\n"
           "\n"
           "Plate-solves astronomical images (FITS, JPEG, PNG, TIFF, raw frames).\n"
           "\n"
           "  IMAGE                 open the solver window and solve IMAGE\n"
           "  --headless            no window: log to standard output, serve the\n"
           "                        remote solving API until interrupted\n"
           "  --port N              serve HTTP on port N (0: any free port; default:\n"
           "                        the user default http-port, else any)\n"
           "  --tls-port N          serve HTTPS on port N as well (0: any free port;\n"
           "                        default: the user default https-port, else none)\n"
           "  --solve IMAGE         solve IMAGE in the terminal; exit status 0 when solved\n"
           "  --indexes             list the index files and whether they are installed\n"
           "  --fetch-index KEY...  install the index files of the given keys\n"
           "  --remove-index KEY... move the index files of the given keys to the Trash\n"
           "  -h, --help            show this help\n"
           "  -v, --version         show the version\n";
}

}  // namespace siderama
