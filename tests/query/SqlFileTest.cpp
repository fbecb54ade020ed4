#include <gtest/gtest.h>

#include "PrintQt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "output/Feedback.h"
#include "output/FileReplacement.h"
#include "query/SqlFile.h"
#include "support/FileConditions.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace tarnwell {
namespace {

using test::CharacterLocale;
using test::FileSizeLimit;
using test::Unwritable;
using test::systemErrorText;

class SqlFiles : public ::testing::Test {
protected:
    QString path(const QString& name) const { return QDir(folder.path()).filePath(name); }

    QString write(const QString& name, const QByteArray& bytes) const {
        QFile file(path(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return file.fileName();
    }

    static QByteArray read(const QString& file) {
        QFile in(file);
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray("<missing>");
    }

    QStringList entries() const {
        return QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    QTemporaryDir folder;
};

// "中文" in Big5 and in UTF-8.
const QByteArray big5Chinese("\xa4\xa4\xa4\xe5");
const QByteArray utf8Chinese("\xe4\xb8\xad\xe6\x96\x87");

TEST_F(SqlFiles, loadingGivesEveryLineACrLf) {
    EXPECT_EQ(loadSqlFile(write("crlf.sql", "a\r\nb\r\n")), QStringLiteral("a\r\nb\r\n"));
    EXPECT_EQ(loadSqlFile(write("lf.sql", "a\nb\n\nc")), QStringLiteral("a\r\nb\r\n\r\nc"));
    EXPECT_EQ(loadSqlFile(write("cr.sql", "a\rb\r")), QStringLiteral("a\r\nb\r\n"));
    EXPECT_EQ(loadSqlFile(write("mixed.sql", "a\r\nb\nc\rd\r\r\n\n\r")),
              QStringLiteral("a\r\nb\r\nc\r\nd\r\n\r\n\r\n\r\n"));
    EXPECT_EQ(loadSqlFile(write("empty.sql", "")), QString());
}

TEST_F(SqlFiles, loadingReadsTheLocaleEncodingAndFallsBackToBig5) {
    EXPECT_EQ(loadSqlFile(write("utf8.sql", "select '" + utf8Chinese + "'"), "UTF-8"),
              QStringLiteral("select '中文'"));
    // A byte-order mark is not part of the text.
    EXPECT_EQ(loadSqlFile(write("bom.sql", "\xef\xbb\xbfselect 1"), "UTF-8"),
              QStringLiteral("select 1"));
    // A legacy file is not valid UTF-8, so it is read as Big5.
    EXPECT_EQ(loadSqlFile(write("legacy.sql", "select '" + big5Chinese + "'\r\n"), "UTF-8"),
              QStringLiteral("select '中文'\r\n"));
    // Under a Big5 locale the same file is the locale's own.
    EXPECT_EQ(loadSqlFile(path("legacy.sql"), "Big5"), QStringLiteral("select '中文'\r\n"));
    // A Big5 character whose second byte is "\" or "|" stays one character.
    EXPECT_EQ(loadSqlFile(write("trail.sql", "\xa5\x5c\xa6\x7c"), "UTF-8"), QStringLiteral("功帆"));
}

TEST_F(SqlFiles, theDefaultEncodingIsTheLocales) {
    {
        // Plain ASCII would hold no Chinese at all: such a locale writes UTF-8.
        CharacterLocale ascii("C");
        ASSERT_TRUE(ascii.active());
        EXPECT_EQ(localeTextEncoding(), QByteArray("UTF-8"));
    }

    // A Traditional Chinese Big5 locale, built for this test.
    // (localedef also exits non-zero for mere warnings; what counts is the result.)
    const QString locales = path("locales");
    ASSERT_TRUE(QDir().mkpath(locales));
    [[maybe_unused]] const int status = std::system(
        QStringLiteral("localedef -i zh_TW -f BIG5 '%1/zh_TW.BIG5' >/dev/null 2>&1")
            .arg(locales).toLocal8Bit().constData());
    if (!QFileInfo(locales + QStringLiteral("/zh_TW.BIG5")).isDir()) {
        GTEST_SKIP() << "localedef cannot build zh_TW.BIG5 here";
    }
    qputenv("LOCPATH", QFile::encodeName(locales));
    CharacterLocale big5("zh_TW.BIG5");
    qunsetenv("LOCPATH");
    ASSERT_TRUE(big5.active());
    EXPECT_EQ(localeTextEncoding().toUpper(), QByteArray("BIG5"));

    const QString file = path("default.sql");
    saveSqlFile(file, QStringLiteral("中文"));
    EXPECT_EQ(read(file), big5Chinese);
    EXPECT_EQ(loadSqlFile(file), QStringLiteral("中文"));
}

TEST_F(SqlFiles, whatCannotBeLoadedRaisesTheSystemsMessage) {
    const auto messageOf = [](const QString& file) -> std::string {
        try {
            loadSqlFile(file);
        } catch (const SqlFileError& error) {
            return error.what();
        }
        return "no error";
    };
    const std::string missing = messageOf(path("missing.sql"));
    EXPECT_NE(missing.find("無法開啟檔案"), std::string::npos) << missing;
    EXPECT_NE(missing.find("missing.sql"), std::string::npos) << missing;
    EXPECT_NE(missing.find(systemErrorText(ENOENT).toStdString()), std::string::npos) << missing;

    EXPECT_NE(messageOf(QString()).find("無法開啟檔案"), std::string::npos);
    EXPECT_NE(messageOf(folder.path()).find(systemErrorText(EISDIR).toStdString()), std::string::npos);

    // A pipe would block the window forever; it is refused at once.
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("pipe.sql")).constData(), 0600), 0);
    EXPECT_NE(messageOf(path("pipe.sql")).find("無法開啟檔案"), std::string::npos);

