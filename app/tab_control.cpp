#include "app/tab_control.h"

#include <QPainter>
#include <QStyleOptionTabWidgetFrame>

namespace {
constexpr int kStripHeight = 21;
}

TabControl::TabControl(QWidget* parent) : QWidget(parent), bar_(new QTabBar(this)) {
    bar_->setDrawBase(false);
    bar_->setExpanding(false);
    bar_->setUsesScrollButtons(true);
    connect(bar_, &QTabBar::currentChanged, this, [this](int index) {
        show_current();
        emit current_changed(index);
    });
}

QWidget* TabControl::add_page(const QString& caption) {
    auto* page = new QWidget(this);
    page->setGeometry(rect());
    page->setVisible(false);
    pages_.push_back(page);
    bar_->addTab(caption);  // the first tab added becomes current and shows its page
    show_current();
    bar_->raise();
    return page;
}

QWidget* TabControl::page(int index) const {
    return index >= 0 && index < count() ? pages_[static_cast<std::size_t>(index)] : nullptr;
}

void TabControl::set_current(int index) {
    if (index >= 0 && index < count()) bar_->setCurrentIndex(index);
}

void TabControl::show_current() {
    const int current = bar_->currentIndex();
    for (int i = 0; i < count(); ++i)
        pages_[static_cast<std::size_t>(i)]->setVisible(i == current);
    bar_->raise();
}

void TabControl::resizeEvent(QResizeEvent*) {
    for (QWidget* page : pages_)
        page->setGeometry(rect());
    bar_->setGeometry(2, 0, std::max(width() - 4, 0), kStripHeight);
}

void TabControl::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QStyleOptionTabWidgetFrame frame;
    frame.initFrom(this);
    frame.rect = rect().adjusted(0, kStripHeight - 1, 0, 0);
    frame.shape = QTabBar::RoundedNorth;
    frame.tabBarSize = bar_->sizeHint();
    frame.tabBarRect = bar_->geometry();
    frame.selectedTabRect = bar_->tabRect(bar_->currentIndex()).translated(bar_->pos());
    style()->drawPrimitive(QStyle::PE_FrameTabWidget, &frame, &painter, this);
}
