#include "output/FileReplacement.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <stdexcept>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "output/Feedback.h"
#include "output/TextFile.h"

namespace tarnwell {

namespace {

// Links a target may go through before it counts as a loop, as for open().
constexpr int kMostLinks = 40;
constexpr int kNameAttempts = 100;

// The process's umask, read where reading it changes nothing: umask(2) would
// set it for every thread meanwhile.
mode_t currentUmask() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok) {
                    return static_cast<mode_t>(mask & 0777);
                }
            }
        }
    }
    return 022;
}

// A name made of random letters, for a temporary file or link.
QByteArray randomName() {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    unsigned char bytes[12];
    if (::getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
        throw std::runtime_error("no random bytes for a temporary file name");
    }
    QByteArray name(".tarnwell-");
    for (const unsigned char byte : bytes) {
        name += kLetters[byte % (sizeof kLetters - 1)];
    }
    return name;
}

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Whether unnamed files can be given a name later: that goes through
// /proc/self/fd.
bool canLinkUnnamedFiles() {
    static const bool can = ::access("/proc/self/fd", X_OK) == 0;
    return can;
}

QByteArray folderOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray(slash == 0 ? "/" : ".") : path.first(slash);
}

}  // namespace

FileReplacement::FileReplacement(const QString& path) : FileReplacement(path, Options()) {}

FileReplacement::FileReplacement(const QString& path, Options options) : path_(path), options_(options) {
    try {
        resolveTarget();
        folder_ = ::open(folderPath_.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (folder_ < 0) {
            fail(systemMessage(errno));
        }
        checkTarget();
        if (options_.namedTemporary || !canLinkUnnamedFiles()) {
            openNamed();
        } else {
            openUnnamed();
        }
    } catch (...) {
        discard();
        if (folder_ >= 0) {
            ::close(folder_);
        }
        throw;
    }
}

FileReplacement::FileReplacement(FileReplacement&& other) noexcept
    : path_(std::move(other.path_)),
      options_(other.options_),
      folder_(std::exchange(other.folder_, -1)),
      folderPath_(std::move(other.folderPath_)),
      name_(std::move(other.name_)),
      descriptor_(std::exchange(other.descriptor_, -1)),
      temporaryName_(std::move(other.temporaryName_)),
      targetExists_(other.targetExists_),
      mode_(other.mode_),
      owner_(other.owner_),
      group_(other.group_) {
    other.temporaryName_.clear();
}

FileReplacement::~FileReplacement() {
    discard();
    if (folder_ >= 0) {
        ::close(folder_);
    }
}

void FileReplacement::fail(const QString& reason) { throw saveError(path_, reason); }

// The file the path stands for: through every symbolic link, as open() goes.
void FileReplacement::resolveTarget() {
    if (path_.isEmpty() || path_.endsWith(u'/')) {
        fail(systemMessage(path_.isEmpty() ? ENOENT : EISDIR));
    }
    QByteArray target = QFile::encodeName(QFileInfo(path_).absoluteFilePath());
    for (int links = 0;; ++links) {
        struct stat link {};
        if (::lstat(target.constData(), &link) != 0) {
            if (errno == ENOENT) {
                break;  // a new file; a missing folder shows when it is opened
            }
            fail(systemMessage(errno));
        }
        if (!S_ISLNK(link.st_mode)) {
            break;
        }
        if (links == kMostLinks) {
            fail(systemMessage(ELOOP));
        }
        const QByteArray folder = folderOf(target);
        struct stat holder {};
        if (::stat(folder.constData(), &holder) == 0 && (holder.st_mode & S_ISVTX) != 0 &&
            (holder.st_mode & S_IWOTH) != 0 && link.st_uid != ::geteuid() && link.st_uid != holder.st_uid) {
            fail(systemMessage(EACCES));
        }
        QByteArray next(static_cast<qsizetype>(link.st_size > 0 ? link.st_size : 4096) + 1, '\0');
        const ssize_t length = ::readlink(target.constData(), next.data(), static_cast<std::size_t>(next.size()));
        if (length < 0 || length >= next.size()) {
            fail(systemMessage(length < 0 ? errno : ENAMETOOLONG));
        }
        next.truncate(length);
        target = next.startsWith('/') ? next : folder + '/' + next;
    }
    folderPath_ = folderOf(target);
    name_ = target.sliced(target.lastIndexOf('/') + 1);
}

void FileReplacement::checkTarget() {
    struct stat status {};
    if (::fstatat(folder_, name_.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) {
            fail(systemMessage(errno));
        }
        targetExists_ = false;
        mode_ = 0666 & ~currentUmask();
        return;
    }
    if (options_.createOnly) {
        fail(systemMessage(EEXIST));
    }
    if (S_ISDIR(status.st_mode)) {
        fail(systemMessage(EISDIR));
    }
    if (!S_ISREG(status.st_mode)) {
        fail(QStringLiteral("不是一般檔案"));
    }
    // Where writing the file in place would fail, replacing it fails too;
    // a file nobody may write is kept from root as well.
    if (::faccessat(folder_, name_.constData(), W_OK, AT_EACCESS) != 0) {
        fail(systemMessage(errno));
    }
    if ((status.st_mode & 0222) == 0) {
        fail(systemMessage(EACCES));
    }
    targetExists_ = true;
    mode_ = status.st_mode & 0777;
    owner_ = status.st_uid;
    group_ = status.st_gid;
}

void FileReplacement::openUnnamed() {
    descriptor_ = ::openat(folder_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (descriptor_ >= 0) {
        return;
    }
    // File systems without unnamed files say so in one of these ways.
    if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) {
        openNamed();
        return;
    }
    fail(systemMessage(errno));
}

void FileReplacement::openNamed() {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const QByteArray name = randomName();
        descriptor_ = ::openat(folder_, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (descriptor_ >= 0) {
            temporaryName_ = name;
            return;
        }
        if (errno != EEXIST) {
            fail(systemMessage(errno));
        }
    }
    fail(systemMessage(EEXIST));
}

int writeAll(int descriptor, QByteArrayView bytes) {
    const char* data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t count = ::write(descriptor, data, static_cast<std::size_t>(left));
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        data += count;
        left -= count;
    }
    return 0;
}