    if (::geteuid() != 0) {
        const QString locked = write("locked.sql", "x");
        QFile::setPermissions(locked, QFileDevice::WriteOwner);
        EXPECT_NE(messageOf(locked).find(systemErrorText(EACCES).toStdString()), std::string::npos);
    }
}

TEST_F(SqlFiles, savingWritesTheTextByteForByte) {
    const QString file = path("two.SQL");
    saveSqlFile(file, QStringLiteral("select 1\r\nfrom t"), "UTF-8");
    EXPECT_EQ(read(file), QByteArray("select 1\r\nfrom t"));

    // A file with bare line feeds comes back with CR LF once saved again.
    const QString lf = write("lf.sql", "a\nb\n");
    saveSqlFile(lf, loadSqlFile(lf, "UTF-8"), "UTF-8");
    EXPECT_EQ(read(lf), QByteArray("a\r\nb\r\n"));

    // No byte-order mark; text in the encoding asked for.
    saveSqlFile(file, QStringLiteral("中文"), "UTF-8");
    EXPECT_EQ(read(file), utf8Chinese);
    saveSqlFile(file, QStringLiteral("中文"), "Big5");
    EXPECT_EQ(read(file), big5Chinese);

    saveSqlFile(file, QString(), "UTF-8");
    EXPECT_EQ(read(file), QByteArray());
    EXPECT_EQ(entries(), (QStringList{"lf.sql", "two.SQL"}));  // nothing left behind
}

TEST_F(SqlFiles, textTheEncodingCannotHoldIsRefusedNotSubstituted) {
    const QString file = write("old.sql", "old");
    try {
        saveSqlFile(file, QStringLiteral("select 1\r\nwhere a = '😀'"), "Big5");
        FAIL() << "saved text Big5 cannot hold";
    } catch (const SqlFileError& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find("無法儲存檔案"), std::string::npos) << message;
        EXPECT_NE(message.find("第 2 行第 12 個字"), std::string::npos) << message;
        EXPECT_NE(message.find("U+1F600"), std::string::npos) << message;
        EXPECT_NE(message.find("Big5"), std::string::npos) << message;
    }
    EXPECT_EQ(read(file), QByteArray("old"));
    EXPECT_THROW(saveSqlFile(path("new.sql"), QStringLiteral("café"), "Big5"), SqlFileError);
    EXPECT_FALSE(QFile::exists(path("new.sql")));

    // Half a surrogate pair cannot be written as UTF-8 either.
    EXPECT_THROW(saveSqlFile(file, QString(QChar(0xd800)), "UTF-8"), SqlFileError);
    EXPECT_EQ(read(file), QByteArray("old"));
}

std::string saveFailure(const QString& file, const QString& text) {
    try {
        saveSqlFile(file, text, "UTF-8");
    } catch (const SqlFileError& error) {
        return error.what();
    }
    return "no error";
}

bool mentionsOneOf(const std::string& message, std::initializer_list<int> codes) {
    for (const int code : codes) {
        if (message.find(systemErrorText(code).toStdString()) != std::string::npos) {
            return true;
        }
    }
    return false;
}

TEST_F(SqlFiles, aReadOnlyFileIsLeftAsItWas) {
    const QString file = write("kept.sql", "old\r\ntext");
    Unwritable readOnly(file);
    REQUIRE_UNWRITABLE(readOnly);
    const std::string message = saveFailure(file, QStringLiteral("new"));
    EXPECT_NE(message.find("無法儲存檔案"), std::string::npos) << message;
    EXPECT_TRUE(mentionsOneOf(message, {EACCES, EPERM})) << message;
    EXPECT_EQ(read(file), QByteArray("old\r\ntext"));
    EXPECT_EQ(entries(), QStringList{"kept.sql"});
}

