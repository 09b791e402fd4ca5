// The window's layout: every control with its name, kind, caption or default and geometry.
// Geometry of a page control counts from the tab control's top-left corner.
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QTableView>

#include "app/gbk_list_model.h"
#include "app/main_window.h"
#include "app/tab_control.h"
#include "harvest/controls.h"

namespace {

enum class Kind { Label, Edit, Button, Check, Radio, Combo, Report, ListMode, ListBox };

struct ControlLayout {
    std::string_view name;
    Kind kind;
    int page;  // tab page index; -1 for the hidden settings on the window itself
    const char* caption;
    int x, y, width, height;
};

constexpr int kHidden = -1;

const ControlLayout kControls[] = {
    // Page 1: item harvest.
    {controls::kKeywordLabel, Kind::Label, 1, "关键字", 13, 63, 41, 20},
    {controls::kKeyword, Kind::Edit, 1, "", 66, 65, 408, 20},
    {controls::kOverall, Kind::Radio, 1, "综合", 26, 98, 56, 20},
    {controls::kSales, Kind::Radio, 1, "销量", 102, 98, 56, 20},
    {controls::kPriceLabel, Kind::Label, 1, "价格区间", 188, 95, 56, 20},
    {controls::kLow, Kind::Edit, 1, "", 247, 96, 32, 20},
    {controls::kPriceDash, Kind::Label, 1, "-", 284, 95, 8, 20},
    {controls::kHigh, Kind::Edit, 1, "", 298, 96, 32, 20},
    {controls::kPagesLabel, Kind::Label, 1, "采集页数：", 365, 98, 56, 16},
    {controls::kPages, Kind::Edit, 1, "10", 423, 96, 37, 21},
    {controls::kItemList, Kind::Report, 1, "", 3, 128, 496, 216},
    {controls::kMallOnly, Kind::Check, 1, "只采集天猫", 16, 364, 88, 24},
    {controls::kStatusLabel, Kind::Label, 1, "", 144, 364, 336, 24},
    {controls::kHarvestButton, Kind::Button, 1, "采集", 28, 409, 72, 30},
    {controls::kExportUrlsButton, Kind::Button, 1, "导出URL", 142, 408, 72, 30},
    {controls::kAddUrlsButton, Kind::Button, 1, "URL处理", 260, 406, 64, 32},
    {controls::kExportCollectedButton, Kind::Button, 1, "导出", 380, 405, 96, 32},
    // Page 2: buyer IDs.
    {controls::kBuyerCountCaption, Kind::Label, 2, "获取数量：", 17, 38, 63, 16},
    {controls::kBuyerCountLabel, Kind::Label, 2, "", 81, 38, 72, 16},
    {controls::kImportUrlsButton, Kind::Button, 2, "导入URL", 185, 33, 88, 24},
    {controls::kExportBuyersButton, Kind::Button, 2, "导出ID", 284, 33, 85, 24},
    {controls::kClearUrlsButton, Kind::Button, 2, "清空", 398, 32, 88, 24},
    {controls::kBuyerList, Kind::Report, 2, "", 9, 71, 263, 266},
    {controls::kUrlList, Kind::ListMode, 2, "", 282, 73, 208, 264},
    {controls::kFetchingCaption, Kind::Label, 2, "正在获取：", 9, 345, 64, 24},
    {controls::kReviewPageLabel, Kind::Label, 2, "", 68, 345, 55, 24},
    {controls::kPageContentCaption, Kind::Label, 2, "页内容", 130, 345, 48, 24},
    {controls::kReviewButton, Kind::Button, 2, "开始", 182, 345, 88, 24},
    {controls::kReviewUrlLabel, Kind::Label, 2, "", 281, 345, 207, 24},
    {controls::kReviewTotalLabel, Kind::Label, 2, "", -192, 167, 57, 16},
    {controls::kTotalCaption, Kind::Label, 2, "总数量：", -264, 206, 48, 16},
    // Page 3: buyer Wangwang names. The progress label goes first so the start button it overlaps
    // stays on top and clickable.
    {controls::kNameList, Kind::Report, 3, "", 20, 32, 440, 300},
    {controls::kImportNamesButton, Kind::Button, 3, "导入旺旺", 20, 368, 72, 32},
    {controls::kProgressLabel, Kind::Label, 3, "", 113, 360, 120, 48},
    {controls::kMemberIdButton, Kind::Button, 3, "开始", 176, 369, 78, 32},
    {controls::kWorkerCount, Kind::Edit, 3, "50", 346, 368, 80, 32},
    // Settings the user never sees; the program reads them like any other control.
    {controls::kThreads, Kind::Edit, kHidden, "1", 520, 10, 40, 20},
    {controls::kCreditCaption, Kind::Label, kHidden, "过滤信用", 520, 40, 56, 20},
    {controls::kCredit, Kind::Edit, kHidden, "0", 580, 40, 40, 20},
    {controls::kCreditTail, Kind::Label, kHidden, "以下的买家", 624, 40, 64, 20},
    {controls::kMode, Kind::Combo, kHidden, "", 520, 70, 100, 20},
    {controls::kPageBox, Kind::ListBox, kHidden, "", 520, 100, 100, 80},
    {controls::kShopBox, Kind::ListBox, kHidden, "", 630, 100, 100, 80},
    {controls::kCollectedBuyers, Kind::Report, kHidden, "", 520, 190, 300, 100},
};

struct Column {
    const char* title;
    int width;  // 0: the column exists but is not shown
};

struct ListColumns {
    std::string_view list;
    std::vector<Column> columns;
};

const ListColumns kColumns[] = {
    {controls::kItemList, {{"序号", 50}, {"商品地址", 280}, {"商品ID", 80}, {"店铺ID", 80}}},
    {controls::kBuyerList, {{"序号", 50}, {"买家ID", 200}, {"评论内容", 0}}},
    {controls::kNameList, {{"序号", 50}, {"旺旺用户名", 200}, {"ID", 180}}},
    {controls::kCollectedBuyers,
     {{"序号", 50},
      {"买家旺旺", 200},
      {"买家信用", 100},
      {"数字ID", 100},
      {"在线", 0},
      {"商品地址", 0},
      {"商品名称", 0}}},
};

const char* const kSearchModes[] = {"关键字", "店铺+宝贝"};

struct Pane {
    const char* text;
    int width;  // 0: takes the rest of the bar
};

const Pane kPaneLayout[MainWindow::kPanes] = {
    {"线程", 50}, {"1", 40},        {"当前线程", 60}, {"0", 40}, {"采集数量", 60},
    {"0", 80},    {"当前页数", 60}, {"0", 100},       {"", 0},
};

const char* const kPages[] = {"淘宝登陆", "淘宝宝贝采集", "采集买家ID", "采集买家旺旺"};

constexpr int kRowHeight = 18;
constexpr int kPaneHeight = 20;

QString u8(const char* text) {
    return QString::fromUtf8(text);
}

const std::vector<Column>* columns_of(std::string_view list) {
    for (const auto& entry : kColumns)
        if (entry.list == list) return &entry.columns;
    return nullptr;
}

QTableView* make_report(const std::vector<Column>& columns, QWidget* parent, GbkListModel*& model) {
    QStringList titles;
    for (const Column& column : columns)
        titles << u8(column.title);
    auto* view = new QTableView(parent);
    model = new GbkListModel(titles, view);
    view->setModel(model);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setShowGrid(false);
    view->setWordWrap(false);
    view->verticalHeader()->hide();
    view->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view->verticalHeader()->setDefaultSectionSize(kRowHeight);
    QHeaderView* header = view->horizontalHeader();
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    for (int i = 0; i < static_cast<int>(columns.size()); ++i) {
        view->setColumnWidth(i, columns[static_cast<std::size_t>(i)].width);
        view->setColumnHidden(i, columns[static_cast<std::size_t>(i)].width == 0);
    }
    return view;
}

QListView* make_list(QWidget* parent, GbkListModel*& model) {
    auto* view = new QListView(parent);
    model = new GbkListModel(QStringList{QString()}, view);
    view->setModel(model);
    view->setUniformItemSizes(true);
    // Lays items out a batch per event-loop pass: a list growing by a million rows stays
    // responsive.
    view->setLayoutMode(QListView::Batched);
    view->setBatchSize(2000);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    return view;
}

const char* kind_word(Kind kind) {
    switch (kind) {
        case Kind::Label:
            return "label";
        case Kind::Edit:
            return "edit";
        case Kind::Button:
            return "button";
        case Kind::Check:
            return "check";
        case Kind::Radio:
            return "radio";
        case Kind::Combo:
            return "combo";
        case Kind::Report:
            return "report";
        case Kind::ListMode:
            return "list";
        case Kind::ListBox:
            return "listbox";
    }
    return "";
}

}  // namespace

