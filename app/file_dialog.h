#pragma once
// The window's one file dialog. Each list operation sets the properties it needs; the others keep
// what the last operation left. The chosen path changes only when the user confirms.
#include <filesystem>
#include <functional>
#include <optional>

#include "runtime/text.h"

class QWidget;

class FileDialog {
public:
    enum class Mode { Open, Save };
    // Stands in for the user: given the dialog as set up, returns the path confirmed, or nothing
    // for a cancel.
    using Answerer = std::function<std::optional<std::filesystem::path>(const FileDialog&)>;

    explicit FileDialog(QWidget* parent = nullptr);

    void set_parent(QWidget* parent) { parent_ = parent; }
    void set_mode(Mode mode) { mode_ = mode; }
    void set_default_extension(const Text& extension) { default_extension_ = extension; }
    // "description|pattern|description|pattern...", GBK.
    void set_filter(const Text& filter) { filter_ = filter; }
    // An empty answerer brings back the real dialog.
    void set_answerer(Answerer answerer) { answerer_ = std::move(answerer); }

    Mode mode() const { return mode_; }
    const Text& default_extension() const { return default_extension_; }
    const Text& filter() const { return filter_; }
    const std::filesystem::path& path() const { return path_; }

    // True when the user confirmed a path. A saved path without an extension gets the default one.
    bool show();

private:
    QWidget* parent_;
    Mode mode_ = Mode::Open;
    Text default_extension_;
    Text filter_;
    std::filesystem::path path_;
    Answerer answerer_;
};

// "TXT文件|*.txt" style filter in GBK to Qt's "TXT文件 (*.txt)" list.
std::string qt_name_filter(const Text& filter);  // UTF-8
