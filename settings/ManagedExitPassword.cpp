#include "settings/ManagedExitPassword.h"

#include <sodium.h>

#include "discovery/WWUtils.h"

namespace ww::exitpassword {

namespace {

bool sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

}  // namespace

std::optional<std::string> administratorHash(UserDefaults& store) {
    std::optional<plist::Value> v = store.policyValueForKey(kPolicyHashKey);
    if (!v || !v->stringValue() || v->stringValue()->empty()) return std::nullopt;
    return *v->stringValue();
}

bool isExitGuarded(UserDefaults& store) {
    return administratorHash(store) || WWUtils::hasValue(store.stringForKey("EXIT_PASSWORD"));
}

bool opensExitGate(UserDefaults& store, const std::string& typed) {
    if (std::optional<std::string> hash = administratorHash(store)) {
        return verifyPassword(*hash, typed);
    }
    std::optional<std::string> stored = store.stringForKey("EXIT_PASSWORD");
    return stored && *stored == typed;
}

std::optional<std::string> hashPassword(const std::string& password) {
    return hashPassword(password, crypto_pwhash_OPSLIMIT_INTERACTIVE,
                        crypto_pwhash_MEMLIMIT_INTERACTIVE);
}

std::optional<std::string> hashPassword(const std::string& password, unsigned long long opsLimit,
                                        std::size_t memLimit) {
    if (!sodiumReady()) return std::nullopt;
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str_alg(out, password.data(), password.size(), opsLimit, memLimit,
                              crypto_pwhash_ALG_ARGON2ID13) != 0) {
        return std::nullopt;
    }
    return std::string(out);
}

bool verifyPassword(const std::string& hash, const std::string& password) {
    // libsodium reads the hash as a C string of bounded size.
    if (!sodiumReady() || hash.empty() || hash.size() >= crypto_pwhash_STRBYTES ||
        hash.find('\0') != std::string::npos) {
        return false;
    }
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

}  // namespace ww::exitpassword
