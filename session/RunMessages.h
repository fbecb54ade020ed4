#pragma once

#include <QString>
#include <QtGlobal>
#include <cstdint>

namespace tarnwell {

// The words a run of SQL reports in: the lines of the query window's
// Messages page and status bar, which a batch run writes to standard error
// in the same words.

// Which way a run reaches its database: an alias of the alias engine (BDE)
// or a connection string (ADO).
enum class RunEngine { Alias, ConnectionString };

// Now, in the system locale's short date format, a blank, and its long time
// format without the time zone.
QString currentDateTimeText();
// Seconds as "0.000" with the system locale's decimal separator.
QString secondsText(double seconds);

// "執行起始：" and "執行結束：" with the time of day as currentDateTimeText()
// gives it.
QString runStartedLine(const QString& when);
QString runEndedLine(const QString& when);
// "共 n 被異動": the rows a statement without a result set changed.
QString rowsAffectedLine(std::int64_t rows);
// "共 0.123 秒": the time a run took, in whole milliseconds as a tick count
// gives them.
QString elapsedLine(qint64 milliseconds);

// What goes before the engine's own message when connecting or running
// fails: "BDE_連線失敗: ", "ADO_連線失敗: ", "BDE_查詢失敗: ", "ADO_查詢失敗: ".
QString connectionFailurePrefix(RunEngine engine);
QString queryFailurePrefix(RunEngine engine);

}  // namespace tarnwell
