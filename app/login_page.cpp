#include "app/login_page.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLibraryInfo>
#include <QPointer>
#include <QPushButton>
#include <QStackedLayout>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include "app/cookie_bridge.h"
#include "harvest/controls.h"
#include "web/host_settings.h"

namespace {

QString u8(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// Why the browser cannot run here, or empty when it can.
QString browser_unavailable_reason(const QString& platform_name, const QString& process_path) {
    // Chromium draws through a real window system; without one it does not run reliably.
    if (platform_name == u"offscreen" || platform_name == u"minimal" ||
        platform_name == u"minimalegl" || platform_name.isEmpty())
        return u8("没有可用的图形显示（Qt 平台“%1”），内嵌浏览器无法启动。").arg(platform_name);
    if (process_path.isEmpty())
        return u8("找不到浏览器组件 QtWebEngineProcess，内嵌浏览器无法启动。");
    return {};
}

QString termination_text(QWebEnginePage::RenderProcessTerminationStatus status, int exit_code) {
    QString why;
    switch (status) {
        case QWebEnginePage::NormalTerminationStatus:
            why = u8("正常退出");
            break;
        case QWebEnginePage::AbnormalTerminationStatus:
            why = u8("异常退出");
            break;
        case QWebEnginePage::CrashedTerminationStatus:
            why = u8("崩溃");
            break;
        case QWebEnginePage::KilledTerminationStatus:
            why = u8("被终止");
            break;
    }
    return u8("浏览器页面进程%1（代码 %2）。").arg(why).arg(exit_code);
}

// Page 0's browser control: the view, or a message in its place when the browser cannot run or its
// page process died. The profile is off the record: nothing of the user's is read or written on
// disk, and a sign-in lasts as long as the program, like the shared cookie store it feeds.
class LoginPage : public QWidget {
public:
    LoginPage(QWidget* parent, const HostSettings& settings)
        : QWidget(parent), start_(QUrl(QString::fromStdString(settings.login_start_url))) {
        setObjectName(u8(controls::kBrowser.data()));
        stack_ = new QStackedLayout(this);
        stack_->setContentsMargins(0, 0, 0, 0);
        build_message_panel();

        const QString reason =
            browser_unavailable_reason(QGuiApplication::platformName(), find_browser_process());
        if (!reason.isEmpty()) {
            show_message(reason, false);
            return;
        }
        profile_ = new QWebEngineProfile(this);
        view_ = new QWebEngineView(this);
        auto* page = new QWebEnginePage(profile_, view_);
        view_->setPage(page);
        QPointer<QWebEngineView> view = view_;
        bridge_ = new CookieBridge(
            profile_->cookieStore(), [view] { return view ? view->url().host() : QString(); },
            this);
        connect(page, &QWebEnginePage::renderProcessTerminated, this,
                [this](QWebEnginePage::RenderProcessTerminationStatus status, int code) {
                    show_message(termination_text(status, code), true);
                });
        stack_->insertWidget(0, view_);
        stack_->setCurrentWidget(view_);
        if (start_.isValid()) view_->load(start_);
    }

    // Loads address in the view; without a browser the message names the address instead.
    bool go_to(const QString& address) {
        const QUrl url(address);
        if (!view_ || !url.isValid()) {
            message_->setText(message_->text() + u8("\n请在浏览器中打开：") + address);
            return false;
        }
        stack_->setCurrentWidget(view_);
        view_->load(url);
        return true;
    }

    ~LoginPage() override {
        // The profile must outlive every page that uses it.
        delete bridge_;
        delete view_;
        delete profile_;
    }

private:
    void build_message_panel() {
        panel_ = new QWidget(this);
        auto* column = new QVBoxLayout(panel_);
        message_ = new QLabel(panel_);
        message_->setObjectName(QStringLiteral("login_message"));
        message_->setWordWrap(true);
        message_->setAlignment(Qt::AlignCenter);
        message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
        reload_ = new QPushButton(u8("重新加载"), panel_);
        reload_->setObjectName(QStringLiteral("login_reload"));
        reload_->hide();
        column->addStretch();
        column->addWidget(message_);
        column->addWidget(reload_, 0, Qt::AlignHCenter);
        column->addStretch();
        stack_->addWidget(panel_);
        connect(reload_, &QPushButton::clicked, this, [this] { reload(); });
    }

    void show_message(const QString& reason, bool offer_reload) {
        message_->setText(u8("登录页面无法显示：") + reason +
                          (offer_reload ? QString() : u8("\n其余功能照常可用。")));
        reload_->setVisible(offer_reload);
        stack_->setCurrentWidget(panel_);
    }

    void reload() {
        if (!view_) return;
        stack_->setCurrentWidget(view_);
        // A page whose process died has to be loaded again to get a new one.
        const QUrl at = view_->url();
        view_->load(at.isValid() && !at.isEmpty() ? at : start_);
    }

    QUrl start_;
    QStackedLayout* stack_ = nullptr;
    QWidget* panel_ = nullptr;
    QLabel* message_ = nullptr;
    QPushButton* reload_ = nullptr;
    QWebEngineProfile* profile_ = nullptr;
    QWebEngineView* view_ = nullptr;
    CookieBridge* bridge_ = nullptr;
};

}  // namespace

QWidget* create_login_page(QWidget* parent, const HostSettings& settings) {
    return new LoginPage(parent, settings);
}

bool point_login_page(QWidget* page, const QString& address) {
    auto* login = dynamic_cast<LoginPage*>(page);
    return login && login->go_to(address);
}

QString find_browser_process() {
    const QString name = QStringLiteral("QtWebEngineProcess");
    // An explicit location is the only one Qt WebEngine looks at.
    const QString from_env = qEnvironmentVariable("QTWEBENGINEPROCESS_PATH");
    QStringList candidates;
    if (!from_env.isEmpty()) {
        candidates << from_env;
    } else {
        candidates << QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath) + u'/' + name;
        candidates << QCoreApplication::applicationDirPath() + u'/' + name;
    }
    for (const QString& path : candidates)
        if (QFileInfo(path).isFile()) return path;
    return {};
}