TEST_F(SqlFiles, aReadOnlyFolderIsLeftAsItWas) {
    ASSERT_TRUE(QDir(folder.path()).mkdir("sql"));
    const QString file = write("sql/kept.sql", "old");
    Unwritable readOnly(path("sql"));
    REQUIRE_UNWRITABLE(readOnly);

    const std::string over = saveFailure(file, QStringLiteral("new"));
    EXPECT_TRUE(mentionsOneOf(over, {EACCES, EPERM})) << over;
    EXPECT_EQ(read(file), QByteArray("old"));

    const std::string fresh = saveFailure(path("sql/new.sql"), QStringLiteral("new"));
    EXPECT_TRUE(mentionsOneOf(fresh, {EACCES, EPERM})) << fresh;
    EXPECT_EQ(QDir(path("sql")).entryList(QDir::Files | QDir::Hidden), QStringList{"kept.sql"});
}

TEST_F(SqlFiles, aPathThroughAFileOrOntoAFolderCannotBeSaved) {
    write("plain.txt", "x");
    const std::string through = saveFailure(path("plain.txt/a.sql"), QStringLiteral("new"));
    EXPECT_TRUE(mentionsOneOf(through, {ENOTDIR})) << through;

    ASSERT_TRUE(QDir(folder.path()).mkdir("folder.sql"));
    const std::string onto = saveFailure(path("folder.sql"), QStringLiteral("new"));
    EXPECT_TRUE(mentionsOneOf(onto, {EISDIR})) << onto;
    EXPECT_TRUE(QFileInfo(path("folder.sql")).isDir());

    const std::string nowhere = saveFailure(path("missing/a.sql"), QStringLiteral("new"));
    EXPECT_TRUE(mentionsOneOf(nowhere, {ENOENT})) << nowhere;
}

// A file size limit makes the write itself fail part way, as a full disc does.
TEST_F(SqlFiles, aWriteThatFailsPartWayLeavesTheOldFile) {
    const QString file = write("kept.sql", "old");
    const QString big(64 * 1024, u'x');

    std::string message;
    {
        const FileSizeLimit limit(4096);
        message = saveFailure(file, big);
    }

    EXPECT_NE(message.find("無法儲存檔案"), std::string::npos) << message;
    EXPECT_TRUE(mentionsOneOf(message, {EFBIG})) << message;
    EXPECT_EQ(read(file), QByteArray("old"));
    EXPECT_EQ(entries(), QStringList{"kept.sql"});
}

// --- Replacing a file: the one way every writer of the program goes ----------------

mode_t modeOf(const QString& file) {
    struct stat status {};
    return ::lstat(QFile::encodeName(file).constData(), &status) == 0 ? status.st_mode : 0;
}

class StopNow final : public Feedback {
public:
    void setProgress(std::int64_t) override {}
    bool canceled() const override { return true; }
};

TEST_F(SqlFiles, aDeviceAPipeOrAFolderIsNeverReplaced) {
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("pipe.sql")).constData(), 0600), 0);
    std::vector<QString> targets{path("pipe.sql")};
    // A device of the same kind as /dev/null, where the system allows one.
    if (::mknod(QFile::encodeName(path("null.sql")).constData(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        targets.push_back(path("null.sql"));
    }
    ASSERT_TRUE(QFile::link(path("pipe.sql"), path("link.sql")));
    targets.push_back(path("link.sql"));
    for (const QString& target : targets) {
        const std::string message = saveFailure(target, QStringLiteral("select 1"));
        EXPECT_NE(message.find("不是一般檔案"), std::string::npos) << message;
    }
    EXPECT_TRUE(S_ISFIFO(modeOf(path("pipe.sql"))));
    EXPECT_TRUE(S_ISLNK(modeOf(path("link.sql"))));
    if (targets.size() == 3) {
        EXPECT_TRUE(S_ISCHR(modeOf(path("null.sql"))));
    }
    EXPECT_EQ(static_cast<std::size_t>(
                  QDir(folder.path()).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot).size()),
              targets.size());
}