void MainWindow::build(const PageFactory& login_page) {
    auto* central = new QWidget(this);
    setCentralWidget(central);

    tabs_ = new TabControl(central);
    tabs_->setGeometry(-1, 0, 505, 456);
    for (const char* caption : kPages)
        tabs_->add_page(u8(caption));
    add(controls::kTabs, tabs_, "tabs");

    QWidget* browser = login_page ? login_page(tabs_->page(0)) : nullptr;
    if (!browser) browser = new QLabel(u8("登录页面未加载"), tabs_->page(0));
    browser->setGeometry(4, 21, 493, 427);
    add(controls::kBrowser, browser, "browser");

    for (const ControlLayout& layout : kControls) {
        QWidget* parent = layout.page == kHidden ? central : tabs_->page(layout.page);
        const QString caption = u8(layout.caption);
        QWidget* widget = nullptr;
        GbkListModel* model = nullptr;
        switch (layout.kind) {
            case Kind::Label: {
                auto* label = new QLabel(caption, parent);
                label->setTextFormat(Qt::PlainText);  // harvest text is never markup
                widget = label;
                break;
            }
            case Kind::Edit:
                widget = new QLineEdit(caption, parent);
                break;
            case Kind::Button:
                widget = new QPushButton(caption, parent);
                break;
            case Kind::Check:
                widget = new QCheckBox(caption, parent);
                break;
            case Kind::Radio:
                widget = new QRadioButton(caption, parent);
                break;
            case Kind::Combo: {
                auto* combo = new QComboBox(parent);
                for (const char* item : kSearchModes)
                    combo->addItem(u8(item));
                combo->setCurrentIndex(0);
                widget = combo;
                break;
            }
            case Kind::Report: {
                const auto* columns = columns_of(layout.name);
                widget = make_report(columns ? *columns : std::vector<Column>{}, parent, model);
                break;
            }
            case Kind::ListMode:
            case Kind::ListBox:
                widget = make_list(parent, model);
                break;
        }
        widget->setGeometry(layout.x, layout.y, layout.width, layout.height);
        if (layout.page == kHidden) widget->hide();
        add(layout.name, widget, kind_word(layout.kind));
        if (model) models_.emplace(std::string(layout.name), model);
    }

    control_as<QRadioButton>(controls::kOverall)->setChecked(true);
    QFont status_font(u8("微软雅黑"));
    status_font.setPixelSize(font().pixelSize() > 0 ? font().pixelSize() : 12);
    status_font.setBold(true);
    control(controls::kStatusLabel)->setFont(status_font);

    // The panes sit side by side without the bar's own item spacing, so the fixed widths add up
    // as laid out and the last pane gets what is left.
    QStatusBar* bar = statusBar();
    bar->setSizeGripEnabled(false);
    auto* strip = new QWidget(bar);
    auto* row = new QHBoxLayout(strip);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    for (int i = 0; i < kPanes; ++i) {
        auto* pane = new QLabel(u8(kPaneLayout[i].text), strip);
        pane->setTextFormat(Qt::PlainText);
        pane->setFrameShape(QFrame::Panel);
        pane->setFrameShadow(QFrame::Sunken);
        if (kPaneLayout[i].width > 0) {
            // Fixed both ways, a new text does not make the bar lay itself out again.
            pane->setFixedSize(kPaneLayout[i].width, kPaneHeight);
            row->addWidget(pane, 0);
        } else {
            pane->setMinimumWidth(0);
            pane->setFixedHeight(kPaneHeight);
            row->addWidget(pane, 1);
        }
        panes_[i] = pane;
    }
    bar->addWidget(strip, 1);
    add(controls::kStatusBar, bar, "status");
    tabs_->set_current(0);
}
