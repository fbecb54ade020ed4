#include "query/CatalogTableList.h"

#include <QAbstractItemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QTreeView>
#include <QVBoxLayout>
#include <vector>

#include "dataaccess/FieldKind.h"
#include "ui/SqlCompleter.h"
#include "ui/SqlCompletion.h"

namespace tarnwell {

namespace {

constexpr int kKindColumnWidth = 72;

QString qtext(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

// Tables and views at the top (those the filter keeps, in the catalog's
// order), their columns under them. An index tells which it is: internal id
// 0 for a table, the table's row + 1 for one of its columns. Nothing is made
// for a column until the view asks for it, which it does when the table is
// opened.
class CatalogTreeModel : public QAbstractItemModel {
public:
    using QAbstractItemModel::QAbstractItemModel;

    void setCatalog(std::shared_ptr<const db::Catalog> catalog, sql::Dialect dialect) {
        if (catalog == catalog_ && dialect == dialect_) {
            return;  // as shown: the tables opened stay open
        }
        beginResetModel();
        catalog_ = std::move(catalog);
        dialect_ = dialect;
        refilter();
        endResetModel();
    }

    void setFilter(const QString& filter) {
        beginResetModel();
        filter_ = filter.toStdString();
        refilter();
        endResetModel();
    }

    std::size_t relationCount() const { return catalog_ ? catalog_->relationCount() : 0; }
    std::size_t shownCount() const { return shown_.size(); }

    // The name a statement spells for the row.
    QString sqlName(const QModelIndex& index) const {
        if (!index.isValid()) {
            return {};
        }
        if (index.internalId() == 0) {
            return sqlNameOf(*catalog_, relationAt(index.row()), dialect_);
        }
        return sqlNameOf(columnAt(index).name, dialect_);
    }

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override {
        if (!hasIndex(row, column, parent)) {
            return {};
        }
        return createIndex(row, column, parent.isValid() ? static_cast<quintptr>(parent.row()) + 1 : quintptr{0});
    }

    QModelIndex parent(const QModelIndex& child) const override {
        if (!child.isValid() || child.internalId() == 0) {
            return {};
        }
        return createIndex(static_cast<int>(child.internalId() - 1), 0, quintptr{0});
    }

    int rowCount(const QModelIndex& parent = {}) const override {
        if (!parent.isValid()) {
            return static_cast<int>(shown_.size());
        }
        if (parent.internalId() != 0 || parent.column() != 0) {
            return 0;
        }
        return static_cast<int>(catalog_->columnCount(relationAt(parent.row())));
    }

    int columnCount(const QModelIndex& = {}) const override { return 2; }

    bool hasChildren(const QModelIndex& parent = {}) const override { return rowCount(parent) > 0; }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
            return {};
        }
        return section == 0 ? QStringLiteral("名稱") : QStringLiteral("型態");
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid()) {
            return {};
        }
        return index.internalId() == 0 ? relationData(index, role) : columnData(index, role);
    }

private:
    db::Catalog::RelationId relationAt(int row) const { return shown_[static_cast<std::size_t>(row)]; }

    db::CatalogColumn columnAt(const QModelIndex& index) const {
        return catalog_->column(relationAt(static_cast<int>(index.internalId() - 1)), static_cast<std::size_t>(index.row()));
    }

    // A table outside the reach of bare names shows its schema.
    QString shownName(db::Catalog::RelationId id) const {
        const db::CatalogRelation relation = catalog_->relation(id);
        const bool bare = catalog_->schemaOf(id) == 0 || relation.schema.empty();
        return bare ? qtext(relation.name) : qtext(relation.schema) + u'.' + qtext(relation.name);
    }

    QVariant relationData(const QModelIndex& index, int role) const {
        const db::Catalog::RelationId id = relationAt(index.row());
        const bool view = catalog_->relation(id).kind == db::RelationKind::View;
        switch (role) {
        case Qt::DisplayRole:
            return index.column() == 0 ? shownName(id) : (view ? QStringLiteral("檢視表") : QStringLiteral("資料表"));
        case Qt::DecorationRole:
            return index.column() == 0 ? QVariant(completionIcon(view ? CompletionKind::View : CompletionKind::Table))
                                       : QVariant();
        default:
            return {};
        }
    }

