#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "dataaccess/FieldKind.h"

namespace tarnwell::db {

// The names a database holds, as completion and a table list read them: its
// schemas, their tables and views, and the columns of each. Every backend
// reads one on a connection of its own (CatalogReader.h); this is what it
// gives, the same whatever the engine.

enum class RelationKind : std::uint8_t { Table, View };

struct CatalogRelation {
    std::string_view schema;  // "" where the engine has no schemas
    std::string_view name;
    RelationKind kind = RelationKind::Table;
};

// A column of a table or view, with the kind and sizes that a result holding
// it reports (Column.h), so the table list and the field list agree.
struct CatalogColumn {
    std::string_view name;
    std::string_view typeName;  // the engine's own name of the declared type
    FieldKind kind = FieldKind::Unknown;
    int size = 0;
    int precision = 0;
    bool nullable = true;
    int keyPosition = 0;  // place in the primary key from 1; 0 when not part of it
};

// What a load could not read. A part the user may not read, or one the
// engine fails on, is left out and counted; the rest is kept.
struct CatalogGaps {
    int schemasSkipped = 0;    // schemas the user has no rights on, or that could not be opened
    int relationsSkipped = 0;  // tables and views whose columns could not be read
    // The engine failed in a way that ended the load (the server went away):
    // what was read before is kept, nothing after.
    bool endedEarly = false;
    std::string firstSkipped;  // the first part left out ("secret", "main.broken_view")
    std::string message;       // the engine's message for the first failure

    bool empty() const noexcept { return schemasSkipped == 0 && relationsSkipped == 0 && !endedEarly; }
};

// A read-only, compact catalog: every name lies in one text pool, a column
// costs a 20-byte record, and type names are held once each. Safe to read
// from any number of threads at once.
//
// Schemas keep the order the engine resolves names in (PostgreSQL's search
// path first). Relations are numbered schema by schema, sorted by name within
// each; columns keep their order in the relation. Names are compared as the
// engines compare unquoted identifiers: ASCII letters without regard to case,
// every other byte as it is.
class Catalog {
public:
    using RelationId = std::uint32_t;
    struct RelationRange {
        RelationId first = 0;
        RelationId end = 0;
    };

    Catalog();
    Catalog(Catalog&&) noexcept;
    Catalog& operator=(Catalog&&) noexcept;
    Catalog(const Catalog&) = delete;
    Catalog& operator=(const Catalog&) = delete;
    ~Catalog();

    std::size_t schemaCount() const noexcept { return schemas_.size(); }
    std::string_view schemaName(std::size_t schema) const noexcept;
    // The schema of that name: the one spelt the same, else one that differs
    // only in the case of ASCII letters.
    std::optional<std::size_t> findSchema(std::string_view name) const noexcept;

    std::size_t relationCount() const noexcept { return relations_.size(); }
    CatalogRelation relation(RelationId id) const noexcept;
    std::size_t schemaOf(RelationId id) const noexcept { return relations_[id].schema; }
    RelationRange relationsOf(std::size_t schema) const noexcept;
    // A relation by name within a schema, or (without one) in the first
    // schema that has it. A name spelt the same wins over one that differs
    // in case.
    std::optional<RelationId> findRelation(std::string_view schema, std::string_view name) const noexcept;
    std::optional<RelationId> findRelation(std::string_view name) const noexcept;

    std::size_t columnCount(RelationId id) const noexcept;
    CatalogColumn column(RelationId id, std::size_t index) const noexcept;
    std::size_t totalColumnCount() const noexcept { return columns_.size(); }

    const CatalogGaps& gaps() const noexcept { return gaps_; }

    // Memory the catalog holds.
    std::size_t bytesHeld() const noexcept;

private:
    friend class CatalogBuilder;

    // Offsets into text_, where each text is its length (a varint) and bytes.
    using TextRef = std::uint32_t;

