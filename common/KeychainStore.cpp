#include "common/KeychainStore.h"

#include "platform/KeyedArchiver.h"

#pragma push_macro("signals")
#undef signals
// The calls on item paths are marked unstable, but they are what libsecret's
// own lookup and store are made of; they spare a proxy object per item.
#define SECRET_API_SUBJECT_TO_CHANGE
#include <libsecret/secret.h>
#pragma pop_macro("signals")

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

const char* const saveName
    = "+[KeychainStore saveItem:forKey:forService:inAccessGroup:withAccessibility:error:]";
const char* const deleteName = "+[KeychainStore deleteItemForKey:forService:inAccessGroup:error:]";
const char* const unlockName = "+[KeychainStore unlockItemForKey:forService:error:]";
const char* const lookupName
    = "+[KeychainStore _itemAttributesAndDataForKey:forService:inAccessGroup:error:]";

// The login keyring by its alias, as libsecret's own store addresses it.
const char* const defaultCollectionPath = "/org/freedesktop/secrets/aliases/default";

// The schema name is written with every item, but searches go by the item's
// own attributes alone: a keyring that gnome-keyring loads locked from disk
// answers a search that includes the schema attribute with nothing, and its
// locked items would look missing.
const SecretSchema itemSchema = { "org.tarvendesk.GenericPassword", SECRET_SCHEMA_NONE,
    {
        { "account", SECRET_SCHEMA_ATTRIBUTE_STRING },
        { "service", SECRET_SCHEMA_ATTRIBUTE_STRING },
        { "access-group", SECRET_SCHEMA_ATTRIBUTE_STRING },
        { "accessible", SECRET_SCHEMA_ATTRIBUTE_STRING },
        { nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING },
    },
    0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr };

struct GFree
{
    void operator()(GCancellable* cancellable) const { g_object_unref(cancellable); }
    void operator()(GError* error) const { g_error_free(error); }
    void operator()(GHashTable* table) const { g_hash_table_unref(table); }
    void operator()(SecretService* service) const { g_object_unref(service); }
    void operator()(SecretValue* value) const { secret_value_unref(value); }
    void operator()(gchar* text) const { g_free(text); }
    void operator()(gchar** texts) const { g_strfreev(texts); }
    void operator()(GVariant* variant) const { g_variant_unref(variant); }
};
template <typename T> using Owned = std::unique_ptr<T, GFree>;

void checkArguments(const char* operation, const QString& key, const QString& service)
{
    if (key.isEmpty())
        throw std::invalid_argument(std::string(operation) + " key argument cannot be empty");
    if (service.isEmpty())
        throw std::invalid_argument(std::string(operation) + " service argument cannot be empty");
}

// The Secret Service has no access policy of its own: the accessibility a
// save asks for is recorded as an attribute, not enforced.
const char* accessibleValue(KeychainAccessibility accessibility)
{
    if (accessibility == KeychainAccessibleWhenUnlocked)
        return "when-unlocked";
    if (accessibility == KeychainAccessibleAfterFirstUnlock)
        return "after-first-unlock";
    return nullptr;
}

Owned<GHashTable> attributesFor(const QString& key, const QString& service,
    const QString& accessGroup, const char* accessible = nullptr)
{
    Owned<GHashTable> table(g_hash_table_new_full(g_str_hash, g_str_equal, nullptr, g_free));
    g_hash_table_insert(
        table.get(), const_cast<char*>("account"), g_strdup(key.toUtf8().constData()));
    g_hash_table_insert(
        table.get(), const_cast<char*>("service"), g_strdup(service.toUtf8().constData()));
    if (!accessGroup.isEmpty())
        g_hash_table_insert(table.get(), const_cast<char*>("access-group"),
            g_strdup(accessGroup.toUtf8().constData()));
    if (accessible)
        g_hash_table_insert(table.get(), const_cast<char*>("accessible"), g_strdup(accessible));
    return table;
}

