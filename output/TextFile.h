#pragma once

#include <QByteArray>
#include <QString>
#include <QStringDecoder>
#include <QStringEncoder>
#include <QStringView>
#include <stdexcept>

#include "output/Feedback.h"
#include "output/FileReplacement.h"

namespace tarnwell {

// What the program writes for people to open elsewhere (SQL files, exports)
// shares these: the locale's encoding, a refusal of characters it cannot hold,
// replacement of the target in one step, and the messages for failures.

// A text file that could not be read or written. what() is the whole message
// (UTF-8), ready for the general error handler to show.
class TextFileError : public std::runtime_error {
public:
    explicit TextFileError(const QString& message);
};

// The encoding the locale uses for text files ("UTF-8", "BIG5", ...). A plain
// ASCII locale counts as UTF-8, as it does for Qt itself.
QByteArray localeTextEncoding();

// The system's own text for an errno value, in the locale's language.
QString systemMessage(int code);

// "無法儲存檔案 "<path>": <reason>"
TextFileError saveError(const QString& path, const QString& reason);
// "無法開啟檔案 "<path>": <reason>"
TextFileError openError(const QString& path, const QString& reason);

// A character for a message: "中" (U+4E2D), or only its code when it cannot be
// shown (a control character, half a surrogate pair).
QString describeCharacter(QStringView text, qsizetype at);

// Encodes text in one encoding and refuses what that encoding cannot hold:
// whatever would not come back unchanged when read again (substitutes such as
// "?", look-alike mappings, half a surrogate pair).
class StrictEncoder {
public:
    explicit StrictEncoder(const QByteArray& encoding);

    bool isValid() const { return encoder_.isValid(); }
    bool isUtf8() const { return utf8_; }
    // The encoding's name for messages.
    QString name() const { return name_; }

    // Appends the bytes of `text` to `out` and gives -1; or, leaving `out` as
    // it was, the position in `text` of the first character not held.
    qsizetype append(QStringView text, QByteArray& out);

    // The same into memory the caller holds: at most maxBytes(text.size())
    // bytes from `out` on, which then points past them.
    qsizetype write(QStringView text, char*& out);
    qsizetype maxBytes(qsizetype length) const { return encoder_.requiredSpace(length); }

private:
    qsizetype writeUtf8(QStringView text, char*& out);
    qsizetype writeRoundTrip(QStringView text, char*& out);

    QStringEncoder encoder_;
    QStringDecoder decoder_;
    QString name_;
    bool utf8_ = false;
};

// Where a writer's bytes go: a file that appears whole (AtomicFile) or a
// stream that takes them as they come (StreamOutput). Failures throw
// TextFileError naming path().
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void write(QByteArrayView bytes) = 0;
    // Everything is written: the file replaces its target, unless `stop`
    // says the work was stopped meanwhile (OperationCanceled, the target as
    // it was); the stream is flushed.
    virtual void commit(const Feedback& stop) = 0;
    // The name for messages.
    virtual const QString& path() const = 0;
};

// A file that replaces its target only on commit(), through the program's
// one way of replacing files (FileReplacement.h): until then, and whenever
// writing fails or stops, an existing file keeps every byte it had and
// nothing else is left behind. Failures throw TextFileError with the
// system's reason.
class AtomicFile final : public ByteSink {
public:
    explicit AtomicFile(const QString& path) : file_(path) {}

    void write(QByteArrayView bytes) override { file_.write(bytes); }
    void commit(const Feedback& stop) override { file_.commit(stop); }

    const QString& path() const override { return file_.path(); }

private:
    FileReplacement file_;
};

// A stream whose reader went away (a pipe closed by `head`).
class StreamClosedError : public TextFileError {
public:
    using TextFileError::TextFileError;
};

// An open file descriptor that is written as the bytes come (standard output
// into a pipe): what went out cannot be taken back, so a failure part way
// leaves what was written. The descriptor is not closed. A pipe whose reader
// has gone throws StreamClosedError (with SIGPIPE ignored; else the signal
// ends the process first).
class StreamOutput final : public ByteSink {
public:
    // `name` stands for the stream in messages.
    StreamOutput(int descriptor, QString name);

    void write(QByteArrayView bytes) override;
    void commit(const Feedback&) override {}

    const QString& path() const override { return name_; }

private:
    int descriptor_;
    QString name_;
};

}  // namespace tarnwell
