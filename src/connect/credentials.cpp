#include "connect/credentials.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

namespace taviro::connect {

struct CCredentialVault::Shared {
    std::unique_ptr<platform::ISecretStore> store;  // the vault's thread's only
    std::atomic<Availability> state{Availability::kUnknown};
    std::atomic<bool> stopping{false};
    std::mutex lock;
    std::condition_variable changed;
    std::deque<std::function<void(Shared&)>> jobs;
    std::uint64_t posted = 0;
    std::uint64_t finished = 0;
    // Held while a callback runs, and by the vault's destructor as it stops: no callback
    // starts once the destructor has returned, and the destructor waits at most for one
    // callback (never for a call to the store).
    std::mutex callbackLock;

    [[nodiscard]] bool Available() const { return state.load() == Availability::kAvailable; }
    template <typename F>
    void Deliver(F&& callback) {
        std::lock_guard guard(callbackLock);
        if (!stopping.load())
            callback();
    }
};

namespace {

void RunJobs(const std::shared_ptr<CCredentialVault::Shared>& shared) {
    CCredentialVault::Shared& s = *shared;
    for (;;) {
        std::function<void(CCredentialVault::Shared&)> job;
        {
            std::unique_lock lock(s.lock);
            s.changed.wait(lock, [&] { return s.stopping.load() || !s.jobs.empty(); });
            if (s.stopping.load())
                return;  // the calls not yet made are dropped with the vault
            job = std::move(s.jobs.front());
            s.jobs.pop_front();
        }
        job(s);
        std::lock_guard lock(s.lock);
        ++s.finished;
        s.changed.notify_all();
    }
}

}  // namespace

CCredentialVault::CCredentialVault(std::unique_ptr<platform::ISecretStore> store)
    : m_shared(std::make_shared<Shared>()) {
    m_shared->store = store ? std::move(store) : platform::MakeNullSecretStore();
    Post([](Shared& s) {
        s.state = s.store->Available() ? Availability::kAvailable : Availability::kUnavailable;
    });
    // The thread holds the shared part: it may finish a call after the vault has gone.
    std::thread(RunJobs, m_shared).detach();
}

CCredentialVault::~CCredentialVault() {
    {
        std::lock_guard guard(m_shared->callbackLock);
        m_shared->stopping = true;
    }
    std::lock_guard lock(m_shared->lock);
    m_shared->jobs.clear();
    m_shared->changed.notify_all();
}

CCredentialVault::Availability CCredentialVault::State() const {
    return m_shared->state.load();
}

void CCredentialVault::Post(std::function<void(Shared&)> job) {
    std::lock_guard lock(m_shared->lock);
    m_shared->jobs.push_back(std::move(job));
    ++m_shared->posted;
    m_shared->changed.notify_all();
}

void CCredentialVault::Drain() {
    std::unique_lock lock(m_shared->lock);
    const std::uint64_t target = m_shared->posted;
    m_shared->changed.wait(
        lock, [&] { return m_shared->finished >= target || m_shared->stopping.load(); });
}

void CCredentialVault::WhenKnown(std::function<void(bool)> done) {
    if (State() != Availability::kUnknown) {
        done(State() == Availability::kAvailable);
        return;
    }
    // Posted after the first check, so it runs once that has answered.
    Post([done = std::move(done)](Shared& s) { s.Deliver([&] { done(s.Available()); }); });
}

void CCredentialVault::Lookup(platform::SecretKey key, Found done) {
    Post([key = std::move(key), done = std::move(done)](Shared& s) {
        std::optional<std::string> found = s.Available() ? s.store->Lookup(key) : std::nullopt;
        s.Deliver([&] { done(std::move(found)); });
    });
}

void CCredentialVault::Remember(platform::SecretKey key, std::string password,
                                std::function<void(bool, std::string)> done) {
    Post([key = std::move(key), password = std::move(password), done = std::move(done)](Shared& s) {
        std::string error = "no secret service answers";
        const bool ok = s.Available() && s.store->Store(key, password, error);
        if (done)
            s.Deliver([&] { done(ok, ok ? std::string() : error); });
    });
}

void CCredentialVault::Forget(platform::SecretKey key) {
    Post([key = std::move(key)](Shared& s) {
        if (s.Available())
            s.store->Clear(key);
    });
}

}  // namespace taviro::connect
