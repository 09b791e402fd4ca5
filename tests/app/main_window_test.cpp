// The real window, offscreen: every control by name with its kind, caption, geometry and
// visibility; list columns; status panes; hidden settings; sort radios; the pane-1 mirror; start
// and end of the program.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/gbk_list_model.h"
#include "app/main_window.h"
#include "app/paint_throttle.h"
#include "app/startup.h"
#include "app/tab_control.h"
#include "app/window_operations.h"
#include "harvest/controls.h"
#include "runtime/files.h"
#include "runtime/gbk.h"
#include "tests/support/control_names.h"

namespace {

QString u8(const char* text) {
    return QString::fromUtf8(text);
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<MainWindow>(state);
        window->show();
    }
    WindowOperations& ops() { return window->operations(); }

    AppState state;
    std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowTest, WindowTabsAndPages) {
    EXPECT_EQ(window->windowTitle(), u8("Zembra"));
    EXPECT_EQ(window->pos(), QPoint(50, 50));
    EXPECT_EQ(window->size(), QSize(508, 504));

    TabControl* tabs = window->tabs();
    ASSERT_EQ(window->control("选择夹1"), tabs);
    EXPECT_EQ(tabs->objectName(), u8("选择夹1"));
    EXPECT_EQ(tabs->geometry(), QRect(-1, 0, 505, 456));
    const char* captions[] = {"淘宝登陆", "淘宝宝贝采集", "采集买家ID", "采集买家旺旺"};
    ASSERT_EQ(tabs->count(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(tabs->caption(i), u8(captions[i])) << i;
    EXPECT_EQ(tabs->current(), 0);
    EXPECT_TRUE(tabs->page(0)->isVisible());
    EXPECT_FALSE(tabs->page(1)->isVisible());

    // Switching pages shows exactly the chosen one.
    tabs->bar()->setCurrentIndex(2);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(tabs->page(i)->isVisible(), i == 2) << i;

    QWidget* browser = window->control("超文本浏览框1");
    ASSERT_NE(browser, nullptr);
    EXPECT_EQ(browser->parentWidget(), tabs->page(0));
    EXPECT_EQ(browser->geometry(), QRect(4, 21, 493, 427));
    EXPECT_EQ(browser->objectName(), u8("超文本浏览框1"));
}

TEST_F(MainWindowTest, LoginPageComesFromTheFactory) {
    QWidget* made = nullptr;
    MainWindow other(state, [&](QWidget* parent) { return made = new QWidget(parent); });
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(other.control("超文本浏览框1"), made);
    EXPECT_EQ(made->geometry(), QRect(4, 21, 493, 427));
}

struct ControlRow {
    const char* name;
    const char* kind;
    const char* qt_class;
    int page;  // -1: hidden setting
    const char* caption;
};

const ControlRow kExpected[] = {
    {"标签1", "label", "QLabel", 1, "关键字"},
    {"编辑框_关键字", "edit", "QLineEdit", 1, ""},
    {"单选框1", "radio", "QRadioButton", 1, "综合"},
    {"单选框2", "radio", "QRadioButton", 1, "销量"},
    {"标签6", "label", "QLabel", 1, "价格区间"},
    {"编辑框_低", "edit", "QLineEdit", 1, ""},
    {"标签5", "label", "QLabel", 1, "-"},
    {"编辑框_高", "edit", "QLineEdit", 1, ""},
    {"标签9", "label", "QLabel", 1, "采集页数："},
    {"编辑框1", "edit", "QLineEdit", 1, "10"},
    {"超级列表框2", "report", "QTableView", 1, ""},
    {"选择框1", "check", "QCheckBox", 1, "只采集天猫"},
    {"标签8", "label", "QLabel", 1, ""},
    {"按钮_采集", "button", "QPushButton", 1, "采集"},
    {"按钮2", "button", "QPushButton", 1, "导出URL"},
    {"按钮3", "button", "QPushButton", 1, "URL处理"},
    {"按钮4", "button", "QPushButton", 1, "导出"},
    {"标签12", "label", "QLabel", 2, "获取数量："},
    {"标签5_获取到的数量", "label", "QLabel", 2, ""},
    {"按钮2_导入", "button", "QPushButton", 2, "导入URL"},
    {"按钮5_导出", "button", "QPushButton", 2, "导出ID"},
    {"按钮7", "button", "QPushButton", 2, "清空"},
    {"超级列表框1_user", "report", "QTableView", 2, ""},
    {"超级列表框2_URL", "list", "QListView", 2, ""},
    {"标签11", "label", "QLabel", 2, "正在获取："},
    {"标签_页数", "label", "QLabel", 2, ""},
    {"标签10", "label", "QLabel", 2, "页内容"},
    {"按钮3_批量获取", "button", "QPushButton", 2, "开始"},
    {"标签7_url", "label", "QLabel", 2, ""},
    {"标签3_评论数量", "label", "QLabel", 2, ""},
    {"标签13", "label", "QLabel", 2, "总数量："},
    {"超级列表框", "report", "QTableView", 3, ""},
    {"按钮6", "button", "QPushButton", 3, "导入旺旺"},
    {"标签15", "label", "QLabel", 3, ""},
    {"按钮5", "button", "QPushButton", 3, "开始"},
    {"编辑框2", "edit", "QLineEdit", 3, "50"},
    {"编辑框_线程", "edit", "QLineEdit", -1, "1"},
    {"编辑框_过滤信用", "edit", "QLineEdit", -1, "0"},
    {"标签3", "label", "QLabel", -1, "过滤信用"},
    {"标签4", "label", "QLabel", -1, "以下的买家"},
    {"组合框1", "combo", "QComboBox", -1, "关键字"},
    {"列表框_页面", "listbox", "QListView", -1, ""},
    {"列表框_店铺", "listbox", "QListView", -1, ""},
    {"超级列表框1", "report", "QTableView", -1, ""},
};

TEST_F(MainWindowTest, EveryControlByNameWithKindCaptionAndVisibility) {
    for (const ControlRow& row : kExpected) {
        SCOPED_TRACE(row.name);
        QWidget* widget = window->control(row.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->objectName(), u8(row.name));
        EXPECT_EQ(widget->property("kind").toString(), QString::fromLatin1(row.kind));
        EXPECT_TRUE(widget->inherits(row.qt_class)) << widget->metaObject()->className();
        // Captions and defaults read back as GBK through the operations.
        EXPECT_EQ(ops().text(row.name), utf8_to_gbk(row.caption));
        if (row.page >= 0) {
            EXPECT_EQ(widget->parentWidget(), window->tabs()->page(row.page));
            EXPECT_FALSE(widget->isHidden());
            EXPECT_TRUE(widget->isEnabled());
        } else {
            EXPECT_TRUE(widget->isHidden());
            EXPECT_FALSE(widget->isVisible());
        }
    }
    // The two labels left of the page exist and are shown, but nobody can see them.
    for (const char* name : {"标签3_评论数量", "标签13"})
        EXPECT_LT(window->control(name)->geometry().right(), 0) << name;
}

TEST_F(MainWindowTest, EveryCatalogueNameIsOneControlWithItsAccessibleName) {
    std::set<std::string> names;
    for (const ControlName& entry : all_controls()) {
        const std::string name(entry.name);
        SCOPED_TRACE(name);
        EXPECT_TRUE(names.insert(name).second) << "listed twice";
        QWidget* widget = window->control(entry.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->objectName(), QString::fromStdString(name));
        EXPECT_FALSE(widget->accessibleName().isEmpty());
        EXPECT_EQ(widget->accessibleName().toStdString(), std::string(entry.accessible));
    }
    // Every control of the layout is in the catalogue (each row above is a window control).
    for (const ControlRow& row : kExpected)
        EXPECT_NE(find_control(row.name), nullptr) << row.name;
    EXPECT_EQ(find_control("没有这个控件"), nullptr);
}

// Where a control lies on its page, in the tab control's coordinates.
bool on_page(QWidget* widget, int page, MainWindow& window) {
    return widget->parentWidget() == window.tabs()->page(page);
}

bool interactive(QWidget* widget) {
    return (widget->focusPolicy() & Qt::TabFocus) != 0;
}

std::vector<QWidget*> page_controls(MainWindow& window, int page) {
    std::vector<QWidget*> found;
    for (const ControlName& entry : all_controls()) {
        QWidget* widget = window.control(entry.name);
        if (widget && on_page(widget, page, window) && !widget->isHidden()) found.push_back(widget);
    }
    return found;
}

TEST_F(MainWindowTest, PageControlsLieInsideTheirPageAndNoneCoversAnotherThatTakesInput) {
    // The two labels the program keeps left of its page, where nobody sees them.
    const std::set<QWidget*> left_outside = {window->control("标签3_评论数量"),
                                             window->control("标签13")};
    for (int page = 1; page <= 3; ++page) {
        SCOPED_TRACE(page);
        const QRect area = window->tabs()->page(page)->rect();
        const std::vector<QWidget*> controls = page_controls(*window, page);
        ASSERT_FALSE(controls.empty());
        for (QWidget* widget : controls) {
            if (left_outside.contains(widget)) {
                EXPECT_LT(widget->geometry().right(), 0) << widget->objectName().toStdString();
                continue;
            }
            EXPECT_TRUE(area.contains(widget->geometry())) << widget->objectName().toStdString();
        }
        for (QWidget* a : controls) {
            if (!interactive(a)) continue;
            for (QWidget* b : controls) {
                if (a == b || !a->geometry().intersects(b->geometry())) continue;
                SCOPED_TRACE(a->objectName().toStdString() + " / " + b->objectName().toStdString());
                // Only a label may lie under a control that takes input, and the control stays on
                // top where they meet, so a click there reaches it.
                EXPECT_FALSE(interactive(b));
                const QPoint middle = a->geometry().intersected(b->geometry()).center();
                EXPECT_EQ(window->tabs()->page(page)->childAt(middle), a);
            }
        }
    }
}

TEST_F(MainWindowTest, TabOrderFollowsReadingOrderOnEachPage) {
    for (int page = 1; page <= 3; ++page) {
        SCOPED_TRACE(page);
        std::set<QWidget*> wanted;
        for (QWidget* widget : page_controls(*window, page))
            if (interactive(widget)) wanted.insert(widget);
        // The chain through the page, from its first control that takes input.
        std::vector<QWidget*> chain;
        QWidget* start = window->tabs()->page(page);
        for (QWidget* w = start->nextInFocusChain(); w != start && chain.size() < wanted.size();
             w = w->nextInFocusChain())
            if (wanted.contains(w)) chain.push_back(w);
        ASSERT_EQ(chain.size(), wanted.size());
        for (size_t i = 1; i < chain.size(); ++i) {
            const QRect before = chain[i - 1]->geometry();
            const QRect next = chain[i]->geometry();
            SCOPED_TRACE(chain[i - 1]->objectName().toStdString() + " -> " +
                         chain[i]->objectName().toStdString());
            // Next line down, or further right on the same line.
            const bool lower = next.center().y() > before.bottom();
            const bool same_line = next.top() <= before.bottom() && before.top() <= next.bottom();
            EXPECT_TRUE(lower || (same_line && next.left() > before.left()));
        }
    }
}

TEST_F(MainWindowTest, InitialStates) {
    EXPECT_TRUE(ops().checked("单选框1"));
    EXPECT_FALSE(ops().checked("单选框2"));
    EXPECT_FALSE(ops().checked("选择框1"));
    EXPECT_EQ(ops().selection("组合框1"), 0);
    auto* combo = window->control_as<QComboBox>("组合框1");
    ASSERT_EQ(combo->count(), 2);
    EXPECT_EQ(combo->itemText(0), u8("关键字"));
    EXPECT_EQ(combo->itemText(1), u8("店铺+宝贝"));
    for (const char* box : {"列表框_页面", "列表框_店铺"})
        EXPECT_EQ(ops().item_count(box), 0);
    EXPECT_TRUE(state.values.SortParameter.empty());

    const QFont font = window->control("标签8")->font();
    EXPECT_EQ(font.family(), u8("微软雅黑"));
    EXPECT_TRUE(font.bold());
    EXPECT_FALSE(window->control("标签1")->font().bold());
}

struct ColumnRow {
    const char* list;
    int column;
    const char* title;
    int width;
};

const ColumnRow kColumns[] = {
    {"超级列表框2", 0, "序号", 50},         {"超级列表框2", 1, "商品地址", 280},
    {"超级列表框2", 2, "商品ID", 80},       {"超级列表框2", 3, "店铺ID", 80},
    {"超级列表框1_user", 0, "序号", 50},    {"超级列表框1_user", 1, "买家ID", 200},
    {"超级列表框1_user", 2, "评论内容", 0}, {"超级列表框", 0, "序号", 50},
    {"超级列表框", 1, "旺旺用户名", 200},   {"超级列表框", 2, "ID", 180},
    {"超级列表框1", 0, "序号", 50},         {"超级列表框1", 1, "买家旺旺", 200},
    {"超级列表框1", 2, "买家信用", 100},    {"超级列表框1", 3, "数字ID", 100},
    {"超级列表框1", 4, "在线", 0},          {"超级列表框1", 5, "商品地址", 0},
    {"超级列表框1", 6, "商品名称", 0},
};

TEST_F(MainWindowTest, ListColumnsTitlesAndWidths) {
    std::map<std::string, int> counts;
    for (const ColumnRow& row : kColumns) {
        SCOPED_TRACE(std::string(row.list) + " column " + std::to_string(row.column));
        ++counts[row.list];
        auto* view = window->control_as<QTableView>(row.list);
        ASSERT_NE(view, nullptr);
        EXPECT_EQ(view->model()->headerData(row.column, Qt::Horizontal).toString(), u8(row.title));
        EXPECT_EQ(view->isColumnHidden(row.column), row.width == 0);
        EXPECT_EQ(view->horizontalHeader()->sectionSize(row.column), row.width);
        EXPECT_FALSE(view->horizontalHeader()->isHidden());
    }
    for (const auto& [list, count] : counts)
        EXPECT_EQ(window->list_model(list)->columnCount(), count) << list;

    // The URL list: one column, no header.
    auto* urls = window->control_as<QListView>("超级列表框2_URL");
    ASSERT_NE(urls, nullptr);
    EXPECT_EQ(window->list_model("超级列表框2_URL")->columnCount(), 1);
    EXPECT_EQ(ops().cell("超级列表框2_URL", 0, 1), "");
}

TEST_F(MainWindowTest, HiddenColumnsAreWrittenAndReadLikeOthers) {
    for (const ColumnRow& row : kColumns) {
        if (row.width != 0) continue;
        SCOPED_TRACE(std::string(row.list) + " column " + std::to_string(row.column));
        const int index = ops().append_row(row.list, "1");
        ASSERT_GE(index, 0);
        const Text text = utf8_to_gbk("隐藏列的内容 ") + row.title;
        ops().set_cell(row.list, index, row.column, text);
        EXPECT_EQ(ops().cell(row.list, index, row.column), text);
        EXPECT_EQ(ops().cell(row.list, index, 0), "1");
    }
}

TEST_F(MainWindowTest, StatusPanes) {
    struct Pane {
        const char* text;
        int width;  // 0: takes the rest
    };
    const Pane panes[] = {{"线程", 50},     {"1", 40},        {"当前线程", 60},
                          {"0", 40},        {"采集数量", 60}, {"0", 80},
                          {"当前页数", 60}, {"0", 100},       {"", 0}};
    QStatusBar* bar = window->statusBar();
    EXPECT_EQ(bar->objectName(), u8("状态条1"));
    EXPECT_EQ(window->control("状态条1"), bar);
    int fixed_right = 0;
    for (int i = 0; i < 9; ++i) {
        SCOPED_TRACE(i);
        QLabel* pane = window->pane(i);
        ASSERT_NE(pane, nullptr);
        EXPECT_TRUE(bar->isAncestorOf(pane));
        EXPECT_EQ(ops().pane(i), utf8_to_gbk(panes[i].text));
        if (panes[i].width > 0) {
            EXPECT_EQ(pane->width(), panes[i].width);
            fixed_right = std::max(fixed_right, pane->geometry().right());
            EXPECT_LT(pane->geometry().right(), bar->width());  // all of it on the bar
        } else {
            // The last pane takes the rest of the bar.
            EXPECT_GT(pane->geometry().left(), fixed_right);
            EXPECT_GE(pane->mapTo(bar, QPoint(pane->width(), 0)).x(), bar->width() - 8);
        }
    }
    EXPECT_EQ(window->pane(9), nullptr);
    EXPECT_EQ(window->pane(-1), nullptr);
}

TEST_F(MainWindowTest, SortRadiosSetTheSortParameter) {
    struct Step {
        const char* click;
        const char* expected;
    };
    const Step steps[] = {{"单选框2", "&sort=sale-desc"},
                          {"单选框1", ""},
                          {"单选框1", ""},
                          {"单选框2", "&sort=sale-desc"},
                          {"单选框2", "&sort=sale-desc"},
                          {"单选框1", ""}};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.click);
        auto* radio = window->control_as<QRadioButton>(step.click);
        QTest::mouseClick(radio, Qt::LeftButton, {}, QPoint(5, radio->height() / 2));
        EXPECT_TRUE(radio->isChecked());
        EXPECT_EQ(state.values.SortParameter, step.expected);
    }
    // Only exactly one of the two is selected at a time.
    EXPECT_NE(ops().checked("单选框1"), ops().checked("单选框2"));
}