// The one place where libsecret's and D-Bus's errors become store statuses.
// A missing object is the item to a read or a delete, the collection to a save.
qint32 statusForError(const GError* error, bool storing)
{
    if (error->domain == G_DBUS_ERROR
        && (error->code == G_DBUS_ERROR_SERVICE_UNKNOWN
            || error->code == G_DBUS_ERROR_NAME_HAS_NO_OWNER
            || error->code == G_DBUS_ERROR_DISCONNECTED
            || error->code == G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND
            || error->code == G_DBUS_ERROR_SPAWN_CHILD_EXITED
            || error->code == G_DBUS_ERROR_SPAWN_EXEC_FAILED))
        return KeychainStatus::NotAvailable;
    if (error->domain == G_IO_ERROR
        && (error->code == G_IO_ERROR_CLOSED || error->code == G_IO_ERROR_NOT_FOUND))
        return KeychainStatus::NotAvailable;
    // A prompt the user dismissed: the keyring stays locked.
    if (error->domain == G_IO_ERROR && error->code == G_IO_ERROR_CANCELLED)
        return KeychainStatus::InteractionNotAllowed;
    if (error->domain == SECRET_ERROR) {
        if (error->code == SECRET_ERROR_IS_LOCKED)
            return KeychainStatus::InteractionNotAllowed;
        if (error->code == SECRET_ERROR_NO_SUCH_OBJECT)
            return storing ? KeychainStatus::NoDefaultKeychain : KeychainStatus::ItemNotFound;
        if (error->code == SECRET_ERROR_ALREADY_EXISTS)
            return KeychainStatus::DuplicateItem;
    }
    return KeychainStatus::InternalComponent;
}

// What a step of an exchange with the Secret Service came to: a status of its
// own (succeeded, or a refusal such as a locked item), or none when a call
// failed and left its GError to say why.
using Outcome = std::optional<qint32>;
constexpr qint32 succeeded = 0;

// Runs one exchange with the Secret Service and gives its status: the call's
// own, or its error's. A daemon that was restarted leaves libsecret's shared
// connection with a stale session, or (off the main thread, where libsecret
// never sees the name change hands) with the old daemon's bus name; such a
// failure is answered by dropping that connection and trying once more on a
// fresh one.
qint32 withService(bool storing, const std::function<Outcome(SecretService*, GError**)>& call)
{
    for (int attempt = 0;; ++attempt) {
        GError* rawError = nullptr;
        Outcome outcome;
        if (Owned<SecretService> service {
                secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &rawError) })
            outcome = call(service.get(), &rawError);
        const Owned<GError> error(rawError);
        if (outcome)
            return *outcome;
        if (!error)
            return KeychainStatus::InternalComponent;
        const qint32 status = statusForError(error.get(), storing);
        const bool stale
            = status == KeychainStatus::InternalComponent || status == KeychainStatus::NotAvailable;
        if (!stale || attempt > 0)
            return status;
        secret_service_disconnect();
    }
}

// The object paths of the items that hold the attributes, unlocked and locked
// apart, from one call that makes no proxy for any item.
struct Paths
{
    Owned<gchar*> unlocked;
    Owned<gchar*> locked;
    static bool any(const Owned<gchar*>& paths) { return paths && paths.get()[0]; }
};

bool search(SecretService* service, GHashTable* attributes, Paths& paths, GError** error)
{
    gchar** unlocked = nullptr;
    gchar** locked = nullptr;
    const bool searched = secret_service_search_for_dbus_paths_sync(
        service, nullptr, attributes, nullptr, &unlocked, &locked, error);
    paths.unlocked.reset(unlocked);
    paths.locked.reset(locked);
    return searched;
}

// The Secret Service's Unlock, its prompt waited for here rather than by
// libsecret: libsecret answers a cancelled wait with Dismiss on the prompt,
// which gnome-keyring 42 does not survive. A cancelled wait ends with no word
// to the service, whose prompt stays up for the person to answer. The number
// of paths unlocked (none when the prompt was dismissed), or -1.
struct PromptWait
{
    GMainLoop* loop = nullptr;
    bool cancelled = false;
    bool dismissed = true;
    Owned<GVariant> result;
};

