#include "platform/SecretServiceItems.h"

#pragma push_macro("signals")
#undef signals
// The calls on item paths are marked unstable, but they are what libsecret's
// own lookup and store are made of; they spare a proxy object per item.
#define SECRET_API_SUBJECT_TO_CHANGE
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include <QByteArray>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace {

// The attributes an item carries; the schema name keeps other programs' items
// with similar attributes out of every search.
const SecretSchema* itemSchema()
{
    static const SecretSchema schema = {
        "org.tarvendesk.GenericPassword",
        SECRET_SCHEMA_NONE,
        {
            { "account", SECRET_SCHEMA_ATTRIBUTE_STRING },
            { "service", SECRET_SCHEMA_ATTRIBUTE_STRING },
            { "access-group", SECRET_SCHEMA_ATTRIBUTE_STRING },
            { "accessible", SECRET_SCHEMA_ATTRIBUTE_STRING },
            { nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING },
        },
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr
    };
    return &schema;
}

const std::pair<const QString*, const char*> attributeNames[] = {
    { &kSecAttrAccount, "account" },
    { &kSecAttrService, "service" },
    { &kSecAttrAccessGroup, "access-group" },
    { &kSecAttrAccessible, "accessible" },
};

template <typename T, void (*Free)(T*)>
struct GPtr
{
    T* ptr = nullptr;
    GPtr() = default;
    explicit GPtr(T* p) : ptr(p) { }
    GPtr(GPtr&& other) noexcept : ptr(std::exchange(other.ptr, nullptr)) { }
    GPtr(const GPtr&) = delete;
    GPtr& operator=(const GPtr&) = delete;
    ~GPtr()
    {
        if (ptr)
            Free(ptr);
    }
    T* operator->() const { return ptr; }
    explicit operator bool() const { return ptr != nullptr; }
};

void unrefObject(GObject* object) { g_object_unref(object); }
void unrefHash(GHashTable* table) { g_hash_table_unref(table); }
void freeError(GError* error) { g_error_free(error); }
void unrefValue(SecretValue* value) { secret_value_unref(value); }

using ErrorPtr = GPtr<GError, freeError>;
using HashPtr = GPtr<GHashTable, unrefHash>;
using ValuePtr = GPtr<SecretValue, unrefValue>;

// The one place where libsecret's and D-Bus's errors become store statuses.
OSStatus statusForError(const GError* error)
{
    if (!error)
        return errSecSuccess;
    if (error->domain == G_DBUS_ERROR
        && (error->code == G_DBUS_ERROR_SERVICE_UNKNOWN || error->code == G_DBUS_ERROR_NAME_HAS_NO_OWNER
            || error->code == G_DBUS_ERROR_DISCONNECTED))
        return errSecNotAvailable;
    if (error->domain == G_IO_ERROR && (error->code == G_IO_ERROR_CLOSED || error->code == G_IO_ERROR_NOT_FOUND))
        return errSecNotAvailable;
    if (error->domain == SECRET_ERROR) {
        if (error->code == SECRET_ERROR_IS_LOCKED)
            return errSecInteractionNotAllowed;
        if (error->code == SECRET_ERROR_NO_SUCH_OBJECT)
            return errSecItemNotFound;
    }
    return errSecInternalComponent;
}

HashPtr attributesFrom(const QVariantMap& map)
{
    HashPtr table(g_hash_table_new_full(g_str_hash, g_str_equal, g_free, g_free));
    for (const auto& [key, name] : attributeNames) {
        const auto found = map.constFind(*key);
        if (found != map.constEnd())
            g_hash_table_insert(table.ptr, g_strdup(name), g_strdup(found->toString().toUtf8().constData()));
    }
    return table;
}

QVariantMap attributesOf(SecretItem* item)
{
    QVariantMap map { { kSecClass, kSecClassGenericPassword } };
    HashPtr table(secret_item_get_attributes(item));
    for (const auto& [key, name] : attributeNames) {
        const auto* value = static_cast<const char*>(g_hash_table_lookup(table.ptr, name));
        if (value)
            map.insert(*key, QString::fromUtf8(value));
    }
    return map;
}

void freeStrings(gchar** strings) { g_strfreev(strings); }
using StringsPtr = GPtr<gchar*, freeStrings>;

// The object paths of the items a search found, unlocked and locked apart.
struct Items
{
    StringsPtr unlocked;
    StringsPtr locked;
    bool empty() const { return !hasAny(unlocked) && !hasAny(locked); }
    bool anyLocked() const { return hasAny(locked); }
    std::vector<const char*> unlockedPaths() const
    {
        std::vector<const char*> paths;
        for (gchar** path = unlocked.ptr; path && *path; ++path)
            paths.push_back(*path);
        return paths;
    }

private:
    static bool hasAny(const StringsPtr& paths) { return paths.ptr && paths.ptr[0]; }
};

// Runs one exchange with the Secret Service. A daemon that was restarted leaves
// libsecret's shared connection with a stale session; such a failure is
// answered by dropping that connection and trying once more on a fresh one.
OSStatus withService(const std::function<OSStatus(SecretService*, GError**)>& call)
{
    for (int attempt = 0;; ++attempt) {
        GError* rawError = nullptr;
        OSStatus status = errSecSuccess;
        SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &rawError);
        if (service) {
            status = call(service, &rawError);
            g_object_unref(service);
        }
        ErrorPtr error(rawError);
        if (error)
            status = statusForError(error.ptr);
        const bool worthRetry = error && status == errSecInternalComponent;
        if (!worthRetry || attempt > 0)
            return status;
        secret_service_disconnect();
    }
}