TEST_F(MainWindowTest, ThreadCountIsMirroredIntoPaneOne) {
    auto* edit = window->control_as<QLineEdit>("编辑框_线程");
    // Written by the program.
    const char* texts[] = {"8", "", "12", "线程数"};
    for (const char* text : texts) {
        ops().set_text("编辑框_线程", utf8_to_gbk(text));
        EXPECT_EQ(ops().pane(1), utf8_to_gbk(text)) << text;
    }
    // Typed by a user, if the box were reachable: each key shows at once; clearing empties it.
    edit->clear();
    EXPECT_EQ(ops().pane(1), "");
    QTest::keyClicks(edit, QStringLiteral("3"));
    EXPECT_EQ(ops().pane(1), "3");
    QTest::keyClicks(edit, QStringLiteral("2"));
    EXPECT_EQ(ops().pane(1), "32");
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(ops().pane(1), "");
    // The other panes are untouched.
    EXPECT_EQ(ops().pane(0), utf8_to_gbk("线程"));
    EXPECT_EQ(ops().pane(3), "0");
}

TEST_F(MainWindowTest, ClosingEndsTheProgramWithCodeZero) {
    std::vector<int> codes;
    end_on_close(*window, [&](int code) { codes.push_back(code); });
    window->close();
    EXPECT_EQ(codes, std::vector<int>{0});

    // Without the handler the window just closes (the tests rely on that).
    MainWindow plain(state);
    plain.show();
    EXPECT_TRUE(plain.close());
}

