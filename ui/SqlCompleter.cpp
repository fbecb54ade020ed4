#include "ui/SqlCompleter.h"

#include <QAbstractListModel>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QListView>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <algorithm>
#include <array>

namespace tarnwell {

namespace {

constexpr int kRowsShown = 10;
constexpr int kMinimumWidth = 180;
constexpr int kMaximumWidth = 420;
// A change this long is a paste or a replacement, not typing.
constexpr int kLongestTyped = 32;
// Rows measured for the list's width: enough to see the long names of a
// screenful, few enough to stay quick on a list of thousands.
constexpr int kRowsMeasured = 200;

bool isNameCharacter(QChar c) noexcept { return c.isLetterOrNumber() || c == u'_'; }

}  // namespace

// The items of the list, as completionItems() gives them.
class CompletionListModel : public QAbstractListModel {
public:
    using QAbstractListModel::QAbstractListModel;

    void setItems(std::vector<CompletionItem> items) {
        beginResetModel();
        items_ = std::move(items);
        endResetModel();
    }
    const CompletionItem& item(int row) const { return items_[static_cast<std::size_t>(row)]; }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : static_cast<int>(items_.size());
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= rowCount()) {
            return {};
        }
        const CompletionItem& shown = item(index.row());
        switch (role) {
        case Qt::DisplayRole:
            return shown.text;
        case Qt::DecorationRole:
            return completionIcon(shown.kind);
        case Qt::ToolTipRole:
            return shown.detail.isEmpty() ? QVariant() : QVariant(shown.detail);
        default:
            return {};
        }
    }

private:
    std::vector<CompletionItem> items_;
};

QIcon completionIcon(CompletionKind kind) {
    static const std::array<QIcon, 7> icons = [] {
        std::array<QIcon, 7> loaded;
        const char* const names[] = {"column", "key", "table", "view", "alias", "schema", "keyword"};
        for (std::size_t i = 0; i < loaded.size(); ++i) {
            loaded[i] = QIcon(QStringLiteral(":/images/catalog/%1.svg").arg(QLatin1String(names[i])));
        }
        return loaded;
    }();
    return icons[static_cast<std::size_t>(kind)];
}

SqlCompleter::SqlCompleter(QPlainTextEdit& editor) : QObject(&editor), editor_(editor) {
    setObjectName(QStringLiteral("SqlCompleter"));
    // A window of its own that never takes the focus: the editor keeps the
    // keyboard and its input method.
    list_ = new QListView(&editor);
    list_->setObjectName(QStringLiteral("LstCompletion"));
    list_->setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint);
    list_->setAttribute(Qt::WA_ShowWithoutActivating);
    list_->setFocusPolicy(Qt::NoFocus);
    list_->setUniformItemSizes(true);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setIconSize(QSize(16, 16));
    model_ = new CompletionListModel(list_);
    list_->setModel(model_);
    connect(list_, &QAbstractItemView::clicked, this, [this](const QModelIndex& index) { take(index.row()); });

    editor_.installEventFilter(this);
    connect(editor_.document(), &QTextDocument::contentsChange, this, &SqlCompleter::textChanged);
    connect(&editor_, &QPlainTextEdit::cursorPositionChanged, this, &SqlCompleter::caretMoved);
    connect(editor_.verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        if (isOpen()) {
            showUnderCaret();
        }
    });
}

SqlCompleter::~SqlCompleter() = default;

void SqlCompleter::setCatalog(std::shared_ptr<const db::Catalog> catalog) {
    catalog_ = std::move(catalog);
    if (isOpen()) {
        refresh(requested_);
    }
}

void SqlCompleter::setDialect(sql::Dialect dialect) { dialect_ = dialect; }

bool SqlCompleter::isOpen() const { return list_->isVisible(); }

bool SqlCompleter::complete() { return refresh(true); }

void SqlCompleter::close() {
    list_->hide();
    caret_ = -1;
}

bool SqlCompleter::refresh(bool requested) {
    const QTextCursor cursor = editor_.textCursor();
    if (cursor.hasSelection()) {
        close();
        return false;
    }
    // One character a position, line breaks included: offsets are the
    // document's positions.
    const QString text = editor_.document()->toPlainText();
    const int caret = cursor.position();
    const sql::CompletionContext context = sql::completionContext(
        dialect_, std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())),
        static_cast<std::size_t>(caret));
    const bool offered = context.place != sql::CompletionPlace::None &&
                         (requested || context.place == sql::CompletionPlace::Member || !context.prefix.empty()) &&
                         (requested || context.place != sql::CompletionPlace::AfterName);
    static const db::Catalog kNoCatalog;
    std::vector<CompletionItem> items =
        offered ? completionItems(context, catalog_ ? *catalog_ : kNoCatalog, dialect_) : std::vector<CompletionItem>();
    const int replaceBegin = static_cast<int>(context.replaceBegin);
    // The name typed is the one name offered: nothing is left to choose.
    if (items.empty() || (items.size() == 1 && items.front().insertText == text.mid(replaceBegin, caret - replaceBegin))) {
        close();
        return false;
    }
    model_->setItems(std::move(items));
    caret_ = caret;
    replaceBegin_ = replaceBegin;
    requested_ = requested;
    list_->setCurrentIndex(model_->index(0, 0));
    showUnderCaret();
    return true;
}

bool SqlCompleter::startsListByTyping(int position, int added) const {
    if (added <= 0 || added > kLongestTyped) {
        return false;
    }
    const QTextDocument& document = *editor_.document();
    const int caret = editor_.textCursor().position();
    if (caret < position || caret > position + added || caret == 0) {
        return false;
    }
    const QChar last = document.characterAt(caret - 1);
    if (last == u'.') {
        return true;
    }
    return isNameCharacter(last) && caret >= 2 && isNameCharacter(document.characterAt(caret - 2));
}

