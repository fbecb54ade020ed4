#pragma once

#include <QIcon>
#include <QObject>
#include <QPointer>
#include <memory>

#include "dataaccess/Catalog.h"
#include "sqlsyntax/CompletionContext.h"
#include "sqlsyntax/Dialect.h"
#include "ui/SqlCompletion.h"

class QKeyEvent;
class QListView;
class QPlainTextEdit;

namespace tarnwell {

class CompletionListModel;

// Completion of names and keywords in an SQL editor: a list under the caret
// of what the statement around it may name there (completionItems()), from a
// catalog and the dialect's keywords.
//
// The list opens on Ctrl+Space, and by itself when typing puts a dot or a
// second character of a name before the caret; it follows further typing and
// closes when nothing matches any more, the caret moves elsewhere or the
// editor loses the focus. While it is open, Up, Down, Page Up and Page Down
// move in it, Enter or Tab (or a click) puts the chosen name in place of the
// one typed, and Esc closes it, Esc going no further (a window's own Esc,
// which stops a run, does not see it). The editor keeps the keyboard, so
// input methods go on working. No list opens in a string or a comment.
//
// It needs nothing but the editor (whose child it becomes) and is told the
// catalog and dialect of the connection the editor's SQL goes to.
class SqlCompleter : public QObject {
    Q_OBJECT
public:
    explicit SqlCompleter(QPlainTextEdit& editor);
    ~SqlCompleter() override;

    // What names are offered; none until a catalog is loaded (keywords only).
    void setCatalog(std::shared_ptr<const db::Catalog> catalog);
    void setDialect(sql::Dialect dialect);
    sql::Dialect dialect() const noexcept { return dialect_; }

    // Opens the list for the caret, as Ctrl+Space does; false when nothing is
    // offered there.
    bool complete();
    void close();
    bool isOpen() const;
    // The list, while open or after.
    QListView& list() const { return *list_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Fills the list for the caret; false (and the list closed) when there
    // is nothing to show. `requested`: by Ctrl+Space rather than by typing.
    bool refresh(bool requested);
    void textChanged(int position, int removed, int added);
    void caretMoved();
    bool startsListByTyping(int position, int added) const;
    void take(int row);
    void moveCurrent(int rows);
    void showUnderCaret();
    bool handleKey(QKeyEvent& key);

    QPlainTextEdit& editor_;
    QListView* list_ = nullptr;
    CompletionListModel* model_ = nullptr;
    std::shared_ptr<const db::Catalog> catalog_;
    sql::Dialect dialect_ = sql::Dialect::Generic;
    // Of the list shown: where the caret was, and the text a choice replaces.
    int caret_ = -1;
    int replaceBegin_ = 0;
    bool requested_ = false;
    bool inserting_ = false;
    QPointer<QWidget> watchedWindow_;
};

// The pictures of tables, views, columns, key columns, aliases, schemas and
// keywords, as the completion list and the table list show them.
QIcon completionIcon(CompletionKind kind);

}  // namespace tarnwell
