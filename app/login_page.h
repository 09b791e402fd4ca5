#pragma once
// The login page: an embedded browser whose cookies are copied into the shared cookie store, so
// that page requests made after the user signed in carry the session.
#include <QString>
#include <QWidget>

struct HostSettings;

// Builds the page-0 browser control (object name "超文本浏览框1") opening settings' login start
// address. When the browser cannot start (no display, no helper program) or its page process dies,
// the control shows a text saying so in the view's place.
QWidget* create_login_page(QWidget* parent, const HostSettings& settings);

// Points the browser of a page made by create_login_page at address (a check to pass, or the
// login page). False when page is no such page or its browser cannot run; the page then says where
// to go instead.
bool point_login_page(QWidget* page, const QString& address);

// Where the browser's helper program is, looked up the way Qt WebEngine does; empty when absent
// (Qt WebEngine would abort the whole program then).
QString find_browser_process();
