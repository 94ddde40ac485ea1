#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "app/UserDefaults.h"

namespace ww::exitpassword {

// The policy key of the administrator's exit password: an argon2id hash.
inline constexpr const char* kPolicyHashKey = "ExitPasswordHash";

// The administrator's hash in force, or nothing. Only the policy can set it:
// the same key in the user's preferences is never read.
std::optional<std::string> administratorHash(UserDefaults& store);

// Quitting is guarded: by the administrator's password when the policy sets
// one, else by the user's own exit password when it has a value.
bool isExitGuarded(UserDefaults& store);

// Whether the text typed into the exit window opens the gate. With the
// administrator's hash in force only that password does (the user's own is
// no key to it); otherwise the user's password, compared exactly.
bool opensExitGate(UserDefaults& store, const std::string& typed);

// Argon2id through libsodium. Hashing with the interactive limits takes a
// fraction of a second, which the exit window pays at every keystroke.
std::optional<std::string> hashPassword(const std::string& password);
// The same with explicit limits (tests use the minimum ones).
std::optional<std::string> hashPassword(const std::string& password, unsigned long long opsLimit,
                                        std::size_t memLimit);
bool verifyPassword(const std::string& hash, const std::string& password);

}  // namespace ww::exitpassword
