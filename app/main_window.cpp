#include "app/main_window.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QRadioButton>

#include "app/app_state.h"
#include "app/gbk_list_model.h"
#include "app/paint_throttle.h"
#include "app/tab_control.h"
#include "app/window_operations.h"
#include "harvest/controls.h"

namespace {
constexpr int kWindowX = 50, kWindowY = 50, kWindowWidth = 508, kWindowHeight = 504;
constexpr int kFontPixels = 12;
constexpr int kPaintIntervalMs = 20;
}  // namespace

MainWindow::MainWindow(AppState& state, const PageFactory& login_page) : state_(state) {
    setWindowTitle(QStringLiteral("Zembra"));
    QFont base = font();
    base.setPixelSize(kFontPixels);
    setFont(base);
    build(login_page);
    connect_settings();
    operations_ = std::make_unique<WindowOperations>(*this);
    new PaintThrottle(this, kPaintIntervalMs);
    move(kWindowX, kWindowY);  // the frame's corner
    resize(kWindowWidth, kWindowHeight);
}

MainWindow::~MainWindow() = default;

void MainWindow::add(std::string_view name, QWidget* widget, const char* kind) {
    const auto utf8 = [](std::string_view text) {
        return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    };
    widget->setObjectName(utf8(name));
    widget->setProperty("kind", QString::fromLatin1(kind));
    // Without it a screen reader announces an edit box as blank.
    if (const ControlName* known = find_control(name))
        widget->setAccessibleName(utf8(known->accessible));
    else
        unknown_control(name);
    controls_.emplace(std::string(name), widget);
}

QWidget* MainWindow::control(std::string_view name) const {
    const auto found = controls_.find(name);
    if (found != controls_.end()) return found->second;
    unknown_control(name);
    return nullptr;
}

GbkListModel* MainWindow::list_model(std::string_view name) const {
    const auto found = models_.find(name);
    if (found != models_.end()) return found->second;
    if (!controls_.contains(name)) unknown_control(name);
    return nullptr;
}

QLabel* MainWindow::pane(int index) const {
    return index >= 0 && index < kPanes ? panes_[index] : nullptr;
}

void MainWindow::connect_settings() {
    // The sort order the harvest appends to its search addresses.
    connect(control_as<QRadioButton>(controls::kOverall), &QRadioButton::clicked, this,
            [this] { state_.values.SortParameter.clear(); });
    connect(control_as<QRadioButton>(controls::kSales), &QRadioButton::clicked, this,
            [this] { state_.values.SortParameter = "&sort=sale-desc"; });
    // Pane 1 shows the thread count setting, whatever changes it.
    connect(control_as<QLineEdit>(controls::kThreads), &QLineEdit::textChanged, this,
            [this](const QString& text) { panes_[1]->setText(text); });
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (close_handler_) {
        close_handler_();  // ends the program; returns only when a test stands in for it
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}
