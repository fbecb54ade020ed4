#pragma once

#include <QString>
#include <QStringList>

class QDialog;
class QWidget;

namespace tarnwell {

// Where the README may be, in the order they are tried: an installation
// around the program (<bin>/../share/doc/tarnwell), the configured
// installation folder, the source tree the program was built from.
QStringList readmeCandidates();
// The first candidate that exists, or "".
QString findReadme();

// The README's part on connection strings: from its heading "### Connection
// strings" up to the next heading of a higher level; "" when it has none.
QString connectionStringHelpText(const QString& readme);

// Shows that part in a help window beside `parent` (one per parent), or says
// that the README cannot be found. The window, or null.
QDialog* showConnectionStringHelp(QWidget* parent);

}  // namespace tarnwell
