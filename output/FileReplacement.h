#pragma once

#include <QByteArrayView>
#include <QString>
#include <sys/types.h>

namespace tarnwell {

class Feedback;

// The one way every writer of the program (delimited text, spreadsheets,
// PDF reports, SQL files, the spreadsheet export's cache files) puts a file
// in place of its target.
//
// The bytes go to a temporary file in the target's folder that no other name
// reaches while it is written: a file without a name (O_TMPFILE), or, where
// the file system has no such files, a new hidden name made with O_EXCL and
// O_NOFOLLOW and mode 0600, so that nothing planted in the folder (a link, a
// file of the same name) is ever written through. commit() gives the file
// the target's mode (or the umask's, for a new target), checks one last time
// that the work was not stopped, and only then renames it over the target in
// one step. Until then, and whenever writing fails or stops, an existing
// target keeps every byte it had, and nothing is left behind.
//
// A target that is not a plain file (a device, a pipe, a socket, a folder)
// is refused, and so is one the user may not write or that is read-only (no
// write permission for anyone), whoever runs the program. A target that is a
// symbolic link stands for the file it names, as when the file is opened for
// writing; a link in a world-writable sticky folder that belongs to neither
// the user nor the folder's owner is not followed (the kernel's rule for
// such links). Nothing but the target is ever created, changed or removed,
// save the temporary file while it exists.
//
// Failures throw TextFileError ("無法儲存檔案 "<path>": <reason>"); a stop
// throws OperationCanceled.
class FileReplacement {
public:
    struct Options {
        // Never replace: commit() fails when the target exists by then.
        bool createOnly = false;
        // Make the temporary file with a name even where the file system can
        // make one without (for the tests of that way).
        bool namedTemporary = false;
    };

    explicit FileReplacement(const QString& path);
    FileReplacement(const QString& path, Options options);
    ~FileReplacement();
    FileReplacement(FileReplacement&& other) noexcept;
    FileReplacement& operator=(FileReplacement&&) = delete;
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // The name for messages: the path as given.
    const QString& path() const noexcept { return path_; }
    // The temporary file, open for writing, for writers that want a
    // descriptor of their own (they must not close it).
    int descriptor() const noexcept { return descriptor_; }

    void write(QByteArrayView bytes);
    // Appends the whole of another file.
    void copyFrom(const QString& source);

    // Puts the file in place of the target, unless `stop` asks to stop by
    // then: the file is dropped and OperationCanceled thrown.
    void commit(const Feedback& stop);
    void commit();
    // Drops the file; the target stays as it was.
    void discard() noexcept;

private:
    void resolveTarget();
    void checkTarget();
    void openUnnamed();
    void openNamed();
    void putInPlace();
    int linkIntoFolder(const char* name);
    [[noreturn]] void fail(const QString& reason);

    QString path_;
    Options options_;
    int folder_ = -1;       // the target's folder, held open
    QByteArray folderPath_;
    QByteArray name_;       // the target's name in it
    int descriptor_ = -1;
    QByteArray temporaryName_;  // empty for a file without a name
    bool targetExists_ = false;
    mode_t mode_ = 0600;
    uid_t owner_ = static_cast<uid_t>(-1);
    gid_t group_ = static_cast<gid_t>(-1);
};

// Writes all of `bytes` to `descriptor`, going on after interruptions and
// short writes; 0, or the errno of the write that failed.
int writeAll(int descriptor, QByteArrayView bytes);

}  // namespace tarnwell
