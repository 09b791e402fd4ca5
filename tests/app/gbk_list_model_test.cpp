// The cell store and the list model: byte-faithful cells, overwrites, compaction, limits, and the
// views told about new rows and changes in coalesced batches.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <string>

#include "app/gbk_cell_store.h"
#include "app/gbk_list_model.h"
#include "runtime/gbk.h"

namespace {

struct Write {
    int row, column;
    std::string bytes;
    bool accepted;
};

struct StoreCase {
    const char* name;
    int columns, rows;
    std::vector<Write> writes;
    // Expected cells afterwards: row, column, bytes.
    std::vector<std::tuple<int, int, std::string>> cells;
};

const std::string kGbk = "\xcc\xd4\xb1\xa6";  // 淘宝
const std::string kWithNul = std::string("a\0b", 3);

const StoreCase kStoreCases[] = {
    {"plain writes",
     3,
     2,
     {{0, 0, "1", true}, {0, 2, kGbk, true}, {1, 1, "http://item", true}},
     {{0, 0, "1"}, {0, 1, ""}, {0, 2, kGbk}, {1, 0, ""}, {1, 1, "http://item"}, {1, 2, ""}}},
    {"overwrite shorter, longer, empty",
     1,
     1,
     {{0, 0, "abcdef", true}, {0, 0, "xy", true}, {0, 0, "0123456789", true}, {0, 0, "", true}},
     {{0, 0, ""}}},
    {"overwrite keeps neighbours",
     1,
     3,
     {{0, 0, "aaa", true},
      {1, 0, "bbb", true},
      {2, 0, "ccc", true},
      {1, 0, "B", true},
      {1, 0, "BBBBBB", true}},
     {{0, 0, "aaa"}, {1, 0, "BBBBBB"}, {2, 0, "ccc"}}},
    {"bytes are kept as they are", 1, 1, {{0, 0, kWithNul, true}}, {{0, 0, kWithNul}}},
    {"outside the rows and columns",
     2,
     1,
     {{1, 0, "x", false}, {-1, 0, "x", false}, {0, 2, "x", false}, {0, -1, "x", false}},
     {{0, 0, ""}, {1, 0, ""}, {0, 2, ""}, {-1, -1, ""}}},
};

TEST(GbkCellStore, WritesAndReads) {
    for (const StoreCase& c : kStoreCases) {
        SCOPED_TRACE(c.name);
        GbkCellStore store(c.columns);
        for (int i = 0; i < c.rows; ++i)
            EXPECT_EQ(store.append_row(), i);
        for (const Write& w : c.writes)
            EXPECT_EQ(store.set(w.row, w.column, w.bytes), w.accepted) << w.row << "," << w.column;
        for (const auto& [row, column, bytes] : c.cells)
            EXPECT_EQ(std::string(store.get(row, column)), bytes) << row << "," << column;
    }
}

TEST(GbkCellStore, LargeCellsAndManyRows) {
    GbkCellStore store(2);
    const std::string big(3 * 1024 * 1024 + 7, 'x');  // larger than any shared chunk
    for (int i = 0; i < 20000; ++i) {
        const int row = store.append_row();
        store.set(row, 0, "https://item.taobao.com/item.htm?id=" + std::to_string(i));
        if (i % 5000 == 0) store.set(row, 1, big + std::to_string(i));
    }
    for (int i = 0; i < 20000; i += 997)
        EXPECT_EQ(store.get(i, 0), "https://item.taobao.com/item.htm?id=" + std::to_string(i));
    EXPECT_EQ(store.get(5000, 1), big + "5000");
    EXPECT_EQ(store.get(5001, 1), "");
    store.clear();
    EXPECT_EQ(store.rows(), 0);
    EXPECT_EQ(store.get(0, 0), "");
    EXPECT_EQ(store.memory_bytes(), 0u);
}

TEST(GbkCellStore, RepeatedOverwritesDoNotPileUp) {
    // A pane-like cell rewritten a hundred thousand times with growing text stays small.
    GbkCellStore store(1);
    for (int i = 0; i < 100; ++i)
        store.set(store.append_row(), 0, "row " + std::to_string(i));
    for (int i = 0; i < 100000; ++i)
        store.set(i % 100, 0, std::string(static_cast<std::size_t>(i % 50 + 1), 'a' + i % 26));
    for (int row = 0; row < 100; ++row) {
        const int last = 99900 + row;  // the last write to this row
        EXPECT_EQ(store.get(row, 0),
                  std::string(static_cast<std::size_t>(last % 50 + 1), 'a' + last % 26));
    }
    EXPECT_LT(store.memory_bytes(), 1024u * 1024u);
}

TEST(GbkCellStore, MillionUrlRowsStaySmall) {
    GbkCellStore store(1);
    std::size_t text_bytes = 0;
    for (int i = 0; i < 1000000; ++i) {
        const std::string url =
            "https://item.taobao.com/item.htm?id=" + std::to_string(600000000 + i);
        text_bytes += url.size();
        store.set(store.append_row(), 0, url);
    }
    // Under 100 bytes a row, text included.
    EXPECT_LT(store.memory_bytes(), 100u * 1000000u);
    EXPECT_LT(store.memory_bytes(), text_bytes + 16u * 1000000u);
    EXPECT_EQ(store.get(999999, 0), "https://item.taobao.com/item.htm?id=600999999");
}

TEST(GbkListModel, NewRowsReachTheViewsInOneBatch) {
    GbkListModel model({QStringLiteral("a"), QStringLiteral("b")});
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    for (int i = 0; i < 1000; ++i)
        model.append_row(std::to_string(i));
    model.append_rows({{"x", "y", "ignored"}, {}});
    EXPECT_EQ(model.rows(), 1002);
    EXPECT_EQ(model.rowCount(), 0);  // not told yet
    EXPECT_EQ(model.cell(1000, 1), "y");
    // The timer tells the views on its own, once.
    QElapsedTimer clock;
    clock.start();
    while (model.rowCount() == 0 && clock.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    EXPECT_EQ(model.rowCount(), 1002);
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted[0][1].toInt(), 0);
    EXPECT_EQ(inserted[0][2].toInt(), 1001);
}

TEST(GbkListModel, ChangedCellsAreRepaintedTogether) {
    GbkListModel model({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")});
    for (int i = 0; i < 100; ++i)
        model.append_row("r");
    model.flush();
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.set_cell(40, 1, kGbk);
    model.set_cell(10, 2, "z");
    model.set_cell(70, 0, "q");
    EXPECT_FALSE(model.set_cell(100, 0, "no such row"));
    EXPECT_EQ(changed.count(), 0);
    model.flush();
    ASSERT_EQ(changed.count(), 1);
    const auto from = changed[0][0].value<QModelIndex>(), to = changed[0][1].value<QModelIndex>();
    EXPECT_EQ(from.row(), 10);
    EXPECT_EQ(to.row(), 70);
    EXPECT_EQ(to.column(), 2);
    // The view sees text, converted from GBK.
    EXPECT_EQ(model.data(model.index(40, 1)).toString(), QString::fromUtf8("淘宝"));
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("b"));
}

TEST(GbkListModel, ClearTellsTheViewsAtOnce) {
    GbkListModel model({QStringLiteral("a")});
    model.append_row("1");
    model.flush();
    model.append_row("2");  // pending
    QSignalSpy reset(&model, &QAbstractItemModel::modelReset);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    model.clear();
    EXPECT_EQ(reset.count(), 1);
    EXPECT_EQ(model.rows(), 0);
    EXPECT_EQ(model.rowCount(), 0);
    model.flush();
    EXPECT_EQ(inserted.count(), 0);  // the pending row went with the clear
    EXPECT_EQ(model.append_row("3"), 0);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();  // listing needs no window
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
