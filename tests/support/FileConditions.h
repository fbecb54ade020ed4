#pragma once

// Conditions a test puts files or the process in, to see what writing does
// under them: a file or folder nobody may write, a disc that fills up, a
// character locale such as Traditional Chinese Big5.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>

#include <clocale>
#include <cstring>
#include <fcntl.h>
#include <linux/fs.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/FileSizeLimit.h"
#include "support/TestEnvironment.h"

namespace tarnwell::test {

// A system error as the program's messages word it: Qt's translation where
// it has one, the C library's text otherwise.
inline QString systemErrorText(int code) {
    return QCoreApplication::translate("QIODevice", std::strerror(code));
}

// Makes a file or folder unwritable for whoever runs the test. Permission
// bits do not stop root, so for root the immutable flag is set as well.
class Unwritable {
public:
    explicit Unwritable(const QString& target) : target_(QFile::encodeName(target)) {
        struct stat info {};
        ::stat(target_.constData(), &info);
        mode_ = info.st_mode & 07777;
        ::chmod(target_.constData(), mode_ & ~0222);
        if (::geteuid() == 0) {
            immutable_ = setImmutable(true);
        }
    }
    ~Unwritable() {
        if (immutable_) {
            setImmutable(false);
        }
        ::chmod(target_.constData(), mode_);
    }
    Unwritable(const Unwritable&) = delete;
    Unwritable& operator=(const Unwritable&) = delete;

    bool holds() const { return ::geteuid() != 0 || immutable_; }

private:
    bool setImmutable(bool on) {
        const int fd = ::open(target_.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            return false;
        }
        int flags = 0;
        bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (done) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        ::close(fd);
        return done;
    }

    QByteArray target_;
    mode_t mode_ = 0;
    bool immutable_ = false;
};

#define REQUIRE_UNWRITABLE(guard)                                                         \
    if (!(guard).holds()) {                                                               \
        GTEST_SKIP() << "running as root on a file system without the immutable flag: " \
                        "nothing here can refuse a write";                               \
    }

// Switches LC_CTYPE (what the locale's text encoding follows) for one test
// and back.
class CharacterLocale {
public:
    explicit CharacterLocale(const char* name) : before_(std::setlocale(LC_CTYPE, nullptr)) {
        active_ = std::setlocale(LC_CTYPE, name) != nullptr;
    }
    ~CharacterLocale() { std::setlocale(LC_CTYPE, before_.c_str()); }
    CharacterLocale(const CharacterLocale&) = delete;
    CharacterLocale& operator=(const CharacterLocale&) = delete;
    bool active() const { return active_; }

private:
    std::string before_;
    bool active_ = false;
};

}  // namespace tarnwell::test

// Switches to the Traditional Chinese Big5 locale that setup.sh generates,
// or ends the test: failed under CI=true, skipped elsewhere.
#define TARNWELL_REQUIRE_BIG5_LOCALE(var)                                                 \
    ::tarnwell::test::CharacterLocale var("zh_TW.BIG5");                                  \
    if (!var.active()) {                                                                  \
        if (::tarnwell::test::underCi()) {                                                \
            FAIL() << "the zh_TW.BIG5 locale is missing (./setup.sh deps generates it)";  \
        }                                                                                 \
        GTEST_SKIP() << "no zh_TW.BIG5 locale (./setup.sh deps generates it)";            \
    }
