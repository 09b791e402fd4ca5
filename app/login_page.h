#pragma once
// The login page: an embedded browser whose cookies are copied into the shared cookie store, so that
// page requests made after the user signed in carry the session.
#include <QWidget>

struct HostSettings;

// Builds the page-0 browser view (object name "超文本浏览框1") opening settings' login start address.
// When the browser cannot start (no display, no GPU) the returned widget is a label saying so.
QWidget* create_login_page(QWidget* parent, const HostSettings& settings);
