// Passwords kept in the desktop's secret store (the Secret Service over D-Bus, which GNOME
// Keyring and KWallet serve), one per recorder address, port and user, so that a password
// the operator asked us to remember is never written to the settings file. The null store
// stands where no secret service answers.
//
// Threads: every call may wait on the desktop (D-Bus, a keyring being unlocked), so none is
// made on the window thread; one thread at a time calls a store.
#pragma once

#include <memory>
#include <optional>
#include <string>

namespace taviro::platform {

struct SecretKey {
    std::string host;
    int port = 0;
    std::string user;
    friend bool operator==(const SecretKey&, const SecretKey&) = default;
};

class ISecretStore {
  public:
    virtual ~ISecretStore() = default;
    // Whether a secret service answers at all.
    virtual bool Available() = 0;
    // Keeps `password` under `key`, replacing what was kept; false with `error` set when the
    // store refused it (locked, no service, dismissed).
    virtual bool Store(const SecretKey& key, const std::string& password, std::string& error) = 0;
    // The password kept under `key`, if any.
    virtual std::optional<std::string> Lookup(const SecretKey& key) = 0;
    // Forgets what is kept under `key`; true when nothing is kept there afterwards.
    virtual bool Clear(const SecretKey& key) = 0;
};

// No secret service: unavailable, keeps nothing.
std::unique_ptr<ISecretStore> MakeNullSecretStore();
// The desktop's Secret Service (libsecret), under the schema "org.orvo.taviro.Recorder".
std::unique_ptr<ISecretStore> MakeSecretServiceStore();

}  // namespace taviro::platform
