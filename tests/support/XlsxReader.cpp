#include "support/XlsxReader.h"

#include <QJsonDocument>
#include <QProcess>
#include <gtest/gtest.h>

namespace tarnwell::test {

QJsonObject readXlsx(const QString& path) {
    QProcess reader;
    // Debian's own interpreter: the one that sees python3-openpyxl.
    reader.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(TARNWELL_XLSX_READER), path});
    if (!reader.waitForFinished(120000) || reader.exitStatus() != QProcess::NormalExit || reader.exitCode() != 0) {
        reader.kill();
        reader.waitForFinished();
        ADD_FAILURE() << "the reader could not read " << path.toStdString() << ": "
                      << reader.readAllStandardError().toStdString();
        return {};
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(reader.readAllStandardOutput(), &error);
    if (!document.isObject()) {
        ADD_FAILURE() << "the reader's answer is no JSON object: " << error.errorString().toStdString();
        return {};
    }
    return document.object();
}

}  // namespace tarnwell::test