gint unlockPaths(
    SecretService* service, const gchar* const* paths, GCancellable* cancellable, GError** error)
{
    GDBusProxy* proxy = G_DBUS_PROXY(service);
    const Owned<GVariant> reply(g_dbus_proxy_call_sync(proxy, "Unlock",
        g_variant_new("(^ao)", paths), G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, error));
    if (!reply)
        return -1;
    gchar** unlockedNow = nullptr;
    const gchar* prompt = nullptr;
    g_variant_get(reply.get(), "(^ao&o)", &unlockedNow, &prompt);
    const Owned<gchar*> unlocked(unlockedNow);
    if (g_strcmp0(prompt, "/") == 0)
        return gint(g_strv_length(unlocked.get()));

    GDBusConnection* connection = g_dbus_proxy_get_connection(proxy);
    const Owned<gchar> owner(g_dbus_proxy_get_name_owner(proxy));
    const gchar* name = owner ? owner.get() : g_dbus_proxy_get_name(proxy);
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    PromptWait wait;
    wait.loop = g_main_loop_new(context, false);
    const guint completed = g_dbus_connection_signal_subscribe(
        connection, name, "org.freedesktop.Secret.Prompt", "Completed", prompt, nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
            GVariant* parameters, gpointer data) {
            auto* wait = static_cast<PromptWait*>(data);
            if (g_variant_is_of_type(parameters, G_VARIANT_TYPE("(bv)"))) {
                gboolean dismissed = true;
                GVariant* result = nullptr;
                g_variant_get(parameters, "(bv)", &dismissed, &result);
                wait->dismissed = dismissed;
                wait->result.reset(result);
            }
            g_main_loop_quit(wait->loop);
        },
        &wait, nullptr);
    // A service that goes away answers nothing more: as a dismissed prompt.
    const guint watch = g_bus_watch_name_on_connection(
        connection, name, G_BUS_NAME_WATCHER_FLAGS_NONE, nullptr,
        [](GDBusConnection*, const gchar*, gpointer data) {
            g_main_loop_quit(static_cast<PromptWait*>(data)->loop);
        },
        &wait, nullptr);
    GSource* cancelled = g_cancellable_source_new(cancellable);
    g_source_set_callback(cancelled, G_SOURCE_FUNC(+[](GCancellable*, gpointer data) -> gboolean {
        auto* wait = static_cast<PromptWait*>(data);
        wait->cancelled = true;
        g_main_loop_quit(wait->loop);
        return G_SOURCE_REMOVE;
    }),
        &wait, nullptr);
    g_source_attach(cancelled, context);
    const Owned<GVariant> prompted(g_dbus_connection_call_sync(connection, name, prompt,
        "org.freedesktop.Secret.Prompt", "Prompt", g_variant_new("(s)", ""), nullptr,
        G_DBUS_CALL_FLAGS_NO_AUTO_START, -1, nullptr, error));
    if (prompted)
        g_main_loop_run(wait.loop);
    g_dbus_connection_signal_unsubscribe(connection, completed);
    g_bus_unwatch_name(watch);
    g_source_destroy(cancelled);
    g_source_unref(cancelled);
    while (g_main_context_iteration(context, false)) { }
    g_main_context_pop_thread_default(context);
    g_main_loop_unref(wait.loop);
    g_main_context_unref(context);

    if (!prompted)
        return -1;
    if (wait.cancelled) {
        g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_CANCELLED, "The unlock was given up");
        return -1;
    }
    if (wait.dismissed || !wait.result
        || !g_variant_is_of_type(wait.result.get(), G_VARIANT_TYPE("ao")))
        return 0;
    return gint(g_variant_n_children(wait.result.get()));
}

// Whether a locked copy of the pair bars a step: a read takes an unlocked copy
// where there is one, but a delete that left a locked copy behind would let a
// later read find it.
enum class LockedCopies
{
    Tolerated,
    Refused
};

// The pair's items, from one search that finds the locked items too:
// libsecret's plain lookup skips a locked item as if it were missing, and a
// locked keyring must not look like an empty one. Succeeds when there are
// unlocked items to work on.
Outcome findUnlocked(SecretService* service, GHashTable* attributes, LockedCopies lockedCopies,
    Paths& paths, GError** error)
{
    if (!search(service, attributes, paths, error))
        return std::nullopt;
    if (lockedCopies == LockedCopies::Refused && Paths::any(paths.locked))
        return KeychainStatus::InteractionNotAllowed;
    if (!Paths::any(paths.unlocked))
        return Paths::any(paths.locked) ? KeychainStatus::InteractionNotAllowed
                                        : KeychainStatus::ItemNotFound;
    return succeeded;
}

// Deletes the unlocked items of the pair other than the one kept (none to
// keep with nullptr). A save's replacing matches only the items that hold all
// its attributes; one saved with another accessibility would stay beside the
// new one and goes here.
Outcome removeAllBut(SecretService* service, const Paths& pair, const char* kept, GError** error)
{
    for (gchar** path = pair.unlocked.get(); path && *path; ++path)
        if (g_strcmp0(*path, kept) != 0
            && !secret_service_delete_item_dbus_path_sync(service, *path, nullptr, error))
            return std::nullopt;
    return succeeded;
}