// Every item the query matches, the locked ones too: libsecret's plain lookup
// skips a locked item as if it were missing, and a locked store must not look
// like an empty one. One call, and no proxy made for any item.
bool search(SecretService* service, const QVariantMap& query, Items& items, GError** error)
{
    HashPtr attributes = attributesFrom(query);
    secret_service_search_for_dbus_paths_sync(
        service, itemSchema(), attributes.ptr, nullptr, &items.unlocked.ptr, &items.locked.ptr, error);
    return *error == nullptr;
}

// An item's attributes read as one property, without making a proxy for it.
std::optional<QVariantMap> attributesAt(SecretService* service, const char* path, GError** error)
{
    GDBusProxy* proxy = G_DBUS_PROXY(service);
    GVariant* reply = g_dbus_connection_call_sync(g_dbus_proxy_get_connection(proxy),
        g_dbus_proxy_get_name(proxy), path, "org.freedesktop.DBus.Properties", "Get",
        g_variant_new("(ss)", "org.freedesktop.Secret.Item", "Attributes"), G_VARIANT_TYPE("(v)"),
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr, error);
    if (!reply)
        return std::nullopt;
    GVariant* boxed = nullptr;
    g_variant_get(reply, "(v)", &boxed);
    QVariantMap map { { kSecClass, kSecClassGenericPassword } };
    if (g_variant_is_of_type(boxed, G_VARIANT_TYPE("a{ss}"))) {
        for (const auto& [key, name] : attributeNames) {
            const gchar* value = nullptr;
            if (g_variant_lookup(boxed, name, "&s", &value))
                map.insert(*key, QString::fromUtf8(value));
        }
    }
    g_variant_unref(boxed);
    g_variant_unref(reply);
    return map;
}

OSStatus defaultCollectionState(SecretService* service, GError** error)
{
    GPtr<GObject, unrefObject> collection(G_OBJECT(
        secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT, SECRET_COLLECTION_NONE, nullptr, error)));
    if (*error)
        return errSecSuccess;
    if (!collection)
        return errSecNoDefaultKeychain;
    return secret_collection_get_locked(SECRET_COLLECTION(collection.ptr)) ? errSecInteractionNotAllowed : errSecSuccess;
}

QString labelFor(const QVariantMap& attributes)
{
    return QStringLiteral("%1 (%2)").arg(attributes.value(kSecAttrService).toString(),
        attributes.value(kSecAttrAccount).toString());
}

ValuePtr secretFrom(const QByteArray& bytes)
{
    return ValuePtr(secret_value_new(bytes.constData(), bytes.size(), "application/octet-stream"));
}

} // namespace

