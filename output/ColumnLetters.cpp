#include "output/ColumnLetters.h"

#include <array>

namespace tarnwell {

QString ColumnLetters(int column) {
    static const std::array<QString, 26> kLetters = {
        QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C"), QStringLiteral("D"), QStringLiteral("E"),
        QStringLiteral("F"), QStringLiteral("G"), QStringLiteral("H"), QStringLiteral("I"), QStringLiteral("J"),
        QStringLiteral("K"), QStringLiteral("L"), QStringLiteral("M"), QStringLiteral("N"), QStringLiteral("O"),
        QStringLiteral("P"), QStringLiteral("Q"), QStringLiteral("R"), QStringLiteral("S"), QStringLiteral("T"),
        QStringLiteral("U"), QStringLiteral("V"), QStringLiteral("W"), QStringLiteral("X"), QStringLiteral("Y"),
        QStringLiteral("Z")};
    QString name;
    // Base 26 with the digits 1 to 26: there is no zero digit.
    for (int n = column; n > 0; n = (n - 1) / 26) {
        name.prepend(kLetters[static_cast<std::size_t>((n - 1) % 26)]);
    }
    return name;
}

}  // namespace tarnwell
