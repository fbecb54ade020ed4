// The command line, and the fonts the windows ask for.
#include <gtest/gtest.h>

#include <QFontInfo>
#include <QFontMetrics>
#include <QProcess>
#include <QTextLayout>

#include "shell/CommandLine.h"
#include "support/ChildProcess.h"
#include "support/QtPrinters.h"

namespace tarnwell {
namespace {

CommandLine::Action actionFor(const QStringList& arguments) {
    return parseCommandLine(QStringList{"tarnwell"} + arguments).action;
}

TEST(CommandLineTest, HelpVersionQtOptionsAndRefusals) {
    using Action = CommandLine::Action;
    EXPECT_EQ(actionFor({}), Action::Run);
    EXPECT_EQ(actionFor({"--help"}), Action::ShowHelp);
    EXPECT_EQ(actionFor({"-h"}), Action::ShowHelp);
    EXPECT_EQ(actionFor({"--version"}), Action::ShowVersion);
    EXPECT_EQ(actionFor({"-platform", "offscreen"}), Action::Run);
    EXPECT_EQ(actionFor({"-platform", "offscreen", "--version"}), Action::ShowVersion);
    EXPECT_EQ(actionFor({"--bogus", "--help"}), Action::ShowHelp);

    const CommandLine unknown = parseCommandLine({"tarnwell", "--bogus"});
    EXPECT_EQ(unknown.action, Action::Refuse);
    EXPECT_EQ(unknown.error, "unknown option '--bogus'");
    EXPECT_EQ(actionFor({"file.sql"}), Action::Refuse);
    EXPECT_EQ(actionFor({"-platform"}), Action::Refuse);
}

struct ProgramRun {
    int exitCode;
    QString out;
    QString err;
};

// Runs the program where it could not open a window at all: no display.
ProgramRun runWithoutDisplay(const QStringList& arguments) {
    QProcess process;
    QProcessEnvironment environment = test::childEnvironment();
    environment.remove("DISPLAY");
    environment.remove("WAYLAND_DISPLAY");
    environment.insert("QT_QPA_PLATFORM", "xcb");
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(TARNWELL_BINARY), arguments);
    EXPECT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    return {process.exitCode(), QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

TEST(CommandLineTest, HelpAndVersionNeedNoWindowSystem) {
    const ProgramRun help = runWithoutDisplay({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.out.startsWith("Usage: tarnwell")) << help.out.toStdString();
    EXPECT_EQ(help.err, "");

    const ProgramRun version = runWithoutDisplay({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "Tarnwell " TARNWELL_VERSION "\n");

    const ProgramRun unknown = runWithoutDisplay({"--bogus"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_EQ(unknown.out, "");
    EXPECT_TRUE(unknown.err.contains("unknown option '--bogus'")) << unknown.err.toStdString();
}

// The family that actually draws `text` in `font`.
QStringList familiesDrawing(const QString& text, const QFont& font) {
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    QStringList families;
    for (const QGlyphRun& run : layout.glyphRuns()) {
        families << run.rawFont().familyName();
    }
    return families;
}

TEST(FontsTest, WindowsFontNamesMapToInstalledFaces) {
    EXPECT_EQ(QFontInfo(QFont("細明體")).family(), "AR PL UMing TW");
    EXPECT_EQ(QFontInfo(QFont("標楷體")).family(), "AR PL UKai TW");
    // Two packages carry Nimbus Sans; the family name may name the foundry.
    EXPECT_TRUE(QFontInfo(QFont("Arial")).family().startsWith("Nimbus Sans"));
    EXPECT_TRUE(QFontInfo(QFont("MS Sans Serif")).family().startsWith("Nimbus Sans"));
    // Chinese captions in the sans fonts are drawn by a Traditional Chinese face.
    for (const char* family : {"MS Sans Serif", "Arial"}) {
        EXPECT_EQ(familiesDrawing("連結瀏覽器", QFont(family)), QStringList({"Noto Sans CJK TC"}))
            << family;
    }
}

TEST(FontsTest, TheMingFaceDrawsChineseTwiceAsWideAsAscii) {
    QFont ming("細明體");
    for (const int pixels : {11, 13, 15, 20}) {
        ming.setPixelSize(pixels);
        const QFontMetrics metrics(ming);
        EXPECT_EQ(metrics.horizontalAdvance("查詢結果"), 2 * metrics.horizontalAdvance("abcd"))
            << pixels << " px";
        EXPECT_EQ(metrics.horizontalAdvance("W"), metrics.horizontalAdvance("i")) << pixels << " px";
    }
}

}  // namespace
}  // namespace tarnwell
