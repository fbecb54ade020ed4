#include "ui/SqlCompletion.h"

#include <algorithm>
#include <optional>
#include <string>

#include "sqlsyntax/Keywords.h"

namespace tarnwell {

namespace {

using db::Catalog;
using RelationId = Catalog::RelationId;

bool equalFolded(std::string_view a, std::string_view b) noexcept {
    return a.size() == b.size() && db::compareNames(a, b) == 0;
}

// Schemas of the engines' own, reached by qualified names only.
bool isSystemSchema(std::string_view schema) noexcept {
    for (const std::string_view system : {"information_schema", "pg_catalog", "mysql", "performance_schema", "sys"}) {
        if (equalFolded(schema, system)) {
            return true;
        }
    }
    return false;
}

std::string utf8(const std::u16string& text) { return QString::fromStdU16String(text).toStdString(); }

QString qtext(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// Whether a bare name reaches the relation.
bool reachedBare(const Catalog& catalog, RelationId relation, sql::Dialect dialect) {
    const std::size_t schema = catalog.schemaOf(relation);
    if (schema == 0 || catalog.schemaName(schema).empty()) {
        return true;
    }
    // SQLite looks a bare name up in main, then in the attached databases in
    // turn.
    return dialect == sql::Dialect::SQLite && catalog.findRelation(catalog.relation(relation).name) == relation;
}

int kindRank(CompletionKind kind) noexcept {
    switch (kind) {
    case CompletionKind::Column:
    case CompletionKind::KeyColumn:
        return 0;
    case CompletionKind::Table:
    case CompletionKind::View:
    case CompletionKind::Alias:
        return 1;
    case CompletionKind::Schema:
        return 2;
    case CompletionKind::Keyword:
        break;
    }
    return 3;
}

// A name that matched, before it becomes an item: views into the catalog,
// the statement or the keyword list, all of which outlive the search.
struct Candidate {
    std::uint8_t group = 0;  // matchName()
    CompletionKind kind = CompletionKind::Keyword;
    std::string_view name;
    std::string_view schema;  // shown and put in front: a relation outside the bare names' reach
    std::string_view detail;
};

class CandidateList {
public:
    CandidateList(const Catalog& catalog, sql::Dialect dialect, std::string typed)
        : catalog_(catalog), dialect_(dialect), typed_(std::move(typed)) {}

    void add(CompletionKind kind, std::string_view name, std::string_view schema = {}, std::string_view detail = {}) {
        if (const auto group = matchName(name, typed_, kind != CompletionKind::Keyword)) {
            candidates_.push_back({*group, kind, name, schema, detail});
        }
    }

    void addColumns(RelationId relation) {
        const std::size_t count = catalog_.columnCount(relation);
        for (std::size_t i = 0; i < count; ++i) {
            const db::CatalogColumn column = catalog_.column(relation, i);
            add(column.keyPosition > 0 ? CompletionKind::KeyColumn : CompletionKind::Column, column.name, {},
                column.typeName.empty() ? db::fieldKindName(column.kind) : column.typeName);
        }
    }

    void addRelation(RelationId relation, bool qualifyOutsideReach) {
        const db::CatalogRelation r = catalog_.relation(relation);
        const bool bare = !qualifyOutsideReach || reachedBare(catalog_, relation, dialect_);
        add(r.kind == db::RelationKind::View ? CompletionKind::View : CompletionKind::Table, r.name,
            bare ? std::string_view() : r.schema);
    }

    // Every table and view a statement may name, but those of the engines'
    // own schemas (reached through their schema's name).
    void addRelations() {
        for (std::size_t schema = 0; schema < catalog_.schemaCount(); ++schema) {
            if (schema > 0 && isSystemSchema(catalog_.schemaName(schema))) {
                continue;
            }
            const Catalog::RelationRange range = catalog_.relationsOf(schema);
            for (RelationId id = range.first; id < range.end; ++id) {
                addRelation(id, true);
            }
        }
    }

    void addSchemas() {
        for (std::size_t schema = 0; schema < catalog_.schemaCount(); ++schema) {
            if (!catalog_.schemaName(schema).empty()) {
                add(CompletionKind::Schema, catalog_.schemaName(schema));
            }
        }
    }

    void addKeywords() {
        for (const std::string_view keyword : sql::keywords(dialect_)) {
            add(CompletionKind::Keyword, keyword);
        }
    }

    std::vector<CompletionItem> items(const sql::CompletionContext& context) {
        std::sort(candidates_.begin(), candidates_.end(), [](const Candidate& a, const Candidate& b) {
            if (a.group != b.group) {
                return a.group < b.group;
            }
            if (kindRank(a.kind) != kindRank(b.kind)) {
                return kindRank(a.kind) < kindRank(b.kind);
            }
            if (const int byName = db::compareNames(a.name, b.name); byName != 0) {
                return byName < 0;
            }
            if (a.name != b.name) {
                return a.name < b.name;
            }
            return a.schema < b.schema;
        });
        std::vector<CompletionItem> items;
        items.reserve(candidates_.size());
        const Candidate* previous = nullptr;
        for (const Candidate& candidate : candidates_) {
            // The same column of two tables, a keyword twice: offered once.
            if (previous != nullptr && kindRank(previous->kind) == kindRank(candidate.kind) &&
                previous->name == candidate.name && previous->schema == candidate.schema) {
                continue;
            }
            previous = &candidate;
            items.push_back(item(candidate, context));
        }
        return items;
    }

private:
    QString spelt(std::string_view name, bool quoted) const {
        return qtext(quoted ? sql::quoteIdentifier(dialect_, name) : sql::asIdentifier(dialect_, name));
    }

    CompletionItem item(const Candidate& candidate, const sql::CompletionContext& context) const {
        CompletionItem item;
        item.kind = candidate.kind;
        item.detail = qtext(candidate.detail);
        if (candidate.kind == CompletionKind::Keyword) {
            item.text = qtext(candidate.name);
            item.insertText = typedInLowerCase() ? item.text.toLower() : item.text;
            return item;
        }
        item.text = candidate.schema.empty() ? qtext(candidate.name) : qtext(candidate.schema) + u'.' + qtext(candidate.name);
        item.insertText = spelt(candidate.name, context.quoted);
        if (!candidate.schema.empty()) {
            item.insertText = spelt(candidate.schema, context.quoted) + u'.' + item.insertText;
        }
        return item;
    }

    // Keywords go in as typed: "sel" becomes "select".
    bool typedInLowerCase() const noexcept {
        return std::any_of(typed_.begin(), typed_.end(), [](char c) { return c >= 'a' && c <= 'z'; }) &&
               std::none_of(typed_.begin(), typed_.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
    }

    const Catalog& catalog_;
    sql::Dialect dialect_;
    const std::string typed_;
    std::vector<Candidate> candidates_;
};

// The statement's tables as the catalog knows them, each with the name the
// statement calls it by, in the statement's order.
struct ResolvedTable {
    const sql::TableReference* reference;
    std::string alias;
    std::string name;
    std::optional<RelationId> relation;
};

std::vector<ResolvedTable> resolveTables(const sql::CompletionContext& context, const Catalog& catalog) {
    std::vector<ResolvedTable> tables;
    for (const sql::TableReference& reference : context.tables) {
        ResolvedTable table{&reference, utf8(reference.alias), utf8(reference.name), std::nullopt};
        table.relation = reference.schema.empty() ? catalog.findRelation(table.name)
                                                  : catalog.findRelation(utf8(reference.schema), table.name);
        tables.push_back(std::move(table));
    }
    return tables;
}

// After "q.": the columns of the table the statement calls q (by alias
// first), else the tables of schema q, else the columns of a table q; after
// "s.t.": the columns of s.t.
void addMembers(CandidateList& list, const sql::CompletionContext& context, const Catalog& catalog,
                const std::vector<ResolvedTable>& tables) {
    if (context.qualifier.size() >= 2) {
        const std::string schema = utf8(context.qualifier[context.qualifier.size() - 2]);
        if (const auto relation = catalog.findRelation(schema, utf8(context.qualifier.back()))) {
            list.addColumns(*relation);
        }
        return;
    }
    const std::string qualifier = utf8(context.qualifier.front());
    for (const bool byAlias : {true, false}) {
        for (const ResolvedTable& table : tables) {
            if (table.relation && equalFolded(byAlias ? table.alias : table.name, qualifier)) {
                list.addColumns(*table.relation);
                return;
            }
        }
    }
    if (const auto schema = catalog.findSchema(qualifier)) {
        const Catalog::RelationRange range = catalog.relationsOf(*schema);
        for (RelationId id = range.first; id < range.end; ++id) {
            list.addRelation(id, false);
        }
        return;
    }
    if (const auto relation = catalog.findRelation(qualifier)) {
        list.addColumns(*relation);
    }
}

}  // namespace

std::vector<CompletionItem> completionItems(const sql::CompletionContext& context, const Catalog& catalog,
                                            sql::Dialect dialect) {
    CandidateList list(catalog, dialect, utf8(context.prefix));
    const std::vector<ResolvedTable> tables = resolveTables(context, catalog);
    switch (context.place) {
    case sql::CompletionPlace::None:
        break;
    case sql::CompletionPlace::Keyword:
    case sql::CompletionPlace::AfterName:
        list.addKeywords();
        break;
    case sql::CompletionPlace::Relation:
        list.addRelations();
        list.addSchemas();
        break;
    case sql::CompletionPlace::Column:
        if (tables.empty()) {
            list.addRelations();  // no FROM yet: what it may name
            list.addSchemas();
        }
        for (const ResolvedTable& table : tables) {
            if (table.relation) {
                list.addColumns(*table.relation);
            }
            const bool aliased = !table.alias.empty();
            const CompletionKind kind =
                aliased ? CompletionKind::Alias
                        : (table.relation && catalog.relation(*table.relation).kind == db::RelationKind::View
                               ? CompletionKind::View
                               : CompletionKind::Table);
            list.add(kind, aliased ? table.alias : table.name, {}, aliased ? std::string_view(table.name) : std::string_view());
        }
        list.addKeywords();
        break;
    case sql::CompletionPlace::Member:
        addMembers(list, context, catalog, tables);
        break;
    }
    return list.items(context);
}

QString sqlNameOf(const Catalog& catalog, RelationId relation, sql::Dialect dialect) {
    const db::CatalogRelation r = catalog.relation(relation);
    const QString name = sqlNameOf(r.name, dialect);
    return reachedBare(catalog, relation, dialect) ? name : sqlNameOf(r.schema, dialect) + u'.' + name;
}

QString sqlNameOf(std::string_view name, sql::Dialect dialect) { return qtext(sql::asIdentifier(dialect, name)); }

std::optional<std::uint8_t> matchName(std::string_view name, std::string_view typed, bool insideToo) noexcept {
    const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; };
    const auto matchesAt = [&](std::size_t at) {
        for (std::size_t i = 0; i < typed.size(); ++i) {
            if (fold(name[at + i]) != fold(typed[i])) {
                return false;
            }
        }
        return true;
    };
    for (std::size_t at = 0; at + typed.size() <= name.size(); ++at) {
        if (matchesAt(at)) {
            return at == 0 ? 0 : 1;
        }
        if (!insideToo) {
            break;
        }
    }
    return std::nullopt;
}

}  // namespace tarnwell
