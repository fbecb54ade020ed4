#include "shell/CommandLine.h"

#include <QRegularExpression>
#include <exception>
#include <limits>

#include "dataaccess/ConnectionString.h"
#include "report/ReportListing.h"

namespace tarnwell {

namespace {

// Options of Qt's own that take a value and that a user may reasonably pass.
const QStringList kQtOptionsWithValue{QStringLiteral("-platform"), QStringLiteral("-display"),
                                      QStringLiteral("-style"),
                                      QStringLiteral("-qwindowgeometry")};

// The options of a batch run that take a value, and those that take none.
const QStringList kBatchOptionsWithValue{
    QStringLiteral("--run"),   QStringLiteral("--alias"),  QStringLiteral("--user"),
    QStringLiteral("--connection-string"),
    QStringLiteral("--csv"),   QStringLiteral("--txt"),    QStringLiteral("--separator"),
    QStringLiteral("--xlsx"),  QStringLiteral("--pdf"),    QStringLiteral("--title"),
    QStringLiteral("--fields"), QStringLiteral("--records"), QStringLiteral("--paper"),
    QStringLiteral("--font")};
const QString kLandscape = QStringLiteral("--landscape");
const QString kScript = QStringLiteral("--script");
const QStringList kBatchSwitches{kLandscape, kScript};
const QStringList kOutputOptions{QStringLiteral("--csv"), QStringLiteral("--txt"), QStringLiteral("--xlsx"),
                                 QStringLiteral("--pdf")};
const QStringList kReportOptions{QStringLiteral("--title"), QStringLiteral("--fields"),
                                 QStringLiteral("--records"), QStringLiteral("--paper"),
                                 QStringLiteral("--font"), kLandscape};

// The widest sheet the print window takes, in millimetres.
constexpr int kMaxPaperMm = 999999;

const QString kNoPasswordOption = QStringLiteral(
    "passwords are not taken on the command line, where every user of the machine can read them: "
    "set TARNWELL_PASSWORD, or type the password when asked");

bool namesPassword(const QString& option) {
    const QString name = option.section(u'=', 0, 0).toLower();
    if (!name.startsWith(u'-')) {
        return false;
    }
    return name == QLatin1String("-p") || name == QLatin1String("-w") || name.contains(QLatin1String("passw")) ||
           name == QLatin1String("--pwd") || name == QLatin1String("--pass");
}

// Whether an argument is one of the program's options (with or without its
// "=value"), rather than a value.
bool namesOption(const QString& argument) {
    const QString name = argument.section(u'=', 0, 0);
    return kBatchOptionsWithValue.contains(name) || kBatchSwitches.contains(argument) ||
           argument == QLatin1String("--help") || argument == QLatin1String("--version");
}

// A usage error found while reading the command line.
struct Refusal {
    QString message;
};

// Keys that hold a password in a connection string, also inside the ODBC
// string of Extended Properties.
bool holdsPassword(const QString& text) {
    try {
        const db::ConnectionString string = db::ConnectionString::parse(text.toStdString());
        if (string.contains("Password") || string.contains("PWD")) {
            return true;
        }
        if (string.contains("Extended Properties")) {
            const db::ConnectionString odbc =
                db::ConnectionString::parse(string.value("Extended Properties"), db::ConnectionString::Syntax::Odbc);
            return odbc.contains("PWD") || odbc.contains("Password");
        }
    } catch (const std::exception&) {
        // A string that does not read is the connection's to report.
    }
    return false;
}

int wholeNumber(const QString& option, const QString& text, int low, int high) {
    bool valid = false;
    const int value = text.toInt(&valid, 10);
    if (!valid || value < low || value > high) {
        throw Refusal{QStringLiteral("option '%1' needs a whole number from %2 to %3, not '%4'")
                          .arg(option)
                          .arg(low)
                          .arg(high)
                          .arg(text)};
    }
    return value;
}

std::vector<BatchOptions::ReportField> reportFields(const QString& text) {
    std::vector<BatchOptions::ReportField> fields;
    for (const QString& entry : text.split(u',')) {
        const qsizetype colon = entry.lastIndexOf(u':');
        BatchOptions::ReportField field{colon < 0 ? entry : entry.first(colon), std::nullopt};
        if (field.name.trimmed().isEmpty()) {
            throw Refusal{QStringLiteral("option '--fields' needs NAME[:WIDTH],..., not '%1'").arg(text)};
        }
        if (colon >= 0) {
            field.width = entry.sliced(colon + 1);
            try {
                listingColumnWidth(*field.width, field.name);
            } catch (const std::exception& error) {
                throw Refusal{QStringLiteral("option '--fields': %1").arg(QString::fromUtf8(error.what()))};
            }
        }
        fields.push_back(std::move(field));
    }
    return fields;
}

void readPaper(const QString& text, BatchOptions& batch) {
    static const QRegularExpression form(QStringLiteral("^([0-9]+)[xX]([0-9]+)$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch()) {
        throw Refusal{QStringLiteral("option '--paper' needs LENGTHxWIDTH in millimetres (297x210), not '%1'")
                          .arg(text)};
    }
    batch.paperLengthMm = wholeNumber(QStringLiteral("--paper"), match.captured(1), 1, kMaxPaperMm);
    batch.paperWidthMm = wholeNumber(QStringLiteral("--paper"), match.captured(2), 1, kMaxPaperMm);
}

void readFont(const QString& text, BatchOptions& batch) {
    const qsizetype colon = text.lastIndexOf(u':');
    bool valid = false;
    const double points = colon > 0 ? text.sliced(colon + 1).toDouble(&valid) : 0;
    if (!valid || !(points >= 1 && points <= 1000) || text.first(colon).trimmed().isEmpty()) {
        throw Refusal{QStringLiteral("option '--font' needs FAMILY:SIZE, the size in points (細明體:10), not '%1'")
                          .arg(text)};
    }
    batch.fontFamily = text.first(colon);
    batch.fontPoints = points;
}

// The batch run that the options given ask for; throws Refusal.
BatchOptions batchOptions(const QList<std::pair<QString, QString>>& given) {
    BatchOptions batch;
    QStringList seen;
    QString output;
    for (const auto& [option, value] : given) {
        if (seen.contains(option)) {
            throw Refusal{QStringLiteral("option '%1' given twice").arg(option)};
        }
        seen << option;
        if (kOutputOptions.contains(option)) {
            if (!output.isEmpty()) {
                throw Refusal{QStringLiteral("one output only: '%1' and '%2' both given").arg(output, option)};
            }
            output = option;
            batch.output = value;
            if (value.isEmpty()) {
                throw Refusal{QStringLiteral("option '%1' needs a file name, or - for standard output").arg(option)};
            }
        }
        if (option == QLatin1String("--run")) {
            batch.sqlFile = value;
        } else if (option == QLatin1String("--alias")) {
            batch.alias = value;
        } else if (option == QLatin1String("--user")) {
            batch.user = value;
        } else if (option == QLatin1String("--connection-string")) {
            batch.connectionString = value;
        } else if (option == QLatin1String("--csv")) {
            batch.format = BatchOptions::Format::Csv;
        } else if (option == QLatin1String("--txt")) {
            batch.format = BatchOptions::Format::Txt;
        } else if (option == QLatin1String("--xlsx")) {
            batch.format = BatchOptions::Format::Xlsx;
        } else if (option == QLatin1String("--pdf")) {
            batch.format = BatchOptions::Format::Pdf;
        } else if (option == QLatin1String("--separator")) {
            batch.separator = value;
        } else if (option == QLatin1String("--title")) {
            batch.title = value;
        } else if (option == QLatin1String("--fields")) {
            batch.fields = reportFields(value);
        } else if (option == QLatin1String("--records")) {
            batch.records = wholeNumber(option, value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
        } else if (option == QLatin1String("--paper")) {
            readPaper(value, batch);
        } else if (option == QLatin1String("--font")) {
            readFont(value, batch);
        } else if (option == kLandscape) {
            batch.landscape = true;
        } else if (option == kScript) {
            batch.script = true;
        }
    }
    if (batch.sqlFile.isEmpty()) {
        throw Refusal{QStringLiteral("option '--run' needs a SQL file, or - for standard input")};
    }
    const bool byAlias = seen.contains(QStringLiteral("--alias"));
    const bool byString = seen.contains(QStringLiteral("--connection-string"));
    if (byAlias == byString) {
        throw Refusal{QStringLiteral("'--run' needs one of '--alias NAME' and '--connection-string STR'")};
    }
    if (byAlias && batch.alias.trimmed().isEmpty()) {
        throw Refusal{QStringLiteral("option '--alias' needs an alias name")};
    }
    if (byString && batch.connectionString.trimmed().isEmpty()) {
        throw Refusal{QStringLiteral("option '--connection-string' needs a connection string")};
    }
    if (batch.user && !byAlias) {
        throw Refusal{QStringLiteral("option '--user' goes with '--alias'")};
    }
    if (byString && holdsPassword(batch.connectionString)) {
        throw Refusal{QStringLiteral("the connection string holds a password; ") + kNoPasswordOption +
                      QStringLiteral(", or keep the string in a data link file (FILE NAME=)")};
    }
    if (seen.contains(QStringLiteral("--separator")) && output != QLatin1String("--txt")) {
        throw Refusal{QStringLiteral("option '--separator' goes with '--txt'")};
    }
    if (output != QLatin1String("--pdf")) {
        for (const QString& option : kReportOptions) {
            if (seen.contains(option)) {
                throw Refusal{QStringLiteral("option '%1' goes with '--pdf'").arg(option)};
            }
        }
    }
    return batch;
}

}  // namespace

CommandLine parseCommandLine(const QStringList& arguments) {
    CommandLine result;
    QList<std::pair<QString, QString>> batchGiven;
    bool batch = false;
    bool version = false;
    const auto refuse = [&result](const QString& error) {
        // The first fault is the one reported; --help or --version later on
        // the line still win.
        if (result.action != CommandLine::Action::Refuse) {
            result = {CommandLine::Action::Refuse, error, {}};
        }
    };
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            return {CommandLine::Action::ShowHelp, {}, {}};
        }
        if (argument == QLatin1String("--version") || argument == QLatin1String("-v")) {
            // Beside a batch run it is refused below rather than taken for
            // a run that did its work.
            version = true;
            continue;
        }
        if (kQtOptionsWithValue.contains(argument)) {
            if (i + 1 >= arguments.size()) {
                refuse(QStringLiteral("option '%1' needs a value").arg(argument));
                continue;
            }
            ++i;
            continue;
        }
        if (namesPassword(argument)) {
            refuse(kNoPasswordOption);
            continue;
        }
        const QString name = argument.section(u'=', 0, 0);
        if (argument.startsWith(QLatin1String("--")) && kBatchOptionsWithValue.contains(name)) {
            batch = batch || name == QLatin1String("--run");
            if (argument.contains(u'=')) {
                batchGiven.append({name, argument.sliced(name.size() + 1)});
            } else if (name == QLatin1String("--run") && i + 1 < arguments.size() &&
                       namesOption(arguments.at(i + 1))) {
                // "--run --alias DEMO": the file was left out, not named
                // "--alias".
                refuse(QStringLiteral("option '--run' needs a SQL file (or - for standard input) before '%1'")
                           .arg(arguments.at(i + 1)));
            } else if (i + 1 < arguments.size()) {
                batchGiven.append({name, arguments.at(++i)});
            } else {
                refuse(QStringLiteral("option '%1' needs a value").arg(name));
            }
            continue;
        }
        if (kBatchSwitches.contains(argument)) {
            batchGiven.append({argument, QString()});
            continue;
        }
        if (argument.startsWith(QLatin1Char('-'))) {
            refuse(QStringLiteral("unknown option '%1'").arg(argument));
        } else {
            refuse(QStringLiteral("unexpected argument '%1'").arg(argument));
        }
    }
    const bool batchAsked = batch || !batchGiven.isEmpty();
    if (version && !batchAsked) {
        return {CommandLine::Action::ShowVersion, {}, {}};
    }
    if (result.action == CommandLine::Action::Refuse) {
        return result;
    }
    if (version) {
        return {CommandLine::Action::Refuse,
                QStringLiteral("option '--version' does not go with a batch run ('--run FILE')"), {}};
    }
    if (!batchGiven.isEmpty() && !batch) {
        return {CommandLine::Action::Refuse,
                QStringLiteral("option '%1' goes with '--run FILE'").arg(batchGiven.first().first), {}};
    }
    if (batch) {
        try {
            result.batch = batchOptions(batchGiven);
            result.action = CommandLine::Action::Batch;
        } catch (const Refusal& refusal) {
            return {CommandLine::Action::Refuse, refusal.message, {}};
        }
    }
    return result;
}

QString helpText() {
    return QStringLiteral(
        "Usage: tarnwell [--help] [--version]\n"
        "       tarnwell --run FILE [--script] (--alias NAME [--user USER] | --connection-string STR)\n"
        "                [--csv FILE | --txt FILE [--separator S] | --xlsx FILE | --pdf FILE [REPORT]]\n"
        "\n"
        "Tarnwell, a SQL query workbench. It starts in the notification area (the\n"
        "system tray): right-press its icon for its menu. A second start brings the\n"
        "running one forward and ends.\n"
        "\n"
        "Options:\n"
        "  -h, --help       show this help and exit\n"
        "  -v, --version    show the version and exit\n"
        "  -platform NAME, -display DISPLAY, -style NAME\n"
        "                   Qt's own window-system options\n"
        "\n"
        "Batch runs (no window, no display needed; beside a running Tarnwell too):\n"
        "  --run FILE       run the SQL of FILE (- for standard input) as one\n"
        "                   statement, as a query window runs it; a file of\n"
        "                   several statements is refused\n"
        "  --script         run FILE's statements one by one, each committed; the\n"
        "                   first that fails stops the run (FILE:LINE: on standard\n"
        "                   error) and nothing is written; else the last result\n"
        "                   set is written\n"
        "  --alias NAME     on this alias; --user USER (default the alias's USER\n"
        "                   NAME); the password from TARNWELL_PASSWORD, else asked\n"
        "                   on the terminal, else the alias's own PASSWORD\n"
        "  --connection-string STR\n"
        "                   or on this connection string (FILE NAME=<file.udl> too);\n"
        "                   its password from TARNWELL_PASSWORD or a data link file\n"
        "  --csv FILE       the result as CSV (the default, to standard output)\n"
        "  --txt FILE       as delimited text, values separated by --separator S\n"
        "                   (any text, also none; default a comma)\n"
        "  --xlsx FILE      as a spreadsheet (.xlsx)\n"
        "  --pdf FILE       as the printed report, with REPORT settings:\n"
        "    --title TEXT   a title on every page\n"
        "    --fields NAME[:WIDTH],...  the columns (default every field at its\n"
        "                   display width)\n"
        "    --records N    at most N records (default 0: all)\n"
        "    --landscape    landscape pages\n"
        "    --paper LxW    the sheet in millimetres (default 297x210)\n"
        "    --font FAMILY:SIZE  the font of the lines, size in points\n"
        "  FILE - is standard output. Files appear whole or not at all.\n"
        "  A statement without a result set writes no file; its rows changed go to\n"
        "  standard error.\n"
        "\n"
        "Exit status: 0 done, 1 database or file error, 2 usage error, 3 more rows\n"
        "than a spreadsheet holds (nothing written).\n");
}

QString versionText() {
    return QStringLiteral("Tarnwell %1\n").arg(QStringLiteral(TARNWELL_VERSION));
}

}  // namespace tarnwell