Owned<GHashTable> itemProperties(GHashTable* attributes, const QString& label)
{
    GVariantBuilder builder;
    g_variant_builder_init(&builder, G_VARIANT_TYPE("a{ss}"));
    GHashTableIter iterator;
    gpointer name = nullptr;
    gpointer value = nullptr;
    g_hash_table_iter_init(&iterator, attributes);
    while (g_hash_table_iter_next(&iterator, &name, &value))
        g_variant_builder_add(&builder, "{ss}", name, value);
    g_variant_builder_add(&builder, "{ss}", "xdg:schema", itemSchema.name);
    Owned<GHashTable> properties(g_hash_table_new_full(
        g_str_hash, g_str_equal, nullptr, reinterpret_cast<GDestroyNotify>(g_variant_unref)));
    g_hash_table_insert(properties.get(), const_cast<char*>("org.freedesktop.Secret.Item.Label"),
        g_variant_ref_sink(g_variant_new_string(label.toUtf8().constData())));
    g_hash_table_insert(properties.get(),
        const_cast<char*>("org.freedesktop.Secret.Item.Attributes"),
        g_variant_ref_sink(g_variant_builder_end(&builder)));
    return properties;
}

// The search for the pair's items and the replacing store, sent together: the
// daemon answers them in order, so the search sees the items as they were
// before the store, and the save waits for one round trip instead of two.
// A locked keyring answers the store with an error at once; no unlock prompt
// is asked for.
struct PendingSave
{
    Paths existing;
    Owned<gchar> path;
    GError* searchError = nullptr;
    GError* storeError = nullptr;
    int pending = 2;

    ~PendingSave()
    {
        if (searchError)
            g_error_free(searchError);
        if (storeError)
            g_error_free(storeError);
    }

    void run(SecretService* service, GHashTable* pair, GHashTable* properties, SecretValue* secret)
    {
        // The answers come on a context of this call's own, as in libsecret's
        // own blocking calls, never on the program's event loop.
        GMainContext* context = g_main_context_new();
        g_main_context_push_thread_default(context);
        secret_service_search_for_dbus_paths(
            service, nullptr, pair, nullptr, &PendingSave::searched, this);
        secret_service_create_item_dbus_path(service, defaultCollectionPath, properties, secret,
            SECRET_ITEM_CREATE_REPLACE, nullptr, &PendingSave::stored, this);
        while (pending > 0)
            g_main_context_iteration(context, TRUE);
        g_main_context_pop_thread_default(context);
        g_main_context_unref(context);
    }

    static void searched(GObject* source, GAsyncResult* result, gpointer data)
    {
        auto* save = static_cast<PendingSave*>(data);
        gchar** unlocked = nullptr;
        gchar** locked = nullptr;
        secret_service_search_for_dbus_paths_finish(
            SECRET_SERVICE(source), result, &unlocked, &locked, &save->searchError);
        save->existing.unlocked.reset(unlocked);
        save->existing.locked.reset(locked);
        --save->pending;
    }

    static void stored(GObject* source, GAsyncResult* result, gpointer data)
    {
        auto* save = static_cast<PendingSave*>(data);
        save->path.reset(secret_service_create_item_dbus_path_finish(
            SECRET_SERVICE(source), result, &save->storeError));
        --save->pending;
    }
};

} // namespace

std::optional<QByteArray> KeychainStore::rawDataForKey(
    const QString& key, const QString& service, const QString& accessGroup, Error* error)
{
    checkArguments(lookupName, key, service);
    const Owned<GHashTable> attributes = attributesFor(key, service, accessGroup);
    QByteArray data;
    const qint32 status
        = withService(false, [&](SecretService* store, GError** failure) -> Outcome {
              Paths paths;
              if (const Outcome found
                  = findUnlocked(store, attributes.get(), LockedCopies::Tolerated, paths, failure);
                  found != succeeded)
                  return found;
              const Owned<SecretValue> secret(secret_service_get_secret_for_dbus_path_sync(
                  store, paths.unlocked.get()[0], nullptr, failure));
              if (!secret)
                  return *failure ? std::nullopt : Outcome(KeychainStatus::InteractionNotAllowed);
              gsize length = 0;
              const gchar* bytes = secret_value_get(secret.get(), &length);
              data = QByteArray(bytes, static_cast<qsizetype>(length));
              return succeeded;
          });
    if (status == succeeded)
        return data;
    reportError(error, _errorForResultCode(status, key, service));
    return std::nullopt;
}

