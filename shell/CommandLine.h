#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace tarnwell {

// What `tarnwell --run FILE ...` asks for: one statement (or a script of
// several) run on one connection, its result written to one file (or
// standard output) with the writers the query window's exports and report
// use.
struct BatchOptions {
    enum class Format { Csv, Txt, Xlsx, Pdf };

    // A field of the report, as --fields names it; the width as typed, or
    // none for the field's display width.
    struct ReportField {
        QString name;
        std::optional<QString> width;
    };

    QString sqlFile;  // "-": standard input
    // The file's statements one by one; otherwise the file is one statement.
    bool script = false;

    // One of the two ways to a database.
    QString alias;
    std::optional<QString> user;
    QString connectionString;

    Format format = Format::Csv;
    QString output = QStringLiteral("-");  // "-": standard output
    QString separator = QStringLiteral(",");

    // The report's settings, as the print window's fields hold them.
    std::optional<QString> title;
    std::vector<ReportField> fields;  // empty: every field
    int records = 0;                  // 0: all; negative: none
    bool landscape = false;
    int paperLengthMm = 297;
    int paperWidthMm = 210;
    QString fontFamily;  // empty: the print window's detail font
    double fontPoints = 0;
};

// What the command line asks for. Qt's own window-system options pass
// through to the application object.
struct CommandLine {
    enum class Action { Run, ShowHelp, ShowVersion, Refuse, Batch };
    Action action = Action::Run;
    QString error;  // for Refuse: what was wrong
    BatchOptions batch;
};

CommandLine parseCommandLine(const QStringList& arguments);

QString helpText();
QString versionText();

}  // namespace tarnwell
