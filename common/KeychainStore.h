#pragma once

// Keeps one value per key and service in the desktop's Secret Service (the
// keyring) through libsecret. The value is archived before it is stored;
// failures come back as an Error through the optional out-parameter, which
// success never writes. An empty key or service is a programming error and
// throws std::invalid_argument.

#include "platform/Error.h"

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <optional>
#include <stop_token>

inline const QString KeychainErrorDomain = QStringLiteral("org.tarvendesk.KeychainStore");
inline constexpr qint64 UnarchiveFailedErrorCode = 21;

// The codes of the store's status errors. They are the same numbers the suite
// has always reported, so callers and stored logs read them alike.
namespace KeychainStatus {
inline constexpr qint32 NotAvailable = -25291; // no Secret Service on the bus
inline constexpr qint32 DuplicateItem = -25299;
inline constexpr qint32 ItemNotFound = -25300;
inline constexpr qint32 NoDefaultKeychain = -25307;
inline constexpr qint32 InteractionNotAllowed = -25308; // locked, and no prompt may be shown
inline constexpr qint32 InternalComponent = -2070;
} // namespace KeychainStatus

using KeychainAccessibility = qint64;
inline constexpr KeychainAccessibility KeychainAccessibleWhenUnlocked = 0;
inline constexpr KeychainAccessibility KeychainAccessibleAfterFirstUnlock = 1;

class KeychainStore
{
public:
    KeychainStore() = delete;

    static std::optional<QByteArray> rawDataForKey(
        const QString& key, const QString& service, const QString& accessGroup, Error* error);
    static std::optional<QByteArray> rawDataForKey(
        const QString& key, const QString& service, Error* error);

    // A null QVariant stands for no item. Items are strings.
    static QVariant itemForKey(
        const QString& key, const QString& service, const QString& accessGroup, Error* error);
    static QVariant itemForKey(const QString& key, const QString& service, Error* error);

    // Replaces whatever the pair holds. An item that is not a string throws
    // std::invalid_argument: it cannot be archived.
    static bool saveItem(const QVariant& item, const QString& key, const QString& service,
        const QString& accessGroup, KeychainAccessibility accessibility, Error* error);
    static bool saveItem(
        const QVariant& item, const QString& key, const QString& service, Error* error);

    static bool deleteItemForKey(
        const QString& key, const QString& service, const QString& accessGroup, Error* error);
    static bool deleteItemForKey(const QString& key, const QString& service, Error* error);

    // Asks the keyring to unlock what holds the pair's items, and the default
    // collection, through the desktop's prompt; waits until the prompt is
    // answered, or gives up the wait (leaving the prompt up) once a stop is
    // asked for through the token.
    // False with InteractionNotAllowed when it was dismissed.
    static bool unlockItemForKey(
        const QString& key, const QString& service, Error* error, std::stop_token stopToken = {});

    // True for every error but a missing item: the keyring is locked, not
    // running, did not answer or refused, or holds an item that does not
    // decode. A record may well be stored, unlike after a read that found
    // nothing, and only that read tells that no one is signed in.
    static bool isStoreUnavailableError(const Error& error);
    // What such an error means on this system, for the log: "the keyring is
    // locked", "no keyring service on the session bus", and so on.
    static QString unavailableReason(const Error& error);

    static Error _errorForResultCode(qint32 resultCode, const QString& key, const QString& service);
};
