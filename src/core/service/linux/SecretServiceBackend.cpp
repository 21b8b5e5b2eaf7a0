// The secure store on Linux: the freedesktop Secret Service (gnome-keyring, KeePassXC, ...)
// through libsecret.
#include <libsecret/secret.h>

#include <memory>

#include "core/service/SecretBackend.h"

namespace quaylet {
namespace {

struct GObjectRelease {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPointer = std::unique_ptr<T, GObjectRelease>;

struct HashTableRelease {
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};
using Attributes = std::unique_ptr<GHashTable, HashTableRelease>;

struct SecretValueRelease {
    void operator()(SecretValue* value) const { secret_value_unref(value); }
};
using SecretValuePointer = std::unique_ptr<SecretValue, SecretValueRelease>;

struct ItemListRelease {
    void operator()(GList* items) const { g_list_free_full(items, g_object_unref); }
};
using ItemList = std::unique_ptr<GList, ItemListRelease>;

// The outcome of a call is all we use; why it failed is not reported (a failure here is
// "no token" or "couldn't save" whatever the cause).
struct IgnoredError {
    GError* error = nullptr;
    ~IgnoredError() { g_clear_error(&error); }
    GError** out() { return &error; }
};

// Our own schema, so our item is told apart from every other application's.
const SecretSchema kTokenSchema = {
    "dev.quaylet.Quaylet.Token",
    SECRET_SCHEMA_NONE,
    {
        {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
    },
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

Attributes attributesOf(const SecretItemIdentity& identity) {
    return Attributes(secret_attributes_build(&kTokenSchema, "service", identity.service.c_str(),
                                              "account", identity.account.c_str(), nullptr));
}

// A Secret Service proxy of our own for each call, on GLib's session bus connection (which,
// once made, serves the process for its whole life). libsecret's cached proxy would notice a
// restarted keyring only while a GLib main loop runs, and a command-line process runs none.
class SecretServiceSession {
  public:
    static std::unique_ptr<SecretServiceSession> open() {
        IgnoredError error;
        GObjectPointer<GDBusConnection> bus(
            g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, error.out()));
        if (!bus) {
            return nullptr;
        }
        // By default GLib terminates the process when the session bus goes away; for us
        // that only means the store is unavailable.
        g_dbus_connection_set_exit_on_close(bus.get(), FALSE);
        GObjectPointer<SecretService> service(secret_service_open_sync(
            SECRET_TYPE_SERVICE, nullptr, SECRET_SERVICE_NONE, nullptr, error.out()));
        if (!service) {
            return nullptr;
        }
        return std::unique_ptr<SecretServiceSession>(
            new SecretServiceSession(std::move(bus), std::move(service)));
    }

    SecretService* service() const { return service_.get(); }

  private:
    SecretServiceSession(GObjectPointer<GDBusConnection> bus, GObjectPointer<SecretService> service)
        : bus_(std::move(bus)), service_(std::move(service)) {}

    // Declared first so that it is released last, after the proxy that uses it.
    GObjectPointer<GDBusConnection> bus_;
    GObjectPointer<SecretService> service_;
};

}  // namespace

std::optional<std::string> SecretBackend::find(const SecretItemIdentity& identity) {
    const auto session = SecretServiceSession::open();
    if (!session) {
        return std::nullopt;
    }
    // Without SECRET_SEARCH_UNLOCK a locked item is found without its secret instead of
    // raising an unlock prompt; without SECRET_SEARCH_ALL only the first item is returned.
    IgnoredError error;
    const ItemList items(
        secret_service_search_sync(session->service(), &kTokenSchema, attributesOf(identity).get(),
                                   SECRET_SEARCH_LOAD_SECRETS, nullptr, error.out()));
    if (!items) {
        return std::nullopt;
    }
    const SecretValuePointer value(secret_item_get_secret(static_cast<SecretItem*>(items->data)));
    if (!value) {
        return std::nullopt;
    }
    gsize length = 0;
    const gchar* bytes = secret_value_get(value.get(), &length);
    if (!g_utf8_validate_len(bytes, length, nullptr)) {
        return std::nullopt;
    }
    return std::string(bytes, length);
}

void SecretBackend::remove(const SecretItemIdentity& identity) {
    const auto session = SecretServiceSession::open();
    if (!session) {
        return;
    }
    // Deletes unlocked items only, so it never prompts; its outcome is deliberately unused.
    IgnoredError error;
    secret_service_clear_sync(session->service(), &kTokenSchema, attributesOf(identity).get(),
                              nullptr, error.out());
}

bool SecretBackend::add(const SecretItemIdentity& identity, std::string_view secret) {
    const auto session = SecretServiceSession::open();
    if (!session) {
        return false;
    }
    // The default collection ("login" on a desktop) is unlocked with the user's session. A
    // missing or locked one fails here: creating or unlocking it would prompt.
    IgnoredError error;
    const GObjectPointer<SecretCollection> collection(
        secret_collection_for_alias_sync(session->service(), SECRET_COLLECTION_DEFAULT,
                                         SECRET_COLLECTION_NONE, nullptr, error.out()));
    if (!collection || secret_collection_get_locked(collection.get())) {
        return false;
    }
    const SecretValuePointer value(
        secret_value_new(secret.data(), static_cast<gssize>(secret.size()), "text/plain"));
    const std::string label = identity.service + " (" + identity.account + ")";
    const GObjectPointer<SecretItem> item(secret_item_create_sync(
        collection.get(), &kTokenSchema, attributesOf(identity).get(), label.c_str(), value.get(),
        SECRET_ITEM_CREATE_NONE, nullptr, error.out()));
    return item != nullptr;
}

}  // namespace quaylet