std::optional<QByteArray> KeychainStore::rawDataForKey(
    const QString& key, const QString& service, Error* error)
{
    return rawDataForKey(key, service, QString(), error);
}

QVariant KeychainStore::itemForKey(
    const QString& key, const QString& service, const QString& accessGroup, Error* error)
{
    const auto data = rawDataForKey(key, service, accessGroup, error);
    if (!data)
        return {};
    Error archiveError;
    if (const auto item = KeyedArchiver::unarchiveObjectWithData(*data, &archiveError))
        return *item;
    reportError(error,
        Error::errorWithDomain(KeychainErrorDomain, UnarchiveFailedErrorCode,
            { { Error::LocalizedFailureReasonErrorKey, archiveError.localizedDescription() } }));
    return {};
}

QVariant KeychainStore::itemForKey(const QString& key, const QString& service, Error* error)
{
    return itemForKey(key, service, QString(), error);
}

bool KeychainStore::saveItem(const QVariant& item, const QString& key, const QString& service,
    const QString& accessGroup, KeychainAccessibility accessibility, Error* error)
{
    checkArguments(saveName, key, service);
    if (!item.isValid())
        return deleteItemForKey(key, service, error);
    if (item.metaType().id() != QMetaType::QString)
        throw std::invalid_argument(std::string(saveName) + " item of type "
            + item.metaType().name() + " cannot be archived");

    const QByteArray data = KeyedArchiver::archivedDataWithRootObject(item.toString());
    const Owned<GHashTable> pair = attributesFor(key, service, accessGroup);
    const Owned<GHashTable> attributes
        = attributesFor(key, service, accessGroup, accessibleValue(accessibility));
    const Owned<GHashTable> properties
        = itemProperties(attributes.get(), service + QStringLiteral(" (") + key + u')');
    const qint32 status = withService(true, [&](SecretService* store, GError** failure) -> Outcome {
        const Owned<SecretValue> secret(
            secret_value_new(data.constData(), data.size(), "application/octet-stream"));
        auto save = std::make_unique<PendingSave>();
        save->run(store, pair.get(), properties.get(), secret.get());
        // No default collection (a fresh account, or a daemon started without
        // a login keyring): it is made, through the prompt that asks for its
        // password, and the save goes there, as libsecret's own store does.
        // gnome-keyring answers for the missing alias as for any missing object.
        const GError* storeError = save->storeError;
        if (storeError
            && (g_error_matches(storeError, SECRET_ERROR, SECRET_ERROR_NO_SUCH_OBJECT)
                || g_error_matches(storeError, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD)
                || g_error_matches(storeError, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_OBJECT))) {
            GError* createError = nullptr;
            SecretCollection* created = secret_collection_create_sync(
                store, "Login", "default", SECRET_COLLECTION_CREATE_NONE, nullptr, &createError);
            if (!created) {
                // A dismissed prompt comes back as no collection, or as an
                // unknown method of the path "/" given in its place; either
                // is the person's answer, not a stale connection to try again.
                if (!createError
                    || g_error_matches(createError, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_METHOD)) {
                    g_clear_error(&createError);
                    return KeychainStatus::InteractionNotAllowed;
                }
                g_propagate_error(failure, createError);
                return std::nullopt;
            }
            g_object_unref(created);
            save = std::make_unique<PendingSave>();
            save->run(store, pair.get(), properties.get(), secret.get());
        }
        if (save->storeError || save->searchError) {
            GError*& first = save->storeError ? save->storeError : save->searchError;
            g_propagate_error(failure, std::exchange(first, nullptr));
            return std::nullopt;
        }
        // A copy that cannot be removed fails the save: a read might meet it.
        return removeAllBut(store, save->existing, save->path.get(), failure);
    });
    if (status == succeeded)
        return true;
    reportError(error, _errorForResultCode(status, key, service));
    return false;
}

bool KeychainStore::saveItem(
    const QVariant& item, const QString& key, const QString& service, Error* error)
{
    return saveItem(item, key, service, QString(), KeychainAccessibleAfterFirstUnlock, error);
}

