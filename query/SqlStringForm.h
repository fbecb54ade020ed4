#pragma once

#include <QString>

namespace tarnwell {

// The SQL memo's text as these tools see it: lines joined by "\r\n"; a break
// at the very end does not start a further line, and an empty text has no
// lines. Both tools keep such a final break where it is.

// Turns SQL into the string-literal form that is pasted into program source:
// every quote doubled, then each line written as "+'" line "'".
QString toProgramStringForm(const QString& text);

// Turns program-string source (also with an assignment in front and a
// terminating semicolon) back into runnable SQL.
QString fromProgramStringForm(const QString& text);

}  // namespace tarnwell