TEST_F(SqlFiles, aReadOnlyFileIsRefusedEvenToRootAndAReplacedOneKeepsItsMode) {
    const QString readOnly = write("read-only.sql", "old");
    ASSERT_EQ(::chmod(QFile::encodeName(readOnly).constData(), 0444), 0);
    const std::string message = saveFailure(readOnly, QStringLiteral("new"));
    EXPECT_TRUE(mentionsOneOf(message, {EACCES})) << message;
    EXPECT_EQ(read(readOnly), QByteArray("old"));

    const QString mine = write("mine.sql", "old");
    ASSERT_EQ(::chmod(QFile::encodeName(mine).constData(), 0600), 0);
    saveSqlFile(mine, QStringLiteral("new"), "UTF-8");
    EXPECT_EQ(read(mine), QByteArray("new"));
    EXPECT_EQ(modeOf(mine) & 07777, 0600u);

    // A link stands for the file it names, which is replaced; the link stays.
    ASSERT_TRUE(QFile::link(mine, path("alias.sql")));
    saveSqlFile(path("alias.sql"), QStringLiteral("through the link"), "UTF-8");
    EXPECT_TRUE(S_ISLNK(modeOf(path("alias.sql"))));
    EXPECT_EQ(read(mine), QByteArray("through the link"));
    EXPECT_EQ(entries(), (QStringList{"alias.sql", "mine.sql", "read-only.sql"}));
}

TEST_F(SqlFiles, nothingPlantedBesideTheTargetIsWrittenThroughOrRemoved) {
    const QString victim = write("victim", "not yours");
    // Where writers used to put their work before the rename.
    for (const char* planted : {"out.sql.part", "out.sql.tmp", ".out.sql.part"}) {
        ASSERT_TRUE(QFile::link(victim, path(planted)));
    }
    saveSqlFile(path("out.sql"), QStringLiteral("select 1"), "UTF-8");
    EXPECT_EQ(read(path("out.sql")), QByteArray("select 1"));
    EXPECT_TRUE(S_ISREG(modeOf(path("out.sql"))));
    EXPECT_EQ(read(victim), QByteArray("not yours"));
    EXPECT_EQ(entries(), (QStringList{".out.sql.part", "out.sql", "out.sql.part", "out.sql.tmp", "victim"}));

    // A link someone else planted in a shared folder (world-writable, sticky)
    // is not followed, as the kernel follows no such link for open().
    if (::geteuid() == 0) {
        ASSERT_TRUE(QDir(folder.path()).mkdir(QStringLiteral("shared")));
        ASSERT_EQ(::chmod(QFile::encodeName(path("shared")).constData(), 01777), 0);
        ASSERT_TRUE(QFile::link(victim, path("shared/report.sql")));
        ASSERT_EQ(::lchown(QFile::encodeName(path("shared/report.sql")).constData(), 65534, 65534), 0);
        const std::string message = saveFailure(path("shared/report.sql"), QStringLiteral("select 1"));
        EXPECT_TRUE(mentionsOneOf(message, {EACCES})) << message;
        EXPECT_EQ(read(victim), QByteArray("not yours"));
    }
}

// Where the file system has no files without a name, the temporary file has
// one: new, the user's alone, and gone again whatever happens.
TEST_F(SqlFiles, aNamedTemporaryFileIsNewPrivateAndNeverLeftBehind) {
    const QString target = write("kept.sql", "old");
    ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0640), 0);
    FileReplacement::Options named;
    named.namedTemporary = true;
    {
        FileReplacement file(target, named);
        struct stat status {};
        ASSERT_EQ(::fstat(file.descriptor(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, 0600u);
        EXPECT_EQ(entries().size(), 2) << "the temporary file beside the target";
        file.write("new");
        EXPECT_THROW(file.commit(StopNow()), OperationCanceled);
    }
    EXPECT_EQ(read(target), QByteArray("old"));
    EXPECT_EQ(entries(), QStringList{"kept.sql"});

    FileReplacement file(target, named);
    file.write("new");
    file.commit();
    EXPECT_EQ(read(target), QByteArray("new"));
    EXPECT_EQ(modeOf(target) & 07777, 0640u);
    EXPECT_EQ(entries(), QStringList{"kept.sql"});
}

TEST_F(SqlFiles, aStopRightBeforeTheRenameOrANewOnlyTargetTakenKeepsWhatIsThere) {
    const QString target = write("kept.sql", "old");
    {
        FileReplacement file(target);
        file.write("new");
        EXPECT_THROW(file.commit(StopNow()), OperationCanceled);
    }
    EXPECT_EQ(read(target), QByteArray("old"));

    FileReplacement::Options createOnly;
    createOnly.createOnly = true;
    EXPECT_THROW(FileReplacement(target, createOnly), TextFileError);
    FileReplacement fresh(path("fresh.sql"), createOnly);
    fresh.write("mine");
    // Someone else's file appears under the name meanwhile: it stays.
    write("fresh.sql", "theirs");
    EXPECT_THROW(fresh.commit(), TextFileError);
    EXPECT_EQ(read(path("fresh.sql")), QByteArray("theirs"));
    EXPECT_EQ(entries(), (QStringList{"fresh.sql", "kept.sql"}));
}

}  // namespace
}  // namespace tarnwell
