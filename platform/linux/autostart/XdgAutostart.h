#pragma once

#include <optional>
#include <string>

#include "settings/LoginItems.h"

namespace ww::xdg {

// The login items on the XDG autostart folder: every "*.desktop" entry in
// $XDG_CONFIG_HOME/autostart (~/.config/autostart), in name order. An entry
// resolves to the program in its Exec key (bytes, UTF-8 or not); one that
// cannot be read or parsed, or that is disabled (Hidden=true), does not
// resolve. Only regular files up to 64 KiB are read, never blocking; anything
// else is skipped with one log line. Inserting writes a new
// entry, atomically and never over an existing file; removing deletes the
// entry's file. Entries are never rewritten.
class XdgAutostart : public LoginItems {
  public:
    // `folder`: the autostart folder; `searchPath`: the PATH that a bare program
    // name in Exec is looked up in.
    XdgAutostart(std::string folder, std::string searchPath);

    // $XDG_CONFIG_HOME/autostart (when absolute), else $HOME/.config/autostart;
    // nothing without either.
    static std::optional<std::string> defaultFolder();
    // The running program's own path (/proc/self/exe).
    static std::string runningProgramPath();

    std::unique_ptr<LoginItemsList> create() override;

    const std::string& folder() const { return m_folder; }

  private:
    std::string m_folder;
    std::string m_searchPath;
};

// The program of a desktop entry: the first word of the Exec key of its
// [Desktop Entry] group, with the entry's string escapes and the Exec quoting
// rules undone. Nothing when there is no such key, the quoting is broken, or
// the entry is hidden.
std::optional<std::string> programOfDesktopEntry(const std::string& text);

// An Exec value that runs exactly `program` (quoted where the rules ask for it,
// then escaped as a desktop-entry string).
std::string execValueForProgram(const std::string& program);

// The text of the entry that starts `program` at login.
std::string desktopEntryForProgram(const std::string& program);

}  // namespace ww::xdg