OSStatus SecretServiceItems::copyMatching(const QVariantMap& query, QVariantMap* result)
{
    return withService([&](SecretService* service, GError** error) -> OSStatus {
        Items items;
        if (!search(service, query, items, error))
            return errSecSuccess;
        if (items.empty())
            return errSecItemNotFound;
        const std::vector<const char*> unlocked = items.unlockedPaths();
        if (unlocked.empty())
            return errSecInteractionNotAllowed;
        const char* path = unlocked.front();
        ValuePtr secret(secret_service_get_secret_for_dbus_path_sync(service, path, nullptr, error));
        if (*error)
            return errSecSuccess;
        if (!secret)
            return errSecInteractionNotAllowed;
        if (result) {
            auto attributes = attributesAt(service, path, error);
            if (!attributes)
                return errSecSuccess;
            gsize length = 0;
            const gchar* bytes = secret_value_get(secret.ptr, &length);
            *result = *attributes;
            result->insert(kSecValueData, QByteArray(bytes, static_cast<qsizetype>(length)));
        }
        return errSecSuccess;
    });
}

OSStatus SecretServiceItems::add(const QVariantMap& attributes)
{
    return withService([&](SecretService* service, GError** error) -> OSStatus {
        Items items;
        if (!search(service, attributes, items, error))
            return errSecSuccess;
        if (!items.empty())
            return errSecDuplicateItem;
        // Storing into a locked collection would ask the user to unlock it in
        // a prompt; the store answers at once instead, as a background caller needs.
        const OSStatus state = defaultCollectionState(service, error);
        if (*error || state != errSecSuccess)
            return state;
        HashPtr itemAttributes = attributesFrom(attributes);
        ValuePtr secret = secretFrom(attributes.value(kSecValueData).toByteArray());
        secret_service_store_sync(service, itemSchema(), itemAttributes.ptr, SECRET_COLLECTION_DEFAULT,
            labelFor(attributes).toUtf8().constData(), secret.ptr, nullptr, error);
        return errSecSuccess;
    });
}

OSStatus SecretServiceItems::update(const QVariantMap& query, const QVariantMap& attributesToUpdate)
{
    return withService([&](SecretService* service, GError** error) -> OSStatus {
        Items items;
        if (!search(service, query, items, error))
            return errSecSuccess;
        if (items.empty())
            return errSecItemNotFound;
        if (items.anyLocked())
            return errSecInteractionNotAllowed;
        for (const char* path : items.unlockedPaths()) {
            GPtr<GObject, unrefObject> object(
                G_OBJECT(secret_item_new_for_dbus_path_sync(service, path, SECRET_ITEM_NONE, nullptr, error)));
            if (!object)
                return errSecSuccess;
            SecretItem* item = SECRET_ITEM(object.ptr);
            if (attributesToUpdate.contains(kSecValueData)) {
                ValuePtr secret = secretFrom(attributesToUpdate.value(kSecValueData).toByteArray());
                if (!secret_item_set_secret_sync(item, secret.ptr, nullptr, error))
                    return errSecSuccess;
            }
            if (attributesToUpdate.contains(kSecAttrAccessible)) {
                const QVariantMap current = attributesOf(item);
                QVariantMap merged = current;
                merged.insert(kSecAttrAccessible, attributesToUpdate.value(kSecAttrAccessible).toString());
                // Each write rewrites the keyring's file; an unchanged set is left alone.
                if (merged == current)
                    continue;
                HashPtr attributes = attributesFrom(merged);
                if (!secret_item_set_attributes_sync(item, itemSchema(), attributes.ptr, nullptr, error))
                    return errSecSuccess;
            }
        }
        return errSecSuccess;
    });
}

OSStatus SecretServiceItems::remove(const QVariantMap& query)
{
    return withService([&](SecretService* service, GError** error) -> OSStatus {
        Items items;
        if (!search(service, query, items, error))
            return errSecSuccess;
        if (items.empty())
            return errSecItemNotFound;
        if (items.anyLocked())
            return errSecInteractionNotAllowed;
        for (const char* path : items.unlockedPaths())
            if (!secret_service_delete_item_dbus_path_sync(service, path, nullptr, error))
                return errSecSuccess;
        return errSecSuccess;
    });
}
