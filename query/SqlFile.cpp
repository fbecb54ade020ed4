#include "query/SqlFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <cerrno>
#include <sys/stat.h>

namespace tarnwell {

namespace {

// Where a file is not valid in the locale's encoding, it most likely comes
// from a Traditional Chinese Windows system.
constexpr const char* legacyEncoding = "Big5";

QString decodeFileBytes(const QByteArray& bytes, const QByteArray& encoding) {
    QStringDecoder strict(encoding.constData(), QStringConverter::Flag::Stateless);
    if (strict.isValid()) {
        QString text = strict(bytes);
        if (!strict.hasError()) {
            return text;
        }
    }
    QStringDecoder legacy(legacyEncoding, QStringConverter::Flag::Stateless);
    return legacy(bytes);
}

// Line and column (both from 1, columns in characters) of position `at`.
QString placeOf(const QString& text, qsizetype at) {
    const QStringView before = QStringView(text).first(at);
    const qsizetype lineStart = before.lastIndexOf(u'\n') + 1;
    const qsizetype line = before.count(u'\n') + 1;
    const qsizetype column = before.sliced(lineStart).toUcs4().size() + 1;
    return QStringLiteral("第 %1 行第 %2 個字").arg(line).arg(column);
}

// The bytes of `text` in `encoding`, or an error naming the first character
// that the encoding cannot hold.
QByteArray encodeForFile(const QString& path, const QString& text, const QByteArray& encoding) {
    StrictEncoder encoder(encoding);
    if (!encoder.isValid()) {
        throw saveError(path, QStringLiteral("系統不支援 %1 編碼").arg(QString::fromLatin1(encoding)));
    }
    QByteArray bytes;
    const qsizetype at = encoder.append(text, bytes);
    if (at < 0) {
        return bytes;
    }
    throw saveError(path, QStringLiteral("%1 %2 無法以 %3 編碼儲存")
                              .arg(placeOf(text, at), describeCharacter(text, at), encoder.name()));
}

}  // namespace

QString withCrLfLineEnds(const QString& text) {
    QString result;
    result.reserve(text.size() + text.size() / 32 + 2);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'\r') {
            result += QStringLiteral("\r\n");
            if (i + 1 < text.size() && text.at(i + 1) == u'\n') {
                ++i;
            }
        } else if (c == u'\n') {
            result += QStringLiteral("\r\n");
        } else {
            result += c;
        }
    }
    return result;
}

QString loadSqlFile(const QString& path, const QByteArray& encoding) {
    if (path.isEmpty()) {
        throw openError(path, systemMessage(ENOENT));
    }
    struct stat status {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0) {
        throw openError(path, systemMessage(errno));
    }
    if (S_ISDIR(status.st_mode)) {
        throw openError(path, systemMessage(EISDIR));
    }
    // Devices and pipes could block or never end.
    if (!S_ISREG(status.st_mode)) {
        throw openError(path, QStringLiteral("不是一般檔案"));
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        throw openError(path, file.errorString());
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        throw openError(path, file.errorString());
    }
    return sqlTextFromBytes(bytes, encoding);
}

QString sqlTextFromBytes(const QByteArray& bytes, const QByteArray& encoding) {
    return withCrLfLineEnds(decodeFileBytes(bytes, encoding));
}

void saveSqlFile(const QString& path, const QString& text, const QByteArray& encoding) {
    const QByteArray bytes = encodeForFile(path, text, encoding);
    FileReplacement file(path);
    file.write(bytes);
    file.commit();
}

Prompt::FileRequest sqlFileRequest(const QString& previousFile, bool forSaving) {
    Prompt::FileRequest request;
    offerPreviousFile(request, previousFile, forSaving);
    request.filter = QStringLiteral("*.SQL (*.SQL *.sql)");
    request.defaultSuffix = QStringLiteral("SQL");
    return request;
}

}  // namespace tarnwell
