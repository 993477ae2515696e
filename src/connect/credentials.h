// The passwords the operator asked to remember, kept in the desktop's secret store and
// never in the settings file. Every call to the store runs on the vault's own thread (a
// secret service may take its time, or ask the user to unlock a keyring); the answers come
// back through the callbacks, on that thread, so a window hands them to its own thread.
//
// Threads: the public calls from any one thread (the window's); callbacks on the vault's
// thread. Ownership: the vault owns its store; destruction waits for the call in progress.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/secret_store.h"
#include "platform/worker.h"

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
    [[nodiscard]] Availability State() const { return m_state.load(); }
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
    void Drain() { m_worker.Drain(); }

  private:
    std::unique_ptr<platform::ISecretStore> m_store;  // the worker's only
    std::atomic<Availability> m_state{Availability::kUnknown};
    platform::CWorker m_worker;  // last: stopped before the store goes
};

}  // namespace taviro::connect
