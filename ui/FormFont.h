#pragma once

class QFont;
class QWidget;

namespace tarnwell {

// Gives `root` and every control inside it `font`. A desktop theme may set
// fonts by kind of control (item views, headers, tab bars, labels, buttons),
// which those controls would take instead of their window's.
void setFormFont(QWidget& root, const QFont& font);

// The font of that family with a character height of `pixels`.
QFont pixelFont(const char* family, int pixels);

}  // namespace tarnwell
