#include "output/TextFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <langinfo.h>
#include <unistd.h>

namespace tarnwell {

namespace {

QString quoted(const QString& path) { return u'"' + QDir::toNativeSeparators(path) + u'"'; }

QString codeOf(char32_t code) {
    const QString hex = QString::number(static_cast<uint>(code), 16).toUpper();
    return QStringLiteral("U+") + hex.rightJustified(4, u'0');
}

bool namesUtf8(const QByteArray& encoding) {
    return QStringConverter::encodingForName(encoding.constData()) == QStringConverter::Utf8;
}

}  // namespace

TextFileError::TextFileError(const QString& message) : std::runtime_error(message.toStdString()) {}

QByteArray localeTextEncoding() {
    const char* codeset = ::nl_langinfo(CODESET);
    const QByteArray name = codeset ? QByteArray(codeset) : QByteArray();
    if (name.isEmpty() || name == "ANSI_X3.4-1968" || name == "ASCII" || name == "US-ASCII" ||
        !QStringDecoder(name.constData()).isValid()) {
        return QByteArrayLiteral("UTF-8");
    }
    return name;
}

QString systemMessage(int code) {
    QStringDecoder decode(localeTextEncoding().constData());
    const QString text = decode(QByteArrayView(std::strerror(code)));
    // Qt says a few of these in the program's language when its files fail;
    // ours say them in the same words.
    return QCoreApplication::translate("QIODevice", text.toUtf8().constData());
}

TextFileError saveError(const QString& path, const QString& reason) {
    return TextFileError(QStringLiteral("無法儲存檔案 %1: %2").arg(quoted(path), reason));
}

TextFileError openError(const QString& path, const QString& reason) {
    return TextFileError(QStringLiteral("無法開啟檔案 %1: %2").arg(quoted(path), reason));
}

QString describeCharacter(QStringView text, qsizetype at) {
    const QChar first = text.at(at);
    if (first.isHighSurrogate() && at + 1 < text.size() && text.at(at + 1).isLowSurrogate()) {
        return QStringLiteral("\"%1\" (%2)")
            .arg(text.sliced(at, 2).toString(), codeOf(QChar::surrogateToUcs4(first, text.at(at + 1))));
    }
    if (first.isSurrogate() || first.unicode() < 32) {
        return codeOf(first.unicode());
    }
    return QStringLiteral("\"%1\" (%2)").arg(first, codeOf(first.unicode()));
}

// --- StrictEncoder -------------------------------------------------------------

StrictEncoder::StrictEncoder(const QByteArray& encoding)
    : encoder_(namesUtf8(encoding) ? QStringEncoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless)
                                : QStringEncoder(encoding.constData(), QStringConverter::Flag::Stateless)),
      decoder_(encoding.constData(),
               QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom),
      name_(QString::fromLatin1(encoder_.name() ? encoder_.name() : encoding.constData())),
      utf8_(namesUtf8(encoding)) {}

qsizetype StrictEncoder::append(QStringView text, QByteArray& out) {
    const qsizetype before = out.size();
    out.resize(before + maxBytes(text.size()));
    char* end = out.data() + before;
    const qsizetype at = write(text, end);
    out.truncate(at < 0 ? end - out.constData() : before);
    return at;
}

qsizetype StrictEncoder::write(QStringView text, char*& out) {
    return utf8_ ? writeUtf8(text, out) : writeRoundTrip(text, out);
}

// UTF-8 holds every character; only half a surrogate pair cannot be written.
qsizetype StrictEncoder::writeUtf8(QStringView text, char*& out) {
    char* end = encoder_.appendToBuffer(out, text);
    if (!encoder_.hasError()) {
        out = end;
        return -1;
    }
    encoder_.resetState();
    for (qsizetype at = 0; at < text.size(); ++at) {
        const QChar c = text.at(at);
        if (c.isHighSurrogate() && at + 1 < text.size() && text.at(at + 1).isLowSurrogate()) {
            ++at;
        } else if (c.isSurrogate()) {
            return at;
        }
    }
    return 0;
}

qsizetype StrictEncoder::writeRoundTrip(QStringView text, char*& out) {
    const QByteArray bytes = encoder_(text);
    const QString back = decoder_(bytes);
    if (!encoder_.hasError() && !decoder_.hasError() && back == text) {
        std::memcpy(out, bytes.constData(), static_cast<std::size_t>(bytes.size()));
        out += bytes.size();
        return -1;
    }
    encoder_.resetState();
    decoder_.resetState();
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
    return at;
}

// --- StreamOutput ------------------------------------------------------------------

StreamOutput::StreamOutput(int descriptor, QString name) : descriptor_(descriptor), name_(std::move(name)) {}

void StreamOutput::write(QByteArrayView bytes) {
    const int code = writeAll(descriptor_, bytes);
    if (code == EPIPE) {
        throw StreamClosedError(QString::fromUtf8(saveError(name_, systemMessage(code)).what()));
    }
    if (code != 0) {
        throw saveError(name_, systemMessage(code));
    }
}

}  // namespace tarnwell
