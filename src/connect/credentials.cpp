#include "connect/credentials.h"

#include <utility>

namespace taviro::connect {

CCredentialVault::CCredentialVault(std::unique_ptr<platform::ISecretStore> store)
    : m_store(store ? std::move(store) : platform::MakeNullSecretStore()) {
    m_worker.Post([this] {
        m_state = m_store->Available() ? Availability::kAvailable : Availability::kUnavailable;
    });
}

CCredentialVault::~CCredentialVault() {
    m_worker.Stop();
}

void CCredentialVault::WhenKnown(std::function<void(bool)> done) {
    if (State() != Availability::kUnknown) {
        done(State() == Availability::kAvailable);
        return;
    }
    // Posted after the first check, so it runs once that has answered.
    m_worker.Post([this, done = std::move(done)] { done(State() == Availability::kAvailable); });
}

void CCredentialVault::Lookup(platform::SecretKey key, Found done) {
    m_worker.Post([this, key = std::move(key), done = std::move(done)] {
        done(State() == Availability::kAvailable ? m_store->Lookup(key) : std::nullopt);
    });
}

void CCredentialVault::Remember(platform::SecretKey key, std::string password,
                                std::function<void(bool, std::string)> done) {
    m_worker.Post([this, key = std::move(key), password = std::move(password),
                   done = std::move(done)] {
        std::string error = "no secret service answers";
        const bool ok = State() == Availability::kAvailable && m_store->Store(key, password, error);
        if (done)
            done(ok, ok ? std::string() : error);
    });
}

void CCredentialVault::Forget(platform::SecretKey key) {
    m_worker.Post([this, key = std::move(key)] {
        if (State() == Availability::kAvailable)
            m_store->Clear(key);
    });
}

}  // namespace taviro::connect
