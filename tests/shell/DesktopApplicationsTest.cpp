// Finding the desktop's application for a file type by the freedesktop.org
// rules, and the command line its desktop entry gives, on folders of the
// test's own in place of the XDG ones.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <map>

#include "output/DesktopApplications.h"

namespace tarnwell::test {
namespace {

const QString kType = QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet");

class DesktopApplicationsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        for (const char* name : {"XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS",
                                 "XDG_CURRENT_DESKTOP"}) {
            saved[name] = qgetenv(name);
        }
        qputenv("XDG_DATA_HOME", path("home-data").toUtf8());
        qputenv("XDG_DATA_DIRS", (path("data1") + u':' + path("data2")).toUtf8());
        qputenv("XDG_CONFIG_HOME", path("home-config").toUtf8());
        qputenv("XDG_CONFIG_DIRS", path("config").toUtf8());
        qputenv("XDG_CURRENT_DESKTOP", "Test:GNOME");
    }

    void TearDown() override {
        for (const auto& [name, value] : saved) {
            if (value.isNull()) {
                qunsetenv(name.c_str());
            } else {
                qputenv(name.c_str(), value);
            }
        }
    }

    QString path(const QString& relative) const { return root.filePath(relative); }

    void write(const QString& relative, const QByteArray& text) const {
        const QString file = path(relative);
        QDir().mkpath(QFileInfo(file).absolutePath());
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(text);
    }

    void entry(const QString& relative, const QByteArray& extra = {}) const {
        write(relative, "[Desktop Entry]\nType=Application\nName=" + QFileInfo(relative).baseName().toUtf8() +
                            "\nExec=/bin/true %f\n" + extra);
    }

    static QString found() {
        const auto application = defaultApplicationFor(kType);
        return application ? application->id : QStringLiteral("(none)");
    }

    QTemporaryDir root;
    std::map<std::string, QByteArray> saved;
};

TEST_F(DesktopApplicationsTest, defaultsThenAssociationsThenEntriesListingTheType) {
    EXPECT_EQ(found(), "(none)");

    // data2's calc is hidden behind data1's entry of the same id, which does
    // not list the type.
    entry("data2/applications/calc.desktop", "MimeType=" + kType.toUtf8() + ";\n");
    entry("data1/applications/calc.desktop");
    EXPECT_EQ(found(), "(none)");
    entry("data2/applications/office/sheets.desktop", "MimeType=text/csv;" + kType.toUtf8() + ";\n");
    EXPECT_EQ(found(), "office-sheets.desktop");

    entry("home-data/applications/mine.desktop");
    entry("data1/applications/hidden.desktop", "Hidden=true\n");
    entry("data1/applications/notinstalled.desktop", "TryExec=/no/such/program\n");
    write("config/mimeapps.list", "[Added Associations]\n" + kType.toUtf8() + "=mine.desktop;\n");
    EXPECT_EQ(found(), "mine.desktop");
    write("home-config/mimeapps.list", "[Removed Associations]\n" + kType.toUtf8() + "=mine.desktop;office-sheets.desktop\n");
    EXPECT_EQ(found(), "(none)") << "removed from a more important list";

    write("data1/applications/mimeapps.list",
          "[Default Applications]\n" + kType.toUtf8() + "=gone.desktop;hidden.desktop;notinstalled.desktop;calc.desktop;\n");
    EXPECT_EQ(found(), "calc.desktop") << "the first default that can start, removed or not";
    write("config/gnome-mimeapps.list", "[Default Applications]\n" + kType.toUtf8() + "=mine.desktop\n");
    EXPECT_EQ(found(), "mine.desktop") << "the desktop's own list comes first";
}

TEST_F(DesktopApplicationsTest, theExecLineGivesTheCommandForAFile) {
    DesktopApplication app{"a.desktop", "/apps/a.desktop", "Calc", {}, "calc-icon", {}};
    const QString file = QStringLiteral("/tmp/轉存 1.xlsx");
    const auto command = [&](const char* exec) {
        app.exec = QString::fromUtf8(exec);
        return commandLineFor(app, file);
    };
    EXPECT_EQ(command("calc %U"), QStringList({"calc", "file:///tmp/%E8%BD%89%E5%AD%98%201.xlsx"}));
    EXPECT_EQ(command("calc --view %f"), QStringList({"calc", "--view", file}));
    EXPECT_EQ(command("\"/opt/my calc/bin\" \"--title=a \\\"b\\\"\" %F"),
              QStringList({"/opt/my calc/bin", "--title=a \"b\"", file}));
    EXPECT_EQ(command("calc %i --name=%c 100%% %k"),
              QStringList({"calc", "--icon", "calc-icon", "--name=Calc", "100%", "/apps/a.desktop", file}))
        << "the file goes last when the line has no place for it";
    EXPECT_EQ(command("calc  -o%f %d"), QStringList({"calc", "-o" + file}));
}

}  // namespace
}  // namespace tarnwell::test