void SqlCompleter::textChanged(int position, int /*removed*/, int added) {
    if (inserting_) {
        return;
    }
    if (isOpen()) {
        refresh(requested_);
    } else if (startsListByTyping(position, added)) {
        refresh(false);
    }
}

void SqlCompleter::caretMoved() {
    if (!inserting_ && isOpen() && editor_.textCursor().position() != caret_) {
        close();
    }
}

void SqlCompleter::take(int row) {
    if (row < 0 || row >= model_->rowCount()) {
        return;
    }
    const QString insertText = model_->item(row).insertText;
    QTextCursor cursor = editor_.textCursor();
    cursor.setPosition(replaceBegin_);
    cursor.setPosition(caret_, QTextCursor::KeepAnchor);
    inserting_ = true;
    cursor.insertText(insertText);
    editor_.setTextCursor(cursor);
    inserting_ = false;
    close();
}

void SqlCompleter::moveCurrent(int rows) {
    const int last = model_->rowCount() - 1;
    const int row = std::clamp(list_->currentIndex().row() + rows, 0, last);
    list_->setCurrentIndex(model_->index(row, 0));
}

void SqlCompleter::showUnderCaret() {
    // A window of its own inherits no font: it takes the editor's.
    list_->setFont(editor_.font());
    QTextCursor start = editor_.textCursor();
    start.setPosition(replaceBegin_);
    const QRect caret = editor_.cursorRect(start);
    const int frame = list_->frameWidth();
    const int rowHeight = std::max(list_->sizeHintForRow(0), list_->fontMetrics().height());
    int widest = 0;
    const int measured = std::min(model_->rowCount(), kRowsMeasured);
    for (int row = 0; row < measured; ++row) {
        widest = std::max(widest, list_->fontMetrics().horizontalAdvance(model_->item(row).text));
    }
    const int width = std::clamp(widest + list_->iconSize().width() + list_->verticalScrollBar()->sizeHint().width() +
                                     2 * frame + 16,
                                 kMinimumWidth, kMaximumWidth);
    const int height = std::min(model_->rowCount(), kRowsShown) * rowHeight + 2 * frame;
    QPoint at = editor_.viewport()->mapToGlobal(caret.bottomLeft());
    if (const QScreen* screen = editor_.screen()) {
        const QRect room = screen->availableGeometry();
        if (at.y() + height > room.bottom()) {
            at.setY(editor_.viewport()->mapToGlobal(caret.topLeft()).y() - height);
        }
        at.setX(std::clamp(at.x(), room.left(), std::max(room.left(), room.right() - width)));
    }
    list_->setGeometry(QRect(at, QSize(width, height)));
    list_->scrollTo(list_->currentIndex());
    if (watchedWindow_ != editor_.window()) {
        if (watchedWindow_) {
            watchedWindow_->removeEventFilter(this);
        }
        watchedWindow_ = editor_.window();
        watchedWindow_->installEventFilter(this);
    }
    list_->show();
    list_->raise();
}

bool SqlCompleter::handleKey(QKeyEvent& key) {
    const Qt::KeyboardModifiers modifiers = key.modifiers() & ~Qt::KeypadModifier;
    if (modifiers == Qt::ControlModifier && key.key() == Qt::Key_Space) {
        refresh(true);
        return true;
    }
    if (modifiers != Qt::NoModifier) {
        return false;
    }
    const int page = std::max(1, list_->viewport()->height() / std::max(1, list_->sizeHintForRow(0)) - 1);
    switch (key.key()) {
    case Qt::Key_Up:
        moveCurrent(-1);
        return true;
    case Qt::Key_Down:
        moveCurrent(1);
        return true;
    case Qt::Key_PageUp:
        moveCurrent(-page);
        return true;
    case Qt::Key_PageDown:
        moveCurrent(page);
        return true;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Tab:
        take(list_->currentIndex().row());
        return true;
    case Qt::Key_Escape:
        close();
        return true;
    default:
        return false;
    }
}

bool SqlCompleter::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &editor_) {
        switch (event->type()) {
        case QEvent::ShortcutOverride: {
            // While the list is open its keys are the list's: Esc must not
            // reach the window's shortcut that stops a run.
            auto& key = static_cast<QKeyEvent&>(*event);
            const bool listKey = key.modifiers() == Qt::NoModifier &&
                                 (key.key() == Qt::Key_Escape || key.key() == Qt::Key_Return ||
                                  key.key() == Qt::Key_Enter || key.key() == Qt::Key_Tab);
            if (isOpen() && listKey) {
                event->accept();
                return true;
            }
            // A command key (Ctrl+Enter, F9) goes to its shortcut: the list
            // has no part in what it does.
            const bool command = (key.modifiers() & (Qt::ControlModifier | Qt::AltModifier)) != 0 ||
                                 (key.key() >= Qt::Key_F1 && key.key() <= Qt::Key_F35);
            if (isOpen() && command && !(key.modifiers() == Qt::ControlModifier && key.key() == Qt::Key_Space)) {
                close();
            }
            break;
        }
        case QEvent::KeyPress: {
            auto& key = static_cast<QKeyEvent&>(*event);
            if (isOpen()) {
                return handleKey(key);
            }
            if ((key.modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier && key.key() == Qt::Key_Space) {
                complete();
                return true;
            }
            break;
        }
        case QEvent::FocusOut:
        case QEvent::Hide:
            close();
            break;
        default:
            break;
        }
    } else if (watched == watchedWindow_) {
        if (event->type() == QEvent::Move || event->type() == QEvent::Resize || event->type() == QEvent::Hide) {
            close();
        }
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace tarnwell
