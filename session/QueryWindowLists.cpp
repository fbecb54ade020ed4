#include "session/QueryWindowLists.h"

#include <QComboBox>
#include <QSignalBlocker>

#include "session/ConnectionRegistry.h"

namespace tarnwell {

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
