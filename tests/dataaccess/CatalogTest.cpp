// The catalog as completion and the table list read it: names found without
// regard to ASCII case, schemas in the order names resolve in, columns in
// their relation's order whatever order they arrived in, and memory.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dataaccess/Catalog.h"

namespace tarnwell::test {
namespace {

using db::Catalog;
using db::CatalogBuilder;
using db::CatalogColumn;
using db::FieldKind;
using db::RelationKind;

CatalogColumn integerColumn(std::string_view name) {
    CatalogColumn column;
    column.name = name;
    column.typeName = "integer";
    column.kind = FieldKind::Integer;
    return column;
}

std::string nameOf(const Catalog& catalog, std::optional<Catalog::RelationId> id) {
    if (!id) {
        return "<none>";
    }
    const db::CatalogRelation relation = catalog.relation(*id);
    return std::string(relation.schema) + "." + std::string(relation.name);
}

TEST(CatalogLookup, NamesIgnoreAsciiCaseTheExactSpellingWinsAndSchemasResolveInOrder) {
    CatalogBuilder builder;
    const std::size_t publicSchema = builder.addSchema("public");
    const std::size_t sales = builder.addSchema("sales");
    builder.addSchema("empty");
    builder.addRelation(sales, "customers", RelationKind::Table);
    builder.addRelation(sales, "Orders", RelationKind::View);
    builder.addRelation(publicSchema, "customers", RelationKind::Table);
    builder.addRelation(publicSchema, "Customers", RelationKind::Table);
    builder.addRelation(publicSchema, "訂單", RelationKind::Table);
    builder.addRelation(publicSchema, "école", RelationKind::Table);
    EXPECT_EQ(builder.addSchema("sales"), sales) << "a schema named again is the same schema";
    const Catalog catalog = builder.finish();

    EXPECT_EQ(nameOf(catalog, catalog.findRelation("public", "customers")), "public.customers");
    EXPECT_EQ(nameOf(catalog, catalog.findRelation("public", "Customers")), "public.Customers");
    EXPECT_EQ(nameOf(catalog, catalog.findRelation("PUBLIC", "CUSTOMERS")), "public.Customers")
        << "no exact spelling: the first in the catalog's order";
    EXPECT_EQ(nameOf(catalog, catalog.findRelation("customers")), "public.customers") << "the first schema first";
    EXPECT_EQ(nameOf(catalog, catalog.findRelation("ORDERS")), "sales.Orders");
    EXPECT_EQ(nameOf(catalog, catalog.findRelation("訂單")), "public.訂單");
    EXPECT_EQ(nameOf(catalog, catalog.findRelation("ÉCOLE")), "<none>") << "only ASCII letters fold";
    EXPECT_EQ(nameOf(catalog, catalog.findRelation("sales", "訂單")), "<none>");
    EXPECT_EQ(nameOf(catalog, catalog.findRelation("nowhere", "customers")), "<none>");
    EXPECT_EQ(nameOf(catalog, catalog.findRelation("custom")), "<none>") << "a prefix is no match";

    ASSERT_EQ(catalog.schemaCount(), 3u);
    EXPECT_EQ(catalog.findSchema("SALES"), sales);
    std::vector<std::string> publicNames;
    for (auto id = catalog.relationsOf(publicSchema).first; id < catalog.relationsOf(publicSchema).end; ++id) {
        publicNames.emplace_back(catalog.relation(id).name);
    }
    EXPECT_EQ(publicNames, (std::vector<std::string>{"Customers", "customers", "école", "訂單"}));
    const Catalog::RelationRange empty = catalog.relationsOf(2);
    EXPECT_EQ(empty.first, empty.end);
    EXPECT_EQ(catalog.relationsOf(sales).end - catalog.relationsOf(sales).first, 2u);
}

TEST(CatalogBuilding, ColumnsArriveInAnyOrderAndASkippedRelationTakesItsColumnsWithIt) {
    CatalogBuilder builder;
    const std::size_t schema = builder.addSchema("main");
    const auto a = builder.addRelation(schema, "a", RelationKind::Table);
    const auto b = builder.addRelation(schema, "b", RelationKind::View);
    const auto c = builder.addRelation(schema, "c", RelationKind::Table);
    builder.addColumn(c, 2, integerColumn("c2"));
    builder.addColumn(a, 1, integerColumn("a1"));
    builder.addColumn(b, 1, integerColumn("b1"));
    builder.addColumn(c, 1, integerColumn("c1"));
    CatalogColumn key = integerColumn("a2");
    key.typeName = "character varying(20)";
    key.kind = FieldKind::String;
    key.size = 20;
    key.nullable = false;
    key.keyPosition = 1;
    builder.addColumn(a, 2, key);
    builder.skipRelation(b, "no such table: main.gone");
    const Catalog catalog = builder.finish();

    ASSERT_EQ(catalog.relationCount(), 2u);
    EXPECT_EQ(catalog.totalColumnCount(), 4u);
    const auto first = catalog.findRelation("a");
    const auto third = catalog.findRelation("c");
    ASSERT_TRUE(first && third);
    EXPECT_FALSE(catalog.findRelation("b"));
    EXPECT_EQ(catalog.column(*third, 0).name, "c1");
    EXPECT_EQ(catalog.column(*third, 1).name, "c2");
    const CatalogColumn second = catalog.column(*first, 1);
    EXPECT_EQ(second.name, "a2");
    EXPECT_EQ(second.typeName, "character varying(20)");
    EXPECT_EQ(second.kind, FieldKind::String);
    EXPECT_EQ(second.size, 20);
    EXPECT_FALSE(second.nullable);
    EXPECT_EQ(second.keyPosition, 1);
    EXPECT_EQ(catalog.column(*first, 0).typeName.data(), catalog.column(*third, 1).typeName.data())
        << "a type name is held once";
    EXPECT_EQ(catalog.gaps().relationsSkipped, 1);
    EXPECT_EQ(catalog.gaps().firstSkipped, "main.b");
    EXPECT_EQ(catalog.gaps().message, "no such table: main.gone");
    EXPECT_FALSE(catalog.gaps().endedEarly);
}

// The size of a big schema: 10,000 tables of 20 columns, names as long as
// people write them.
TEST(CatalogMemory, TwoHundredThousandColumnsHoldWellUnderThirtyMegabytes) {
    CatalogBuilder builder;
    const std::size_t schema = builder.addSchema("public");
    const char* types[] = {"integer", "character varying(40)", "numeric(12,2)", "timestamp without time zone",
                           "text", "boolean", "bigint"};
    for (int table = 0; table < 10000; ++table) {
        const auto relation = builder.addRelation(schema, "customer_orders_" + std::to_string(table), RelationKind::Table);
        for (int column = 0; column < 20; ++column) {
            const std::string name = "order_column_" + std::to_string(column);
            CatalogColumn added = integerColumn(name);
            added.typeName = types[column % 7];
            builder.addColumn(relation, column + 1, added);
        }
    }
    const Catalog catalog = builder.finish();
    ASSERT_EQ(catalog.totalColumnCount(), 200000u);
    EXPECT_LT(catalog.bytesHeld(), 10u * 1000 * 1000) << catalog.bytesHeld();
    const auto found = catalog.findRelation("CUSTOMER_ORDERS_9999");
    ASSERT_TRUE(found);
    EXPECT_EQ(catalog.column(*found, 19).name, "order_column_19");
    EXPECT_EQ(catalog.column(*found, 19).typeName, "boolean");
}

}  // namespace
}  // namespace tarnwell::test
