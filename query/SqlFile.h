#pragma once

#include <QByteArray>
#include <QString>

#include "output/TextFile.h"
#include "ui/Prompt.h"

namespace tarnwell {

// A SQL file that could not be read or written.
using SqlFileError = TextFileError;

// The whole file as memo text. The bytes are read in `encoding`; a file that
// is not valid in it is read as Big5 (CP950), so files from older systems
// open. Every lone "\r" and lone "\n" becomes "\r\n". Throws SqlFileError.
QString loadSqlFile(const QString& path, const QByteArray& encoding = localeTextEncoding());

// The same text from bytes read elsewhere (standard input).
QString sqlTextFromBytes(const QByteArray& bytes, const QByteArray& encoding = localeTextEncoding());

// Writes `text` byte for byte in `encoding`: no break added, no byte-order
// mark. The file is replaced in one step, so a failed save leaves an existing
// file as it was. Text that `encoding` cannot hold is refused rather than
// written with substitutes. Throws SqlFileError.
void saveSqlFile(const QString& path, const QString& text,
                 const QByteArray& encoding = localeTextEncoding());

// Lone "\r" and lone "\n" turned into "\r\n"; "\r\n" stays.
QString withCrLfLineEnds(const QString& text);

// The open and save dialogs for SQL files: "*.SQL" shown and matched, a name
// typed without an extension gets ".SQL"; `previousFile` is offered again
// where its folder is one to offer (offerPreviousFile()).
Prompt::FileRequest sqlFileRequest(const QString& previousFile = {}, bool forSaving = false);

}  // namespace tarnwell