    QVariant columnData(const QModelIndex& index, int role) const {
        const db::CatalogColumn column = columnAt(index);
        switch (role) {
        case Qt::DisplayRole:
            return index.column() == 0 ? qtext(column.name) : qtext(db::fieldKindName(column.kind));
        case Qt::DecorationRole:
            if (index.column() != 0) {
                return {};
            }
            return completionIcon(column.keyPosition > 0 ? CompletionKind::KeyColumn : CompletionKind::Column);
        case Qt::ToolTipRole: {
            QString tip = column.typeName.empty() ? qtext(db::fieldKindName(column.kind)) : qtext(column.typeName);
            if (!column.nullable) {
                tip += QStringLiteral("，不可為空值");
            }
            if (column.keyPosition > 0) {
                tip += QStringLiteral("，主鍵第 %1 欄").arg(column.keyPosition);
            }
            return tip;
        }
        default:
            return {};
        }
    }

    void refilter() {
        shown_.clear();
        if (!catalog_) {
            return;
        }
        shown_.reserve(catalog_->relationCount());
        for (db::Catalog::RelationId id = 0; id < catalog_->relationCount(); ++id) {
            if (filter_.empty() || matchName(catalog_->relation(id).name, filter_)) {
                shown_.push_back(id);
            }
        }
    }

    std::shared_ptr<const db::Catalog> catalog_;
    sql::Dialect dialect_ = sql::Dialect::Generic;
    std::string filter_;
    std::vector<db::Catalog::RelationId> shown_;
};

CatalogTableList::CatalogTableList(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("TableList"));
    model_ = new CatalogTreeModel(this);

    filter_ = new QLineEdit(this);
    filter_->setObjectName(QStringLiteral("EdtTableFilter"));
    filter_->setPlaceholderText(QStringLiteral("篩選資料表"));
    filter_->setClearButtonEnabled(true);
    auto* refresh = new QToolButton(this);
    refresh->setObjectName(QStringLiteral("BtnTableRefresh"));
    refresh->setToolTip(QStringLiteral("重新讀取資料表清單"));
    refresh->setIcon(QIcon(QStringLiteral(":/images/query/SpeedButton6.svg")));
    refresh->setAutoRaise(true);
    refresh->setFocusPolicy(Qt::NoFocus);

    tree_ = new QTreeView(this);
    tree_->setObjectName(QStringLiteral("TrvTables"));
    tree_->setModel(model_);
    tree_->setUniformRowHeights(true);
    tree_->setExpandsOnDoubleClick(false);
    tree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tree_->setIconSize(QSize(16, 16));
    tree_->header()->setStretchLastSection(false);
    tree_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    tree_->header()->setSectionResizeMode(1, QHeaderView::Interactive);
    tree_->header()->resizeSection(1, kKindColumnWidth);

    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("LabTableStatus"));
    status_->setWordWrap(true);
    // A long line wraps rather than widening the list.
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    auto* top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    top->setSpacing(2);
    top->addWidget(filter_, 1);
    top->addWidget(refresh);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addLayout(top);
    layout->addWidget(tree_, 1);
    layout->addWidget(status_);

    connect(filter_, &QLineEdit::textChanged, this, [this](const QString& text) {
        model_->setFilter(text);
        showStatus();
    });
    connect(refresh, &QToolButton::clicked, this, &CatalogTableList::refreshRequested);
    connect(tree_, &QTreeView::doubleClicked, this,
            [this](const QModelIndex& index) { emit nameChosen(model_->sqlName(index)); });
    showStatus();
}

CatalogTableList::~CatalogTableList() = default;

void CatalogTableList::setCatalog(std::shared_ptr<const db::Catalog> catalog, sql::Dialect dialect) {
    model_->setCatalog(std::move(catalog), dialect);
    showStatus();
}

void CatalogTableList::setLoadState(bool loading, const QString& problem) {
    loading_ = loading;
    problem_ = problem;
    showStatus();
}

void CatalogTableList::showStatus() {
    QString line;
    if (loading_) {
        line = QStringLiteral("讀取資料表清單中...");
    } else if (!problem_.isEmpty()) {
        line = problem_;
    } else if (model_->shownCount() == model_->relationCount()) {
        line = QStringLiteral("共 %1 個資料表與檢視表").arg(model_->relationCount());
    } else {
        line = QStringLiteral("符合 %1 個，共 %2 個資料表與檢視表").arg(model_->shownCount()).arg(model_->relationCount());
    }
    status_->setText(line);
    status_->setToolTip(line);
}

}  // namespace tarnwell
