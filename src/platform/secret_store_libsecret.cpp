#include <libsecret/secret.h>

#include <string>

#include "platform/secret_store.h"

namespace taviro::platform {

namespace {

// One item per recorder address, port and user. The port is kept as text: the schema's
// integer attributes are 32-bit and all attributes match as strings anyway.
const SecretSchema* RecorderSchema() {
    static const SecretSchema schema = {"org.orvo.taviro.Recorder",
                                        SECRET_SCHEMA_NONE,
                                        {
                                            {"host", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                            {"port", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                            {"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
                                        },
                                        0,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr,
                                        nullptr};
    return &schema;
}

// GError released at scope end.
struct ErrorHolder {
    GError* error = nullptr;
    ~ErrorHolder() {
        if (error != nullptr)
            g_error_free(error);
    }
    [[nodiscard]] std::string Text() const {
        return error != nullptr && error->message != nullptr ? error->message : "unknown error";
    }
};

class CSecretServiceStore final : public ISecretStore {
  public:
    bool Available() override {
        ErrorHolder e;
        SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &e.error);
        if (service == nullptr)
            return false;
        g_object_unref(service);
        return true;
    }

    bool Store(const SecretKey& key, const std::string& password, std::string& error) override {
        ErrorHolder e;
        const std::string port = std::to_string(key.port);
        const std::string label = "Taviro recorder " + key.user + "@" + key.host + ":" + port;
        const gboolean stored = secret_password_store_sync(
            RecorderSchema(), SECRET_COLLECTION_DEFAULT, label.c_str(), password.c_str(), nullptr,
            &e.error, "host", key.host.c_str(), "port", port.c_str(), "user", key.user.c_str(),
            nullptr);
        if (stored == FALSE)
            error = e.Text();
        return stored != FALSE;
    }

    std::optional<std::string> Lookup(const SecretKey& key) override {
        ErrorHolder e;
        const std::string port = std::to_string(key.port);
        gchar* found = secret_password_lookup_sync(RecorderSchema(), nullptr, &e.error, "host",
                                                   key.host.c_str(), "port", port.c_str(), "user",
                                                   key.user.c_str(), nullptr);
        if (found == nullptr)
            return std::nullopt;
        std::string password(found);
        secret_password_free(found);
        return password;
    }

    bool Clear(const SecretKey& key) override {
        ErrorHolder e;
        const std::string port = std::to_string(key.port);
        secret_password_clear_sync(RecorderSchema(), nullptr, &e.error, "host", key.host.c_str(),
                                   "port", port.c_str(), "user", key.user.c_str(), nullptr);
        return e.error == nullptr;
    }
};

class CNullSecretStore final : public ISecretStore {
  public:
    bool Available() override { return false; }
    bool Store(const SecretKey&, const std::string&, std::string& error) override {
        error = "no secret service answers";
        return false;
    }
    std::optional<std::string> Lookup(const SecretKey&) override { return std::nullopt; }
    bool Clear(const SecretKey&) override { return true; }
};

}  // namespace

std::unique_ptr<ISecretStore> MakeNullSecretStore() {
    return std::make_unique<CNullSecretStore>();
}

std::unique_ptr<ISecretStore> MakeSecretServiceStore() {
    return std::make_unique<CSecretServiceStore>();
}

}  // namespace taviro::platform
