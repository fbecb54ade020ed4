#include "shell/QueryWindowLists.h"

#include <QApplication>
#include <QComboBox>
#include <QSignalBlocker>
#include <QWidget>
#include <algorithm>
#include <optional>

#include "shell/ConnectionRegistry.h"

namespace tarnwell {

namespace {

const QLatin1String kQueryWindowName("frmQueryEditor");

std::optional<long long> creationNumber(const QString& objectName) {
    const QString prefix = kQueryWindowName + QLatin1Char('_');
    const qsizetype at = objectName.indexOf(prefix);
    if (at < 0) {
        return std::nullopt;
    }
    bool ok = false;
    const long long number = objectName.mid(at + prefix.size()).toLongLong(&ok);
    return ok ? std::optional<long long>(number) : std::nullopt;
}

bool createdBefore(const QWidget* left, const QWidget* right) {
    const auto leftNumber = creationNumber(left->objectName());
    const auto rightNumber = creationNumber(right->objectName());
    if (leftNumber && rightNumber) {
        return *leftNumber < *rightNumber;
    }
    if (leftNumber.has_value() != rightNumber.has_value()) {
        return leftNumber.has_value();
    }
    return left->objectName() < right->objectName();
}

}  // namespace

QList<QWidget*> openQueryWindows() {
    QList<QWidget*> windows;
    const QWidgetList all = QApplication::allWidgets();
    for (QWidget* widget : all) {
        if (widget->objectName().contains(kQueryWindowName)) {
            windows << widget;
        }
    }
    std::stable_sort(windows.begin(), windows.end(), createdBefore);
    return windows;
}

void refillConnectionList(const ConnectionRegistry& registry, const QComboBox& linkType,
                          QComboBox& connectAlias) {
    const QSignalBlocker quiet(connectAlias);
    const QString shown = connectAlias.currentText();
    connectAlias.clear();
    connectAlias.addItems(registry.choicesFor(linkType.currentText()));
    if (connectAlias.count() == 0) {
        return;
    }
    const int keep = connectAlias.findText(shown, Qt::MatchExactly | Qt::MatchCaseSensitive);
    connectAlias.setCurrentIndex(keep >= 0 ? keep : 0);
}

}  // namespace tarnwell
