#pragma once
// Waits, ticks, the per-thread pseudo-random generator and the message box.
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "runtime/convert.h"

void sleep_ms(long long ms);
// On the thread that registered a message pump, keeps handling window messages for ms; elsewhere
// it sleeps.
void wait_pumping(long long ms);
// pump(max_ms) handles pending window messages for at most max_ms. Registered by the window layer
// on its own thread; an empty function removes it.
void register_message_pump(std::function<void(int max_ms)> pump);
std::uint32_t tick_ms();

void random_seed(std::optional<std::uint32_t> seed = std::nullopt);
int random_int(long long min = 0, long long max = 2147483647);

// Buttons: OK 0, Cancel 1, Abort 2, Retry 3, Ignore 4, Yes 5, No 6.
using MessageBoxHandler = std::function<int(const Text& text, int flags, const Text& caption)>;
// The window layer registers the real dialog; without one the text goes to stderr and 0 is
// returned.
void register_message_box(MessageBoxHandler handler);
Text default_message_box_caption();  // "信息：" in GBK
int message_box_text(const Text& text, int flags, const Text& caption);
template <class T>
int message_box(const T& value, int flags = 0, std::optional<Text> caption = std::nullopt) {
    if (!caption) return message_box_text(to_text(value), flags, default_message_box_caption());
    return message_box_text(to_text(value), flags, *caption);
}
