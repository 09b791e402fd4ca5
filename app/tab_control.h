#pragma once
// A tab control laid out the classic way: the tab strip sits on top of the pages, and every page
// covers the whole control, so a page control's position counts from the control's top-left corner
// (the strip included) — the layout's coordinates mean exactly that.
#include <QTabBar>
#include <QWidget>
#include <vector>

class TabControl : public QWidget {
    Q_OBJECT
public:
    explicit TabControl(QWidget* parent = nullptr);

    QWidget* add_page(const QString& caption);  // the new page, to put controls on
    int count() const { return static_cast<int>(pages_.size()); }
    QWidget* page(int index) const;
    QString caption(int index) const { return bar_->tabText(index); }
    int current() const { return bar_->currentIndex(); }
    void set_current(int index);
    QTabBar* bar() const { return bar_; }

signals:
    void current_changed(int index);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void show_current();

    QTabBar* bar_;
    std::vector<QWidget*> pages_;
};
