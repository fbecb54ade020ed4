#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "dataaccess/RowStore.h"

using tarnwell::db::RowStore;

namespace {

std::string textOf(const RowStore& rows, std::size_t row, std::size_t column) {
    const RowStore::Cell cell = rows.cell(row, column);
    return cell.isNull ? std::string("<null>") : std::string(cell.bytes);
}

TEST(RowStore, KeepsNullsEmptyTextAndBinaryApart) {
    RowStore rows(4);
    rows.beginRow();
    rows.appendNull();
    rows.append("");
    rows.append(std::string("a\0b\r\n\t", 6));
    rows.append("中文");
    rows.endRow();

    ASSERT_EQ(rows.rowCount(), 1u);
    EXPECT_TRUE(rows.cell(0, 0).isNull);
    EXPECT_FALSE(rows.cell(0, 1).isNull);
    EXPECT_EQ(rows.cell(0, 1).bytes, "");
    EXPECT_EQ(rows.cell(0, 2).bytes, std::string_view("a\0b\r\n\t", 6));
    EXPECT_EQ(textOf(rows, 0, 3), "中文");
    EXPECT_THROW(rows.cell(1, 0), std::out_of_range);
    EXPECT_THROW(rows.cell(0, 4), std::out_of_range);

    // The whole row at once gives the same cells.
    RowStore::Cell all[4];
    rows.cells(0, all);
    for (std::size_t column = 0; column < 4; ++column) {
        EXPECT_EQ(all[column].isNull, rows.cell(0, column).isNull) << column;
        EXPECT_EQ(all[column].bytes, rows.cell(0, column).bytes) << column;
    }
    EXPECT_THROW(rows.cells(1, all), std::out_of_range);
}

TEST(RowStore, RowsSurviveCrossingBlocksAndHugeValues) {
    RowStore rows(3);
    const std::string megabyte(1024 * 1024, 'x');
    for (int i = 0; i < 50000; ++i) {
        rows.beginRow();
        rows.append(std::to_string(i));
        if (i == 777) {
            rows.append(megabyte);
        } else {
            rows.append("row text " + std::to_string(i * 7));
        }
        rows.appendNull();
        rows.endRow();
    }
    ASSERT_EQ(rows.rowCount(), 50000u);
    for (int i = 0; i < 50000; i += 997) {
        EXPECT_EQ(textOf(rows, i, 0), std::to_string(i));
        EXPECT_EQ(textOf(rows, i, 1), "row text " + std::to_string(i * 7));
        EXPECT_TRUE(rows.cell(i, 2).isNull);
    }
    EXPECT_EQ(rows.cell(777, 1).bytes.size(), megabyte.size());
    EXPECT_EQ(textOf(rows, 49999, 0), "49999");
}

TEST(RowStore, HoldsTypicalRowsInLessThanTwiceTheirText) {
    RowStore rows(5);
    std::size_t textBytes = 0;
    for (int i = 0; i < 200000; ++i) {
        const std::string cells[5] = {std::to_string(i), "some text of thirty characters", "1234.56",
                                      "2026-12-09 10:11:12", i % 2 ? "1" : "0"};
        rows.beginRow();
        for (const std::string& cell : cells) {
            rows.append(cell);
            textBytes += cell.size();
        }
        rows.endRow();
    }
    EXPECT_LT(rows.bytesHeld(), 2 * textBytes);
}

TEST(RowStore, UnfinishedRowsLeaveNoTrace) {
    RowStore rows(2);
    rows.beginRow();
    rows.append("kept");
    rows.append("row");
    rows.endRow();

    rows.beginRow();
    rows.append("half a row");
    rows.discardRow();

    rows.beginRow();
    rows.append("too few cells");
    EXPECT_THROW(rows.endRow(), std::logic_error);

    rows.beginRow();
    rows.append("second");
    rows.append("row");
    rows.endRow();

    ASSERT_EQ(rows.rowCount(), 2u);
    EXPECT_EQ(textOf(rows, 0, 0), "kept");
    EXPECT_EQ(textOf(rows, 1, 0), "second");
}

TEST(RowStore, ClearAndResetStartOver) {
    RowStore rows(1);
    for (int i = 0; i < 10000; ++i) {
        rows.beginRow();
        rows.append("value " + std::to_string(i));
        rows.endRow();
    }
    rows.clear();
    EXPECT_EQ(rows.rowCount(), 0u);
    EXPECT_EQ(rows.columnCount(), 1u);
    rows.beginRow();
    rows.append("again");
    rows.endRow();
    EXPECT_EQ(textOf(rows, 0, 0), "again");

    rows.reset(0);
    rows.beginRow();
    rows.endRow();
    EXPECT_EQ(rows.rowCount(), 1u);
    EXPECT_EQ(rows.columnCount(), 0u);
}

}  // namespace