bool KeychainStore::deleteItemForKey(
    const QString& key, const QString& service, const QString& accessGroup, Error* error)
{
    checkArguments(deleteName, key, service);
    const Owned<GHashTable> attributes = attributesFor(key, service, accessGroup);
    const qint32 status
        = withService(false, [&](SecretService* store, GError** failure) -> Outcome {
              Paths paths;
              if (const Outcome found
                  = findUnlocked(store, attributes.get(), LockedCopies::Refused, paths, failure);
                  found != succeeded)
                  return found;
              return removeAllBut(store, paths, nullptr, failure);
          });
    if (status == succeeded)
        return true;
    const Error statusError = _errorForResultCode(status, key, service);
    if (status != KeychainStatus::ItemNotFound) {
        reportError(error, statusError);
        return false;
    }
    const QString description
        = QStringLiteral("Could not delete item with key '%1' for service '%2' from the "
                         "keychain because it does not exist.")
              .arg(key, service);
    reportError(error,
        Error::errorWithDomain(KeychainErrorDomain, status,
            { { Error::LocalizedDescriptionKey, description },
                { Error::UnderlyingErrorKey, QVariant::fromValue(statusError) } }));
    return false;
}

bool KeychainStore::deleteItemForKey(const QString& key, const QString& service, Error* error)
{
    return deleteItemForKey(key, service, QString(), error);
}

bool KeychainStore::unlockItemForKey(
    const QString& key, const QString& service, Error* error, std::stop_token stopToken)
{
    checkArguments(unlockName, key, service);
    const Owned<GHashTable> attributes = attributesFor(key, service, QString());
    const Owned<GCancellable> cancellable(g_cancellable_new());
    const std::stop_callback giveUp(
        stopToken, [&cancellable] { g_cancellable_cancel(cancellable.get()); });
    const qint32 status
        = withService(false, [&](SecretService* store, GError** failure) -> Outcome {
              Paths paths;
              if (!search(store, attributes.get(), paths, failure))
                  return std::nullopt;
              // The locked items' collections, and the one a save goes to.
              std::vector<const gchar*> locked { defaultCollectionPath };
              for (gchar** path = paths.locked.get(); path && *path; ++path)
                  locked.push_back(*path);
              locked.push_back(nullptr);
              const gint count = unlockPaths(store, locked.data(), cancellable.get(), failure);
              if (count < 0)
                  return std::nullopt;
              return count > 0 ? succeeded : KeychainStatus::InteractionNotAllowed;
          });
    if (status == succeeded)
        return true;
    reportError(error, _errorForResultCode(status, key, service));
    return false;
}

bool KeychainStore::isStoreUnavailableError(const Error& error)
{
    return !error.isNull()
        && !(error.domain == KeychainErrorDomain && error.code == KeychainStatus::ItemNotFound);
}

QString KeychainStore::unavailableReason(const Error& error)
{
    if (error.domain == KeychainErrorDomain) {
        switch (error.code) {
        case KeychainStatus::InteractionNotAllowed:
            return QStringLiteral("the keyring is locked");
        case KeychainStatus::NotAvailable:
            return QStringLiteral("no keyring service on the session bus");
        case KeychainStatus::NoDefaultKeychain:
            return QStringLiteral("the keyring has no default collection");
        case UnarchiveFailedErrorCode:
            return QStringLiteral("the stored item does not decode: ")
                + error.localizedFailureReason();
        case KeychainStatus::InternalComponent:
            return QStringLiteral("the keyring service did not answer or refused the request");
        default:
            break;
        }
    }
    return QStringLiteral("the keyring failed with %1 %2").arg(error.domain).arg(error.code);
}

Error KeychainStore::_errorForResultCode(
    qint32 resultCode, const QString& key, const QString& service)
{
    QString description;
    switch (resultCode) {
    case KeychainStatus::InteractionNotAllowed:
        description = QStringLiteral(
            "Interaction with key '%1' for service '%2' was not allowed. It is possible "
            "that the item is only accessible when the device is unlocked and this query "
            "is happening when the app is in the background. Double-check your item "
            "permissions.")
                          .arg(key, service);
        break;
    case KeychainStatus::ItemNotFound:
        description = QStringLiteral(
            "Item with key '%1' for service '%2' could not be found in the keychain.")
                          .arg(key, service);
        break;
    case KeychainStatus::DuplicateItem:
        description
            = QStringLiteral("Item with key '%1' for service '%2' already exists in the keychain.")
                  .arg(key, service);
        break;
    default:
        description = QStringLiteral(
            "This is a undefined error. Check SecBase.h or Apple's iOS Developer Library "
            "for more information on this Keychain Services error code.");
    }
    return Error::errorWithDomain(KeychainErrorDomain, static_cast<qint64>(resultCode),
        { { Error::LocalizedDescriptionKey, description } });
}
