#include "session/RunMessages.h"

#include <QDateTime>
#include <QLocale>

#include "dataaccess/ValueText.h"

namespace tarnwell {

QString currentDateTimeText() {
    const QLocale locale = QLocale::system();
    const QDateTime now = QDateTime::currentDateTime();
    return locale.toString(now.date(), locale.dateFormat(QLocale::ShortFormat)) + QLatin1Char(' ') +
           locale.toString(now.time(), db::timeFormatWithoutZone(locale.timeFormat(QLocale::LongFormat)));
}

QString secondsText(double seconds) {
    QLocale locale = QLocale::system();
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(seconds, 'f', 3);
}

QString runStartedLine(const QString& when) { return QStringLiteral("執行起始：") + when; }

QString runEndedLine(const QString& when) { return QStringLiteral("執行結束：") + when; }

QString rowsAffectedLine(std::int64_t rows) { return QStringLiteral("共 %1 被異動").arg(rows); }

QString elapsedLine(qint64 milliseconds) {
    return QStringLiteral("共 ") + secondsText(static_cast<double>(milliseconds) / 1000.0) + QStringLiteral(" 秒");
}

QString connectionFailurePrefix(RunEngine engine) {
    return engine == RunEngine::Alias ? QStringLiteral("BDE_連線失敗: ") : QStringLiteral("ADO_連線失敗: ");
}

QString queryFailurePrefix(RunEngine engine) {
    return engine == RunEngine::Alias ? QStringLiteral("BDE_查詢失敗: ") : QStringLiteral("ADO_查詢失敗: ");
}

}  // namespace tarnwell
