#include "app/message_dialog.h"

#include <QAbstractButton>

#include "app/gbk_qstring.h"
#include "app/main_window.h"
#include "app/window_operations.h"

namespace {
constexpr int kOk = 0, kCancel = 1, kAbort = 2, kRetry = 3, kIgnore = 4, kYes = 5, kNo = 6;
}

std::vector<MessageButton> message_box_buttons(int flags) {
    switch (flags & 0x0F) {
        case 1:
            return {{QMessageBox::Ok, kOk}, {QMessageBox::Cancel, kCancel}};
        case 2:
            return {{QMessageBox::Abort, kAbort},
                    {QMessageBox::Retry, kRetry},
                    {QMessageBox::Ignore, kIgnore}};
        case 3:
            return {
                {QMessageBox::Yes, kYes}, {QMessageBox::No, kNo}, {QMessageBox::Cancel, kCancel}};
        case 4:
            return {{QMessageBox::Yes, kYes}, {QMessageBox::No, kNo}};
        case 5:
            return {{QMessageBox::Retry, kRetry}, {QMessageBox::Cancel, kCancel}};
        default:
            return {{QMessageBox::Ok, kOk}};
    }
}

int message_box_escape_answer(int flags) {
    // As Esc chooses: the rejecting button (Cancel, Abort), a lone button, else No.
    const auto buttons = message_box_buttons(flags);
    for (const MessageButton& b : buttons)
        if (b.answer == kCancel || b.answer == kAbort) return b.answer;
    for (const MessageButton& b : buttons)
        if (b.answer == kNo) return kNo;
    return buttons.front().answer;
}

int show_message_box(QWidget* parent, const Text& text, int flags, const Text& caption) {
    QMessageBox box(parent);
    box.setTextFormat(Qt::PlainText);
    box.setText(to_qstring(text));
    box.setWindowTitle(to_qstring(caption));
    switch (flags & 0xF0) {
        case 0x10:
            box.setIcon(QMessageBox::Critical);
            break;
        case 0x20:
            box.setIcon(QMessageBox::Question);
            break;
        case 0x30:
            box.setIcon(QMessageBox::Warning);
            break;
        case 0x40:
            box.setIcon(QMessageBox::Information);
            break;
        default:
            break;
    }
    const auto buttons = message_box_buttons(flags);
    QMessageBox::StandardButtons set;
    for (const MessageButton& b : buttons)
        set |= b.button;
    box.setStandardButtons(set);
    const auto default_index = static_cast<std::size_t>((flags >> 8) & 0x0F);
    if (default_index < buttons.size()) box.setDefaultButton(buttons[default_index].button);
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    const QMessageBox::StandardButton chosen =
        clicked ? box.standardButton(clicked) : QMessageBox::NoButton;
    for (const MessageButton& b : buttons)
        if (b.button == chosen) return b.answer;
    return message_box_escape_answer(flags);
}

MessageBoxHandler make_message_box_handler(MainWindow& window) {
    return [&window](const Text& text, int flags, const Text& caption) {
        return window.operations()
            .run([&] { return show_message_box(&window, text, flags, caption); })
            .value_or(message_box_escape_answer(flags));
    };
}
