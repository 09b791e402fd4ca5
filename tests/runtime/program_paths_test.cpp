#include "runtime/program_paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/scoped_env.h"
#include "tests/support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

TEST(ProgramDirectory, HoldsThisProgram) {
    EXPECT_TRUE(fs::exists(program_directory() / "program_paths_test"));
}

TEST(DataDirectory, InstalledProgramUsesTheUserFolderAnyOtherItsOwn) {
    TempFolder root("zembra-paths");
    const fs::path bin = root.path() / "usr" / "bin";
    const fs::path build = root.path() / "build" / "app";
    fs::create_directories(bin);
    fs::create_directories(build);
    fs::create_directory_symlink(bin, root.path() / "bin");
    const fs::path user = root.path() / "home" / ".local" / "share" / "zembra";
    const struct {
        const char* what;
        fs::path program, installed, user_data, expected;
    } cases[] = {
        {"installed", bin, bin, user, user},
        {"installed, spelled with a trailing separator", bin / "", bin, user, user},
        {"installed, reached through a link", root.path() / "bin", bin, user, user},
        {"a build folder", build, bin, user, build},
        {"install folder not there", build, root.path() / "missing", user, build},
        {"no install folder known", bin, fs::path(), user, bin},
        {"no user folder known: stays put", bin, bin, fs::path(), bin},
        {"program folder unknown", fs::path(), bin, user, fs::path()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(choose_data_directory(c.program, c.installed, c.user_data), c.expected);
    }
}

TEST(DataDirectory, UserFolderFollowsTheBaseDirectoryRules) {
    const struct {
        const char* xdg;
        const char* home;
        const char* expected;
    } cases[] = {
        {"/data/x", "/home/u", "/data/x/zembra"},
        {nullptr, "/home/u", "/home/u/.local/share/zembra"},
        {"", "/home/u", "/home/u/.local/share/zembra"},
        {"relative/dir", "/home/u", "/home/u/.local/share/zembra"},  // not absolute: ignored
        {nullptr, nullptr, ""},
        {nullptr, "relative", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.xdg ? c.xdg : "(unset)") + " " + (c.home ? c.home : "(unset)"));
        ScopedEnv xdg("XDG_DATA_HOME", c.xdg);
        ScopedEnv home("HOME", c.home);
        EXPECT_EQ(user_data_directory(), fs::path(c.expected));
    }
}

TEST(DataDirectory, ThisProgramIsNotInstalledSoKeepsItsFilesBesideItself) {
    TempFolder root("zembra-paths");
    ScopedEnv xdg("XDG_DATA_HOME", root.path().c_str());
    EXPECT_EQ(data_directory(), program_directory());
    EXPECT_FALSE(fs::exists(root.path() / "zembra"));
}

}  // namespace
