#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ww {

// The current user's list of programs started at login, as the settings tab
// uses it: a snapshot of opaque items, each resolving to a program path (or
// not), insertion of a program and removal of an item. On Linux the list is
// the XDG autostart folder.
class LoginItemsList {
  public:
    using Item = std::string;

    virtual ~LoginItemsList() = default;
    // The items in list order.
    virtual std::vector<Item> snapshot() = 0;
    // The program path the item refers to; nothing when it cannot be resolved.
    // `flags` 3 asks for no user interaction and no mounting (searching), 0 for
    // the plain resolve (removing); the autostart list treats both alike.
    virtual std::optional<std::string> resolve(const Item& item, int flags) = 0;
    // Adds an item for the program at the front of the list; false on failure.
    virtual bool insertItemAtFront(const std::string& programPath) = 0;
    // Takes the item out of the list; false on failure.
    virtual bool remove(const Item& item) = 0;
};

class LoginItems {
  public:
    virtual ~LoginItems() = default;
    // Opens the list; nothing when the platform cannot give one.
    virtual std::unique_ptr<LoginItemsList> create() = 0;
};

}  // namespace ww
