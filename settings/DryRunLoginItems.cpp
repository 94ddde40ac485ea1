#include "settings/DryRunLoginItems.h"

#include "logging/DDLog.h"

namespace ww {

namespace {

class DryRunList final : public LoginItemsList {
  public:
    explicit DryRunList(std::unique_ptr<LoginItemsList> inner) : m_inner(std::move(inner)) {}

    std::vector<Item> snapshot() override { return m_inner->snapshot(); }
    std::optional<std::string> resolve(const Item& item, int flags) override {
        return m_inner->resolve(item, flags);
    }
    bool insertItemAtFront(const std::string& programPath) override {
        WWLogInfo("Dry run: would add a login item for %@", programPath);
        return true;
    }
    bool remove(const Item& item) override {
        WWLogInfo("Dry run: would remove the login item %@", item);
        return true;
    }

  private:
    std::unique_ptr<LoginItemsList> m_inner;
};

}  // namespace

std::unique_ptr<LoginItemsList> DryRunLoginItems::create() {
    std::unique_ptr<LoginItemsList> inner = m_inner.create();
    if (!inner) return nullptr;
    return std::make_unique<DryRunList>(std::move(inner));
}

}  // namespace ww