void FileReplacement::write(QByteArrayView bytes) {
    if (const int code = writeAll(descriptor_, bytes); code != 0) {
        fail(systemMessage(code));
    }
}

void FileReplacement::copyFrom(const QString& source) {
    const int in = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        fail(systemMessage(errno));
    }
    QByteArray block(256 * 1024, Qt::Uninitialized);
    try {
        for (;;) {
            const ssize_t count = ::read(in, block.data(), static_cast<std::size_t>(block.size()));
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count < 0) {
                fail(systemMessage(errno));
            }
            if (count == 0) {
                break;
            }
            write(QByteArrayView(block.constData(), count));
        }
    } catch (...) {
        ::close(in);
        throw;
    }
    ::close(in);
}

void FileReplacement::commit() { commit(NoFeedback()); }

void FileReplacement::commit(const Feedback& stop) {
    if (descriptor_ < 0) {
        throw std::logic_error("the file was put in place or dropped already");
    }
    if (::fchmod(descriptor_, mode_) != 0) {
        fail(systemMessage(errno));
    }
    // Root replacing someone's file leaves it theirs; others keep at least
    // the group where they may.
    if (targetExists_ && (owner_ != ::geteuid() || group_ != ::getegid()) &&
        ::fchown(descriptor_, owner_, group_) != 0) {
        (void)::fchown(descriptor_, static_cast<uid_t>(-1), group_);
    }
    if (::fdatasync(descriptor_) != 0) {
        fail(systemMessage(errno));
    }
    // The last moment a stop can keep the target as it was.
    if (stop.canceled()) {
        discard();
        throw OperationCanceled();
    }
    putInPlace();
    ::close(descriptor_);
    descriptor_ = -1;
}

// Gives the unnamed file the name `name` in the target's folder, where that
// name is free; 0, or why not.
int FileReplacement::linkIntoFolder(const char* name) {
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(descriptor_);
    return ::linkat(AT_FDCWD, self.constData(), folder_, name, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

void FileReplacement::putInPlace() {
    // Something may have taken the target's name meanwhile: a folder or a
    // device is not replaced; a link is replaced itself, not written through.
    struct stat now {};
    if (::fstatat(folder_, name_.constData(), &now, AT_SYMLINK_NOFOLLOW) == 0) {
        if (options_.createOnly) {
            fail(systemMessage(EEXIST));
        }
        if (S_ISDIR(now.st_mode)) {
            fail(systemMessage(EISDIR));
        }
        if (!S_ISREG(now.st_mode) && !S_ISLNK(now.st_mode)) {
            fail(QStringLiteral("不是一般檔案"));
        }
    }
    if (temporaryName_.isEmpty()) {
        if (options_.createOnly) {
            if (const int code = linkIntoFolder(name_.constData()); code != 0) {
                fail(systemMessage(code));
            }
            return;
        }
        // A name of its own first, then the rename over the target, which
        // takes the target's place in one step.
        for (int attempt = 0; temporaryName_.isEmpty(); ++attempt) {
            const QByteArray name = randomName();
            const int code = linkIntoFolder(name.constData());
            if (code == 0) {
                temporaryName_ = name;
            } else if (code != EEXIST || attempt + 1 == kNameAttempts) {
                fail(systemMessage(code));
            }
        }
    }
    int renamed = 0;
    if (options_.createOnly) {
        renamed = static_cast<int>(::syscall(SYS_renameat2, folder_, temporaryName_.constData(), folder_,
                                             name_.constData(), RENAME_NOREPLACE));
        if (renamed != 0 && (errno == ENOSYS || errno == EINVAL)) {
            renamed = ::linkat(folder_, temporaryName_.constData(), folder_, name_.constData(), 0);
            if (renamed == 0) {
                ::unlinkat(folder_, temporaryName_.constData(), 0);
            }
        }
    } else {
        renamed = ::renameat(folder_, temporaryName_.constData(), folder_, name_.constData());
    }
    if (renamed != 0) {
        const int code = errno;
        discard();
        fail(systemMessage(code));
    }
    temporaryName_.clear();
}

void FileReplacement::discard() noexcept {
    if (descriptor_ < 0) {
        return;
    }
    if (!temporaryName_.isEmpty()) {
        // Only the file made here goes, should its name have been taken over.
        struct stat made {};
        struct stat named {};
        if (::fstat(descriptor_, &made) == 0 &&
            ::fstatat(folder_, temporaryName_.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(made, named)) {
            ::unlinkat(folder_, temporaryName_.constData(), 0);
        }
        temporaryName_.clear();
    }
    ::close(descriptor_);
    descriptor_ = -1;
}

}  // namespace tarnwell
