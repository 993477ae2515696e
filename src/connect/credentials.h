// The passwords the operator asked to remember, kept in the desktop's secret store and
// never in the settings file. Every call to the store runs on the vault's own thread (a
// secret service may take its time, or ask the user to unlock a keyring); the answers come
// back through the callbacks, on that thread, so a window hands them to its own thread.
//
// Threads: the public calls from any one thread (the window's); callbacks on the vault's
// thread. Ownership: the vault's thread shares the store with it and outlives it if need
// be: destruction never waits for a call to the store in progress (an unlock prompt may be
// up), drops the calls not yet made, and no callback starts after it.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/secret_store.h"

namespace taviro::connect {

class CCredentialVault {
  public:
    // Asks the store at once whether a secret service answers.
    explicit CCredentialVault(std::unique_ptr<platform::ISecretStore> store);
    ~CCredentialVault();
    CCredentialVault(const CCredentialVault&) = delete;
    CCredentialVault& operator=(const CCredentialVault&) = delete;

    enum class Availability { kUnknown, kAvailable, kUnavailable };
    // kUnknown until the first answer; the connect dialog's "Remember password" box is
    // usable only once it is kAvailable.
    [[nodiscard]] Availability State() const;
    // `done(available)` once the first answer is known (at once, on the caller's thread,
    // when it is known already).
    void WhenKnown(std::function<void(bool)> done);

    using Found = std::function<void(std::optional<std::string>)>;
    // The password kept for the key (none while no service answers).
    void Lookup(platform::SecretKey key, Found done);
    // Keeps the password; `done(ok, error)` says whether the store took it.
    void Remember(platform::SecretKey key, std::string password,
                  std::function<void(bool, std::string)> done = nullptr);
    // Forgets the key's password.
    void Forget(platform::SecretKey key);
    // Waits for every call posted so far (tests).
    void Drain();

    struct Shared;  // the store and the calls, shared with the vault's thread

  private:
    void Post(std::function<void(Shared&)> job);
    std::shared_ptr<Shared> m_shared;
};

}  // namespace taviro::connect
