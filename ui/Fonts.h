#pragma once

namespace tarnwell {

// Maps the font names the windows ask for ("細明體", "標楷體", "MS Sans Serif",
// "Arial") onto installed fonts.
void registerFontSubstitutions();

// The substitutions, and a default font for menus and dialogs whose Chinese
// falls to a Traditional Chinese face. Call after the application object
// exists and before the first window is made.
void setUpFonts();

}  // namespace tarnwell
