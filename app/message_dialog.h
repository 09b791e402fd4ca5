#pragma once
// The real message box behind message_box(): a QMessageBox on the window thread, whichever thread
// asks. Flags follow the classic message box: the low 4 bits choose the buttons, 0x10..0x40 the
// icon, 0x100..0x300 the default button. Answers: OK 0, Cancel 1, Abort 2, Retry 3, Ignore 4,
// Yes 5, No 6.
#include <QMessageBox>
#include <vector>

#include "runtime/services.h"

class MainWindow;

struct MessageButton {
    QMessageBox::StandardButton button;
    int answer;
};

// The buttons a flags value asks for, in order; an unknown set gives OK alone.
std::vector<MessageButton> message_box_buttons(int flags);
// The answer when the box is closed without a button (Esc, window close) or never shown.
int message_box_escape_answer(int flags);
// Shows the box modally; window thread only.
int show_message_box(QWidget* parent, const Text& text, int flags, const Text& caption);
// The handler to register: marshals to the window thread; a stopped run's box is not shown.
MessageBoxHandler make_message_box_handler(MainWindow& window);