    struct RelationRecord {
        TextRef name = 0;
        std::uint32_t firstColumn = 0;
        std::uint32_t schema = 0;
        RelationKind kind = RelationKind::Table;
    };
    struct ColumnRecord {
        TextRef name = 0;
        std::uint32_t typeName = 0;  // index into typeNames_
        std::int32_t size = 0;
        std::uint16_t precision = 0;
        std::uint16_t keyPosition = 0;
        FieldKind kind = FieldKind::Unknown;
        bool nullable = true;
    };

    std::string_view text(TextRef ref) const noexcept;
    std::string_view relationName(RelationId id) const noexcept { return text(relations_[id].name); }
    // The relation of that name among `count` ids sorted by name, the i-th
    // of them idAt(i).
    template <typename IdAt>
    std::optional<RelationId> bestMatch(std::size_t count, IdAt idAt, std::string_view name) const noexcept;

    std::string text_;
    std::vector<TextRef> schemas_;
    std::vector<RelationId> schemaStarts_;  // first relation of each schema, then relationCount()
    std::vector<RelationRecord> relations_;
    std::vector<RelationId> byName_;  // every relation, by name, then by schema
    std::vector<ColumnRecord> columns_;
    std::vector<TextRef> typeNames_;
    CatalogGaps gaps_;
};

// Compares names as the catalog does: ASCII letters folded to lower case.
int compareNames(std::string_view a, std::string_view b) noexcept;

// Puts a catalog together as a backend reads it, in any order: schemas in
// the order names resolve in, relations as they are listed, columns as they
// come (of any relation, each with its place in its relation).
class CatalogBuilder {
public:
    using RelationHandle = std::uint32_t;

    CatalogBuilder() = default;
    CatalogBuilder(const CatalogBuilder&) = delete;
    CatalogBuilder& operator=(const CatalogBuilder&) = delete;

    // The schema's index; a name added before gives the index it got then.
    std::size_t addSchema(std::string_view name);
    RelationHandle addRelation(std::size_t schema, std::string_view name, RelationKind kind);
    void addColumn(RelationHandle relation, int position, const CatalogColumn& column);
    // Leaves out a relation listed before, with every column added to it,
    // and counts it as skipped with the engine's message.
    void skipRelation(RelationHandle relation, const std::string& message);
    // Counts a schema left out (no rights on it, its file gone), with the
    // engine's message where there is one.
    void skipSchema(std::string_view name, const std::string& message = {});
    // The engine failed so that nothing more can be read.
    void endEarly(const std::string& message);
    // Gives every column added with the type name `from` the name `to`
    // instead, for engines that name types once the columns are read.
    void renameTypeName(std::string_view from, std::string_view to);

    std::size_t relationCount() const noexcept { return relations_.size(); }
    // Its names stay valid until the next name is added.
    CatalogRelation relation(RelationHandle relation) const noexcept;
    std::size_t columnCount(RelationHandle relation) const noexcept { return columnsPerRelation_[relation]; }

    Catalog finish();

private:
    Catalog::TextRef store(std::string_view text);
    std::uint32_t internTypeName(std::string_view name);
    void noteFirstProblem(const std::string& part, const std::string& message);
    std::vector<std::uint32_t> relationOrder() const;
    void placeColumns(Catalog& catalog, const std::vector<std::uint32_t>& order,
                      const std::vector<std::uint32_t>& newIdOf);
    void clear();

    Catalog catalog_;
    std::vector<Catalog::RelationRecord> relations_;
    std::vector<bool> skipped_;
    std::vector<std::uint32_t> columnsPerRelation_;
    std::vector<Catalog::ColumnRecord> columns_;
    std::vector<std::uint32_t> columnRelation_;
    std::vector<std::uint16_t> columnPosition_;
    std::unordered_map<std::string, std::size_t> schemaIndex_;
    std::unordered_map<std::string, std::uint32_t> typeNameIndex_;
};

}  // namespace tarnwell::db
