#pragma once
// Window tests: an operation on a control name the window lacks fails the running test (release
// builds would ignore it silently, debug builds stop the program).
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "harvest/controls.h"

inline void fail_tests_on_unknown_controls() {
    set_unknown_control_handler([](std::string_view name) {
        ADD_FAILURE() << "unknown control name: " << std::string(name);
    });
}
