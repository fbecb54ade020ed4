// The desktop's spreadsheet application: each workbook becomes a new .xlsx
// file in Tarnwell's cache folder, opened with the application the desktop
// opens .xlsx files with once it is written.
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <stdexcept>
#include <sys/stat.h>

#include "output/DesktopApplications.h"
#include "output/SpreadsheetAutomation.h"
#include "output/XlsxSheet.h"

namespace tarnwell {

namespace {

const QString kXlsxType = QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet");

// A new file name that tells when the export was made. The folder is the
// user's alone, as cache folders are; the file is made new (never put over
// one that appeared meanwhile).
QString newWorkbookPath() {
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (cache.isEmpty()) {
        cache = QDir::homePath() + QStringLiteral("/.cache");
    }
    const QString dir = cache + QStringLiteral("/tarnwell");
    if (!QDir().mkpath(cache) ||
        (::mkdir(QFile::encodeName(dir).constData(), 0700) != 0 && errno != EEXIST) || !QFileInfo(dir).isDir()) {
        throw std::runtime_error(QStringLiteral("無法建立資料夾 %1").arg(dir).toStdString());
    }
    const QString stem = dir + QStringLiteral("/tarnwell-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString path = stem + QStringLiteral(".xlsx");
    for (int n = 2; QFileInfo::exists(path) || QFileInfo(path).isSymLink(); ++n) {
        path = stem + QStringLiteral("-%1.xlsx").arg(n);
    }
    return path;
}

class DesktopSpreadsheetServer final : public SpreadsheetServer {
public:
    std::unique_ptr<SpreadsheetApplication> create() override {
        const std::optional<DesktopApplication> application = defaultApplicationFor(kXlsxType);
        if (!application) {
            throw std::runtime_error(
                "沒有設定開啟 .xlsx 檔的試算表程式。請安裝一個試算表程式（例如 LibreOffice Calc），"
                "或以 xdg-mime default <程式>.desktop " +
                kXlsxType.toStdString() + " 指定一個，再轉存一次。");
        }
        XlsxSheet::Options options;
        options.createOnly = true;
        options.show = [application = *application](const QString& path) { openWith(application, path); };
        return std::make_unique<XlsxSheet>(newWorkbookPath(), std::move(options));
    }
};

SpreadsheetServer*& currentServer() {
    static DesktopSpreadsheetServer desktop;
    static SpreadsheetServer* current = &desktop;
    return current;
}

}  // namespace

SpreadsheetServer& spreadsheetServer() { return *currentServer(); }

SpreadsheetServerOverride::SpreadsheetServerOverride(SpreadsheetServer& replacement) : previous_(currentServer()) {
    currentServer() = &replacement;
}

SpreadsheetServerOverride::~SpreadsheetServerOverride() { currentServer() = previous_; }

}  // namespace tarnwell
