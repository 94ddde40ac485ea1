#pragma once

// A login-items list in memory that records what was asked of it.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "settings/LoginItems.h"

namespace ww::test {

class FakeLoginItems : public LoginItems {
  public:
    struct Entry {
        std::string id;
        std::optional<std::string> path;  // nothing: the item does not resolve
    };

    std::unique_ptr<LoginItemsList> create() override {
        ++opens;
        if (unavailable) return nullptr;
        return std::make_unique<List>(*this);
    }

    std::vector<std::string> paths() const {
        std::vector<std::string> out;
        for (const auto& e : entries) out.push_back(e.path.value_or("?"));
        return out;
    }

    std::vector<Entry> entries;
    bool unavailable = false;
    int opens = 0, inserts = 0, removals = 0;

  private:
    class List : public LoginItemsList {
      public:
        explicit List(FakeLoginItems& owner) : m_owner(owner) {}
        std::vector<Item> snapshot() override {
            std::vector<Item> ids;
            for (const auto& e : m_owner.entries) ids.push_back(e.id);
            return ids;
        }
        std::optional<std::string> resolve(const Item& item, int) override {
            for (const auto& e : m_owner.entries) {
                if (e.id == item) return e.path;
            }
            return std::nullopt;
        }
        bool insertItemAtFront(const std::string& path) override {
            ++m_owner.inserts;
            m_owner.entries.insert(m_owner.entries.begin(),
                                   Entry{"new-" + std::to_string(m_owner.inserts), path});
            return true;
        }
        bool remove(const Item& item) override {
            ++m_owner.removals;
            std::erase_if(m_owner.entries, [&](const Entry& e) { return e.id == item; });
            return true;
        }

      private:
        FakeLoginItems& m_owner;
    };
};

}  // namespace ww::test
