#include "dataaccess/Catalog.h"

#include <algorithm>
#include <limits>
#include <numeric>

#include "dataaccess/DbError.h"

namespace tarnwell::db {

namespace {

constexpr std::uint32_t kNoRelation = std::numeric_limits<std::uint32_t>::max();

unsigned char foldAscii(unsigned char c) noexcept { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

template <typename Int>
Int clampTo(long long value) noexcept {
    return static_cast<Int>(std::clamp<long long>(value, std::numeric_limits<Int>::min(), std::numeric_limits<Int>::max()));
}

// Columns arrive in their relation's order from most engines; where they do
// not, [first, end) is put in the order of its places.
template <typename Record>
void sortByPosition(std::vector<Record>& records, std::vector<std::uint16_t>& positions, std::uint32_t first,
                    std::uint32_t end) {
    if (std::is_sorted(positions.begin() + first, positions.begin() + end)) {
        return;
    }
    std::vector<std::uint32_t> index(end - first);
    std::iota(index.begin(), index.end(), first);
    std::stable_sort(index.begin(), index.end(),
                     [&positions](std::uint32_t a, std::uint32_t b) { return positions[a] < positions[b]; });
    std::vector<Record> sorted;
    sorted.reserve(index.size());
    for (const std::uint32_t from : index) {
        sorted.push_back(records[from]);
    }
    std::copy(sorted.begin(), sorted.end(), records.begin() + first);
}

std::string qualified(std::string_view schema, std::string_view name) {
    return schema.empty() ? std::string(name) : std::string(schema) + "." + std::string(name);
}

}  // namespace

int compareNames(std::string_view a, std::string_view b) noexcept {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const unsigned char x = foldAscii(static_cast<unsigned char>(a[i]));
        const unsigned char y = foldAscii(static_cast<unsigned char>(b[i]));
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

Catalog::Catalog() = default;
Catalog::Catalog(Catalog&&) noexcept = default;
Catalog& Catalog::operator=(Catalog&&) noexcept = default;
Catalog::~Catalog() = default;

std::string_view Catalog::text(TextRef ref) const noexcept {
    const char* p = text_.data() + ref;
    std::size_t length = 0;
    unsigned shift = 0;
    for (;;) {
        const auto byte = static_cast<unsigned char>(*p++);
        length |= std::size_t{byte & 0x7fu} << shift;
        if ((byte & 0x80u) == 0) {
            break;
        }
        shift += 7;
    }
    return std::string_view(p, length);
}

std::string_view Catalog::schemaName(std::size_t schema) const noexcept { return text(schemas_[schema]); }

std::optional<std::size_t> Catalog::findSchema(std::string_view name) const noexcept {
    std::optional<std::size_t> folded;
    for (std::size_t i = 0; i < schemas_.size(); ++i) {
        const std::string_view candidate = schemaName(i);
        if (candidate == name) {
            return i;
        }
        if (!folded && compareNames(candidate, name) == 0) {
            folded = i;
        }
    }
    return folded;
}

CatalogRelation Catalog::relation(RelationId id) const noexcept {
    const RelationRecord& record = relations_[id];
    return {schemaName(record.schema), text(record.name), record.kind};
}

Catalog::RelationRange Catalog::relationsOf(std::size_t schema) const noexcept {
    if (schema >= schemas_.size()) {
        return {};
    }
    return {schemaStarts_[schema], schemaStarts_[schema + 1]};
}

template <typename IdAt>
std::optional<Catalog::RelationId> Catalog::bestMatch(std::size_t count, IdAt idAt, std::string_view name) const noexcept {
    std::size_t low = 0;
    std::size_t high = count;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (compareNames(relationName(idAt(middle)), name) < 0) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    std::optional<RelationId> found;
    for (std::size_t i = low; i < count && compareNames(relationName(idAt(i)), name) == 0; ++i) {
        if (relationName(idAt(i)) == name) {
            return idAt(i);
        }
        if (!found) {
            found = idAt(i);
        }
    }
    return found;
}

std::optional<Catalog::RelationId> Catalog::findRelation(std::string_view schema, std::string_view name) const noexcept {
    const std::optional<std::size_t> index = findSchema(schema);
    if (!index) {
        return std::nullopt;
    }
    const RelationRange range = relationsOf(*index);
    return bestMatch(range.end - range.first, [&range](std::size_t i) { return static_cast<RelationId>(range.first + i); },
                     name);
}

std::optional<Catalog::RelationId> Catalog::findRelation(std::string_view name) const noexcept {
    return bestMatch(byName_.size(), [this](std::size_t i) { return byName_[i]; }, name);
}

std::size_t Catalog::columnCount(RelationId id) const noexcept {
    const std::uint32_t end = id + 1 < relations_.size() ? relations_[id + 1].firstColumn
                                                          : static_cast<std::uint32_t>(columns_.size());
    return end - relations_[id].firstColumn;
}

CatalogColumn Catalog::column(RelationId id, std::size_t index) const noexcept {
    const ColumnRecord& record = columns_[relations_[id].firstColumn + index];
    return {text(record.name), text(typeNames_[record.typeName]), record.kind, record.size, record.precision,
            record.nullable, record.keyPosition};
}

std::size_t Catalog::bytesHeld() const noexcept {
    return text_.capacity() + schemas_.capacity() * sizeof(TextRef) +
           schemaStarts_.capacity() * sizeof(RelationId) + relations_.capacity() * sizeof(RelationRecord) +
           byName_.capacity() * sizeof(RelationId) + columns_.capacity() * sizeof(ColumnRecord) +
           typeNames_.capacity() * sizeof(TextRef) + gaps_.firstSkipped.capacity() + gaps_.message.capacity();
}

Catalog::TextRef CatalogBuilder::store(std::string_view text) {
    std::string& pool = catalog_.text_;
    if (pool.size() + text.size() + 10 > std::numeric_limits<Catalog::TextRef>::max()) {
        throw DbError("the catalog's names exceed 4 GB");
    }
    const auto ref = static_cast<Catalog::TextRef>(pool.size());
    std::size_t length = text.size();
    while (length >= 0x80) {
        pool.push_back(static_cast<char>((length & 0x7f) | 0x80));
        length >>= 7;
    }
    pool.push_back(static_cast<char>(length));
    pool.append(text);
    return ref;
}

std::uint32_t CatalogBuilder::internTypeName(std::string_view name) {
    const auto [it, added] = typeNameIndex_.try_emplace(std::string(name), 0);
    if (added) {
        it->second = static_cast<std::uint32_t>(catalog_.typeNames_.size());
        catalog_.typeNames_.push_back(store(name));
    }
    return it->second;
}

void CatalogBuilder::renameTypeName(std::string_view from, std::string_view to) {
    const auto found = typeNameIndex_.find(std::string(from));
    if (found != typeNameIndex_.end()) {
        catalog_.typeNames_[found->second] = store(to);
    }
}

std::size_t CatalogBuilder::addSchema(std::string_view name) {
    const auto [it, added] = schemaIndex_.try_emplace(std::string(name), catalog_.schemas_.size());
    if (added) {
        catalog_.schemas_.push_back(store(name));
    }
    return it->second;
}

CatalogBuilder::RelationHandle CatalogBuilder::addRelation(std::size_t schema, std::string_view name,
                                                           RelationKind kind) {
    Catalog::RelationRecord record;
    record.name = store(name);
    record.schema = static_cast<std::uint32_t>(schema);
    record.kind = kind;
    relations_.push_back(record);
    skipped_.push_back(false);
    columnsPerRelation_.push_back(0);
    return static_cast<RelationHandle>(relations_.size() - 1);
}

void CatalogBuilder::addColumn(RelationHandle relation, int position, const CatalogColumn& column) {
    Catalog::ColumnRecord record;
    record.name = store(column.name);
    record.typeName = internTypeName(column.typeName);
    record.size = clampTo<std::int32_t>(column.size);
    record.precision = clampTo<std::uint16_t>(column.precision);
    record.keyPosition = clampTo<std::uint16_t>(column.keyPosition);
    record.kind = column.kind;
    record.nullable = column.nullable;
    columns_.push_back(record);
    columnRelation_.push_back(relation);
    columnPosition_.push_back(clampTo<std::uint16_t>(position));
    ++columnsPerRelation_[relation];
}

CatalogRelation CatalogBuilder::relation(RelationHandle relation) const noexcept {
    const Catalog::RelationRecord& record = relations_[relation];
    return {catalog_.schemaName(record.schema), catalog_.text(record.name), record.kind};
}

void CatalogBuilder::clear() {
    catalog_ = Catalog();
    relations_ = {};
    skipped_ = {};
    columnsPerRelation_ = {};
    columns_ = {};
    columnRelation_ = {};
    columnPosition_ = {};
    schemaIndex_ = {};
    typeNameIndex_ = {};
}

void CatalogBuilder::noteFirstProblem(const std::string& part, const std::string& message) {
    CatalogGaps& gaps = catalog_.gaps_;
    if (gaps.firstSkipped.empty()) {
        gaps.firstSkipped = part;
    }
    if (gaps.message.empty()) {
        gaps.message = message;
    }
}

void CatalogBuilder::skipRelation(RelationHandle relation, const std::string& message) {
    if (skipped_[relation]) {
        return;
    }
    skipped_[relation] = true;
    ++catalog_.gaps_.relationsSkipped;
    const CatalogRelation skipped = this->relation(relation);
    noteFirstProblem(qualified(skipped.schema, skipped.name), message);
}

void CatalogBuilder::skipSchema(std::string_view name, const std::string& message) {
    ++catalog_.gaps_.schemasSkipped;
    noteFirstProblem(std::string(name), message);
}

void CatalogBuilder::endEarly(const std::string& message) {
    catalog_.gaps_.endedEarly = true;
    noteFirstProblem({}, message);
}

// Build handles of the relations kept, in catalog order: by schema, then by
// name as the catalog compares names, then by the bytes of the name.
std::vector<std::uint32_t> CatalogBuilder::relationOrder() const {
    std::vector<std::uint32_t> order;
    order.reserve(relations_.size());
    for (std::uint32_t handle = 0; handle < relations_.size(); ++handle) {
        if (!skipped_[handle]) {
            order.push_back(handle);
        }
    }
    std::sort(order.begin(), order.end(), [this](std::uint32_t a, std::uint32_t b) {
        const Catalog::RelationRecord& x = relations_[a];
        const Catalog::RelationRecord& y = relations_[b];
        if (x.schema != y.schema) {
            return x.schema < y.schema;
        }
        const std::string_view nameX = catalog_.text(x.name);
        const std::string_view nameY = catalog_.text(y.name);
        const int folded = compareNames(nameX, nameY);
        return folded != 0 ? folded < 0 : nameX < nameY;
    });
    return order;
}

// Lays the columns out relation by relation in catalog order (`order`
// holds the build handles by new id), each relation's in the order of their
// places.
void CatalogBuilder::placeColumns(Catalog& catalog, const std::vector<std::uint32_t>& order,
                                  const std::vector<std::uint32_t>& newIdOf) {
    std::vector<std::uint32_t> cursor(order.size());
    std::uint32_t total = 0;
    for (std::size_t id = 0; id < order.size(); ++id) {
        catalog.relations_[id].firstColumn = total;
        cursor[id] = total;
        total += columnsPerRelation_[order[id]];
    }
    std::vector<Catalog::ColumnRecord> placed(total);
    std::vector<std::uint16_t> positions(total);
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const std::uint32_t id = newIdOf[columnRelation_[i]];
        if (id != kNoRelation) {
            placed[cursor[id]] = columns_[i];
            positions[cursor[id]++] = columnPosition_[i];
        }
    }
    for (std::size_t id = 0; id < order.size(); ++id) {
        sortByPosition(placed, positions, catalog.relations_[id].firstColumn, cursor[id]);
    }
    catalog.columns_ = std::move(placed);
}

Catalog CatalogBuilder::finish() {
    const std::vector<std::uint32_t> order = relationOrder();
    Catalog catalog = std::move(catalog_);
    std::vector<std::uint32_t> newIdOf(relations_.size(), kNoRelation);
    catalog.relations_.reserve(order.size());
    for (const std::uint32_t handle : order) {
        newIdOf[handle] = static_cast<std::uint32_t>(catalog.relations_.size());
        Catalog::RelationRecord record = relations_[handle];
        catalog.relations_.push_back(record);
    }
    placeColumns(catalog, order, newIdOf);

    catalog.schemaStarts_.assign(catalog.schemas_.size() + 1, static_cast<Catalog::RelationId>(order.size()));
    for (std::size_t id = catalog.relations_.size(); id-- > 0;) {
        catalog.schemaStarts_[catalog.relations_[id].schema] = static_cast<Catalog::RelationId>(id);
    }
    for (std::size_t schema = catalog.schemas_.size(); schema-- > 0;) {
        catalog.schemaStarts_[schema] = std::min(catalog.schemaStarts_[schema], catalog.schemaStarts_[schema + 1]);
    }

    catalog.byName_.resize(catalog.relations_.size());
    std::iota(catalog.byName_.begin(), catalog.byName_.end(), 0);
    std::stable_sort(catalog.byName_.begin(), catalog.byName_.end(), [&catalog](Catalog::RelationId a, Catalog::RelationId b) {
        return compareNames(catalog.relationName(a), catalog.relationName(b)) < 0;
    });
    catalog.text_.shrink_to_fit();
    clear();
    return catalog;
}

}  // namespace tarnwell::db
