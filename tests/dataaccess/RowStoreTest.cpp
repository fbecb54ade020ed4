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

// Rows fetched into stores of their own, as packets fetched on another thread
// are, then appended to the rows held.
TEST(RowStore, AppendedStoresFollowInOrderAndLeaveTheirSourceEmpty) {
    const auto fill = [](RowStore& rows, int from, int count) {
        for (int i = from; i < from + count; ++i) {
            rows.beginRow();
            rows.append(std::to_string(i));
            rows.append(i % 1000 == 999 ? std::string(300000, 'v') : "value " + std::to_string(i * 3));
            rows.endRow();
        }
    };
    const auto check = [](const RowStore& rows, int count) {
        ASSERT_EQ(rows.rowCount(), static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i) {
            ASSERT_EQ(textOf(rows, i, 0), std::to_string(i)) << i;
            const std::string second = textOf(rows, i, 1);
            ASSERT_EQ(second, i % 1000 == 999 ? std::string(300000, 'v') : "value " + std::to_string(i * 3)) << i;
        }
    };

    RowStore held(2);
    RowStore packet(2);
    fill(packet, 0, 5);
    held.append(std::move(packet));  // into an empty store
    EXPECT_EQ(packet.rowCount(), 0u);
    int count = 5;
    // Small packets and large ones (whose blocks are big), with a half-built
    // row on either side that must leave no trace.
    for (const int size : {1, 7, 100, 20000, 3, 60000, 2}) {
        packet = RowStore(2);
        fill(packet, count, size);
        packet.beginRow();
        packet.append("half a row");
        held.beginRow();
        held.append("another half");
        held.append(std::move(packet));
        count += size;
        EXPECT_EQ(packet.rowCount(), 0u);
    }
    held.append(RowStore(2));  // nothing to append
    // The store grows as before after the appends, and the emptied source
    // can be filled again.
    fill(held, count, 1500);
    count += 1500;
    check(held, count);
    fill(packet, 0, 3);
    check(packet, 3);

    RowStore other(3);
    EXPECT_THROW(held.append(std::move(other)), std::logic_error);
    EXPECT_EQ(held.rowCount(), static_cast<std::size_t>(count));
}

TEST(RowStore, ManySmallAppendedPacketsCostNoMoreThanOneStore) {
    RowStore held(2);
    std::size_t textBytes = 0;
    for (int packetNumber = 0; packetNumber < 2000; ++packetNumber) {
        RowStore packet(2);
        for (int i = 0; i < 100; ++i) {
            const std::string cells[2] = {std::to_string(packetNumber * 100 + i), "thirty characters of some text"};
            packet.beginRow();
            for (const std::string& cell : cells) {
                packet.append(cell);
                textBytes += cell.size();
            }
            packet.endRow();
        }
        held.append(std::move(packet));
    }
    ASSERT_EQ(held.rowCount(), 200000u);
    EXPECT_EQ(textOf(held, 123456, 0), "123456");
    EXPECT_LT(held.bytesHeld(), 2 * textBytes);
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