// Counts its paints.
class PaintCounter : public QWidget {
public:
    using QWidget::QWidget;
    int paints = 0;

protected:
    void paintEvent(QPaintEvent*) override { ++paints; }
};

TEST(PaintThrottle, ManyChangesArePaintedTogetherAndTheLastOneIsShown) {
    constexpr int kInterval = 50;
    QWidget top;
    top.resize(100, 100);
    auto* counter = new PaintCounter(&top);
    counter->resize(50, 50);
    auto* throttle = new PaintThrottle(&top, kInterval);
    top.show();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 2 * kInterval)
        QCoreApplication::processEvents();  // first paints
    const int before = counter->paints;

    clock.restart();
    for (int i = 0; i < 200; ++i) {
        counter->update();
        QCoreApplication::processEvents();
    }
    const qint64 busy = clock.elapsed();
    const int during = counter->paints - before;
    EXPECT_LE(during, busy / kInterval + 2);
    EXPECT_GT(throttle->deferred(), 0);
    // The change held back is painted once the interval is over.
    while (clock.elapsed() < busy + 3 * kInterval)
        QCoreApplication::processEvents();
    EXPECT_GT(counter->paints, before + during);
}

TEST(Startup, OutputFileIsTruncatedAtEveryStartAndSharedWhileOpen) {
    QTemporaryDir dir;
    const std::filesystem::path directory = dir.path().toStdString();
    const auto path = output_file_path(directory);
    EXPECT_TRUE(path.filename() == std::filesystem::path(u8"淘宝买家.txt"));
    EXPECT_EQ(path.parent_path(), directory);
    ASSERT_TRUE(file_write_all(path, {to_bytes("old content\r\n")}));

    for (int start = 0; start < 2; ++start) {
        SCOPED_TRACE(start);
        const int file = open_output_file(directory);
        ASSERT_NE(file, 0);
        EXPECT_EQ(std::filesystem::file_size(path), 0u);  // gone as soon as it is opened
        const Text line = utf8_to_gbk("买家一") + "\r\n";
        ASSERT_TRUE(file_write_raw(file, line));
        // Another reader sees the bytes while the file is still open.
        std::ifstream other(path, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(other), {}), line);
        // Opened again: the other handle may still write; deny none.
        const int reader = file_open(path, 1, 1);
        EXPECT_NE(reader, 0);
        file_close(reader);
        file_close(file);
    }
}

