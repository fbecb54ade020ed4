#pragma once

#include <QStringView>

namespace tarnwell {

// Widths of report text in display columns of the fixed-pitch report face:
// a wide East Asian character takes two columns, as its two bytes did in Big5,
// and so do the symbols that the Ming face draws as wide as a Chinese
// character (Greek, Cyrillic, box drawing, circled numbers); Latin letters
// take one; controls, combining and format characters take none.
int displayColumns(char32_t character);
int displayColumns(QStringView text);

// The longest head of `text` that fits in `columns` display columns. A cut
// never splits a character: a surrogate pair stays whole, and a wide character
// that would straddle the limit is left out entirely, along with the combining
// marks that belong to it.
QStringView leadingColumns(QStringView text, int columns);

}  // namespace tarnwell
