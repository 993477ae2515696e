// Remembered passwords: the vault over the desktop's real secret service (a GNOME Keyring
// of the test's own, in a private D-Bus session: scripts/with-keyring.sh), and over none.
#include "connect/credentials.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <thread>

namespace taviro::connect {
namespace {

using namespace std::chrono_literals;

std::optional<std::string> LookUp(CCredentialVault& vault, const platform::SecretKey& key) {
    std::promise<std::optional<std::string>> answer;
    vault.Lookup(key, [&](std::optional<std::string> found) { answer.set_value(found); });
    auto future = answer.get_future();
    EXPECT_EQ(future.wait_for(20s), std::future_status::ready);
    return future.get();
}

bool Available(CCredentialVault& vault) {
    std::promise<bool> answer;
    vault.WhenKnown([&](bool available) { answer.set_value(available); });
    auto future = answer.get_future();
    EXPECT_EQ(future.wait_for(20s), std::future_status::ready);
    return future.get();
}

TEST(CredentialVaultTest, KeepsAPasswordPerRecorderAndUserInTheSecretService) {
    CCredentialVault vault(platform::MakeSecretServiceStore());
    ASSERT_TRUE(Available(vault)) << "no secret service in this session";
    EXPECT_EQ(vault.State(), CCredentialVault::Availability::kAvailable);
    const platform::SecretKey admin{"127.0.0.1", 2000, "admin"};
    const platform::SecretKey other{"127.0.0.1", 2001, "admin"};
    const platform::SecretKey guest{"127.0.0.1", 2000, "guest"};

    std::promise<std::pair<bool, std::string>> stored;
    vault.Remember(admin, "s3cret \xC3\xA9", [&](bool ok, std::string error) {
        stored.set_value({ok, error});
    });
    const auto [ok, error] = stored.get_future().get();
    ASSERT_TRUE(ok) << error;
    EXPECT_EQ(LookUp(vault, admin), "s3cret \xC3\xA9");
    EXPECT_EQ(LookUp(vault, other), std::nullopt) << "another port is another recorder";
    EXPECT_EQ(LookUp(vault, guest), std::nullopt) << "another user";

    // A second remember replaces the first; forget leaves nothing.
    vault.Remember(admin, "changed");
    EXPECT_EQ(LookUp(vault, admin), "changed");
    vault.Forget(admin);
    EXPECT_EQ(LookUp(vault, admin), std::nullopt);
}

TEST(CredentialVaultTest, WithoutASecretServiceNothingIsKeptAndTheReasonSaid) {
    CCredentialVault vault(platform::MakeNullSecretStore());
    EXPECT_FALSE(Available(vault));
    std::promise<std::pair<bool, std::string>> stored;
    vault.Remember({"10.0.0.1", 2000, "admin"}, "pw", [&](bool ok, std::string error) {
        stored.set_value({ok, error});
    });
    const auto [ok, error] = stored.get_future().get();
    EXPECT_FALSE(ok);
    EXPECT_NE(error.find("secret service"), std::string::npos) << error;
    EXPECT_EQ(LookUp(vault, {"10.0.0.1", 2000, "admin"}), std::nullopt);
}

// A secret service that hangs (an unlock prompt nobody answers): the vault goes at once,
// the hanging call's answer is never delivered, and the store goes once the call returns.
TEST(CredentialVaultTest, GoingAwayNeverWaitsForTheSecretService) {
    struct CHangingStore final : platform::ISecretStore {
        std::shared_future<void> release;
        std::promise<void>* gone = nullptr;
        ~CHangingStore() override { gone->set_value(); }
        bool Available() override { return true; }
        bool Store(const platform::SecretKey&, const std::string&, std::string&) override {
            return true;
        }
        std::optional<std::string> Lookup(const platform::SecretKey&) override {
            release.wait();
            return "late";
        }
        bool Clear(const platform::SecretKey&) override { return true; }
    };
    std::promise<void> release;
    std::promise<void> gone;
    auto store = std::make_unique<CHangingStore>();
    store->release = release.get_future().share();
    store->gone = &gone;
    std::atomic<bool> delivered{false};
    {
        CCredentialVault vault(std::move(store));
        ASSERT_TRUE(Available(vault));
        vault.Lookup({"127.0.0.1", 2000, "admin"}, [&](auto) { delivered = true; });
        vault.Forget({"127.0.0.1", 2000, "admin"});  // behind the hanging call: dropped
        std::this_thread::sleep_for(50ms);           // the lookup is under way
    }  // the destructor returns with the lookup still hanging
    release.set_value();
    EXPECT_EQ(gone.get_future().wait_for(10s), std::future_status::ready);
    EXPECT_FALSE(delivered.load()) << "an answer after the vault had gone";
}

}  // namespace
}  // namespace taviro::connect