TEST(Startup, OutputFileThatCannotBeCreatedGivesZero) {
    QTemporaryDir dir;
    const std::filesystem::path missing = std::filesystem::path(dir.path().toStdString()) / "no";
    EXPECT_EQ(open_output_file(missing), 0);
}

TEST(Startup, GlobalCleanupRunsItsStepsOnceInOrder) {
    std::vector<int> ran;
    add_cleanup_step([&] { ran.push_back(1); });
    add_cleanup_step([&] { ran.push_back(2); });
    GlobalCleanup();
    GlobalCleanup();
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
}

TEST(Startup, SandboxIsTurnedOffOnlyForRoot) {
    // main() ran prepare_platform() before the application object existed.
    const bool root = geteuid() == 0;
    if (root)
        EXPECT_EQ(qgetenv("QTWEBENGINE_DISABLE_SANDBOX"), QByteArray("1"));
    else
        EXPECT_TRUE(qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"));
    EXPECT_TRUE(QCoreApplication::testAttribute(Qt::AA_ShareOpenGLContexts));
}

// main() ran prepare_platform(): past the file-size limit a write fails, and the program lives on
// to report it.
TEST(Startup, WritePastTheFileSizeLimitFailsInsteadOfEndingTheProgram) {
    const std::filesystem::path file = std::filesystem::temp_directory_path() /
                                       ("zembra_fsize_" + std::to_string(::getpid()) + ".txt");
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = file_write_all(file, {Bytes(20000, 'x')});
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::filesystem::remove(file);
    EXPECT_FALSE(written);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    fail_tests_on_unknown_controls();
    if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();  // listing needs no window
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");
    prepare_platform();
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
