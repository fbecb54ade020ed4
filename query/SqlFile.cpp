#include "query/SqlFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnwell {

namespace {

// Where a file is not valid in the locale's encoding, it most likely comes
// from a Traditional Chinese Windows system.
constexpr const char* legacyEncoding = "Big5";

QString quoted(const QString& path) { return u'"' + QDir::toNativeSeparators(path) + u'"'; }

SqlFileError openError(const QString& path, const QString& reason) {
    return SqlFileError(QStringLiteral("無法開啟檔案 %1: %2").arg(quoted(path), reason));
}

SqlFileError saveError(const QString& path, const QString& reason) {
    return SqlFileError(QStringLiteral("無法儲存檔案 %1: %2").arg(quoted(path), reason));
}

// The system's own text for an errno value.
QString systemMessage(int code) {
    QStringDecoder decode(localeTextEncoding().constData());
    return decode(QByteArrayView(std::strerror(code)));
}

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

QString codeOf(char32_t code) {
    const QString hex = QString::number(static_cast<uint>(code), 16).toUpper();
    return QStringLiteral("U+") + hex.rightJustified(4, u'0');
}

QString describeCharacter(const QString& text, qsizetype at) {
    const QChar first = text.at(at);
    if (first.isHighSurrogate() && at + 1 < text.size() && text.at(at + 1).isLowSurrogate()) {
        return QStringLiteral("\"%1\" (%2)")
            .arg(text.sliced(at, 2), codeOf(QChar::surrogateToUcs4(first, text.at(at + 1))));
    }
    if (first.isSurrogate() || first.unicode() < 32) {
        return codeOf(first.unicode());
    }
    return QStringLiteral("\"%1\" (%2)").arg(first, codeOf(first.unicode()));
}

// The bytes of `text` in `encoding`, or an error naming the first character
// that the encoding cannot hold. Whatever does not come back unchanged when
// read again counts as not held: substitutes ("?") and look-alike mappings.
QByteArray encodeForFile(const QString& path, const QString& text, const QByteArray& encoding) {
    QStringEncoder encode(encoding.constData(), QStringConverter::Flag::Stateless);
    if (!encode.isValid()) {
        throw saveError(path, QStringLiteral("系統不支援 %1 編碼").arg(QString::fromLatin1(encoding)));
    }
    QByteArray bytes = encode(text);
    QStringDecoder decode(encoding.constData(), QStringConverter::Flag::Stateless |
                                                    QStringConverter::Flag::ConvertInitialBom);
    const QString back = decode(bytes);
    if (!encode.hasError() && !decode.hasError() && back == text) {
        return bytes;
    }
    qsizetype at = 0;
    while (at < text.size() && at < back.size() && text.at(at) == back.at(at)) {
        ++at;
    }
    if (at == text.size()) {
        at = text.size() - 1;
    }
    if (at > 0 && text.at(at).isLowSurrogate() && text.at(at - 1).isHighSurrogate()) {
        --at;
    }
    const char* encodingName = encode.name() ? encode.name() : encoding.constData();
    throw saveError(path, QStringLiteral("%1 %2 無法以 %3 編碼儲存")
                              .arg(placeOf(text, at), describeCharacter(text, at),
                                   QString::fromLatin1(encodingName)));
}

// An existing file is replaced only if it is a plain file that we may write:
// saving must fail where writing it in place would.
void checkReplaceable(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) {
        return;
    }
    if (info.isDir()) {
        throw saveError(path, systemMessage(EISDIR));
    }
    if (!info.isFile()) {
        throw saveError(path, QStringLiteral("不是一般檔案"));
    }
    if (::faccessat(AT_FDCWD, QFile::encodeName(info.absoluteFilePath()).constData(), W_OK,
                    AT_EACCESS) != 0) {
        throw saveError(path, systemMessage(errno));
    }
}

}  // namespace

SqlFileError::SqlFileError(const QString& message) : std::runtime_error(message.toStdString()) {}

QByteArray localeTextEncoding() {
    const char* codeset = ::nl_langinfo(CODESET);
    const QByteArray name = codeset ? QByteArray(codeset) : QByteArray();
    if (name.isEmpty() || name == "ANSI_X3.4-1968" || name == "ASCII" || name == "US-ASCII" ||
        !QStringDecoder(name.constData()).isValid()) {
        return QByteArrayLiteral("UTF-8");
    }
    return name;
}

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
    return withCrLfLineEnds(decodeFileBytes(bytes, encoding));
}

void saveSqlFile(const QString& path, const QString& text, const QByteArray& encoding) {
    const QByteArray bytes = encodeForFile(path, text, encoding);
    if (path.isEmpty()) {
        throw saveError(path, systemMessage(ENOENT));
    }
    checkReplaceable(path);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        throw saveError(path, file.errorString());
    }
    // A write may stop part way (a size limit); the next one reports why.
    for (qsizetype written = 0; written < bytes.size();) {
        const qint64 count = file.write(bytes.constData() + written, bytes.size() - written);
        if (count <= 0) {
            const QString reason = file.errorString();
            file.cancelWriting();
            throw saveError(path, reason);
        }
        written += count;
    }
    if (!file.commit()) {
        throw saveError(path, file.errorString());
    }
}

Prompt::FileRequest sqlFileRequest(const QString& previousFile) {
    Prompt::FileRequest request;
    request.fileName = previousFile;
    request.filter = QStringLiteral("*.SQL (*.SQL *.sql)");
    request.defaultSuffix = QStringLiteral("SQL");
    return request;
}

}  // namespace tarnwell
