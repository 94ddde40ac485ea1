#pragma once

#include "settings/LoginItems.h"

namespace ww {

// Login items for --dry-run: lists and resolves through another list, but
// adding or removing an item is only logged (info, "Dry run: would ...") and
// reported as done. No autostart entry is written or deleted.
class DryRunLoginItems final : public LoginItems {
  public:
    explicit DryRunLoginItems(LoginItems& inner) : m_inner(inner) {}

    std::unique_ptr<LoginItemsList> create() override;

  private:
    LoginItems& m_inner;
};

}  // namespace ww
