#include "common/KeychainStore.h"

#include "platform/KeyedArchiver.h"
#include "platform/SecItem.h"

#include <stdexcept>

namespace {

const char* const saveName
    = "+[KeychainStore saveItem:forKey:forService:inAccessGroup:withAccessibility:error:]";
const char* const deleteName = "+[KeychainStore deleteItemForKey:forService:inAccessGroup:error:]";
const char* const lookupName = "+[KeychainStore _itemAttributesAndDataForKey:forService:inAccessGroup:error:]";

void checkArguments(const char* operation, const QString& key, const QString& service)
{
    if (key.isEmpty())
        throw std::invalid_argument(std::string(operation) + " key argument cannot be empty");
    if (service.isEmpty())
        throw std::invalid_argument(std::string(operation) + " service argument cannot be empty");
}

void addAccessibility(QVariantMap& attributes, KeychainAccessibility accessibility)
{
    if (accessibility == KeychainAccessibleWhenUnlocked)
        attributes.insert(kSecAttrAccessible, kSecAttrAccessibleWhenUnlocked);
    else if (accessibility == KeychainAccessibleAfterFirstUnlock)
        attributes.insert(kSecAttrAccessible, kSecAttrAccessibleAfterFirstUnlock);
}

void report(Error* error, const Error& value)
{
    if (error)
        *error = value;
}

} // namespace

std::optional<QByteArray> KeychainStore::rawDataForKey(const QString& key, const QString& service,
    const QString& accessGroup, Error* error)
{
    const auto attributes = _itemAttributesAndDataForKey(key, service, accessGroup, error);
    if (!attributes)
        return std::nullopt;
    return attributes->value(kSecValueData).toByteArray();
}

std::optional<QByteArray> KeychainStore::rawDataForKey(const QString& key, const QString& service, Error* error)
{
    return rawDataForKey(key, service, QString(), error);
}

QVariant KeychainStore::itemForKey(const QString& key, const QString& service, const QString& accessGroup,
    Error* error)
{
    const auto data = rawDataForKey(key, service, accessGroup, error);
    if (!data)
        return {};
    try {
        return KeyedUnarchiver::unarchiveObjectWithData(*data);
    } catch (const ArchiveException& exception) {
        report(error, Error::errorWithDomain(KeychainErrorDomain, UnarchiveFailedErrorCode,
                          { { Error::LocalizedFailureReasonErrorKey, exception.reason() } }));
        return {};
    }
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

    Error lookupError;
    const auto existing = _itemAttributesAndDataForKey(key, service, accessGroup, &lookupError);
    if (!existing && lookupError.code != errSecItemNotFound) {
        report(error, lookupError);
        return false;
    }

    const QByteArray data = KeyedArchiver::archivedDataWithRootObject(item);
    QVariantMap query = _baseQueryDictionaryForKey(key, service, accessGroup);
    OSStatus status;
    if (existing) {
        QVariantMap update { { kSecValueData, data } };
        addAccessibility(update, accessibility);
        status = SecItemUpdate(query, update);
    } else {
        query.insert(kSecValueData, data);
        addAccessibility(query, accessibility);
        status = SecItemAdd(query, nullptr);
    }
    if (status == errSecSuccess)
        return true;
    report(error, _errorForResultCode(status, key, service));
    return false;
}

bool KeychainStore::saveItem(const QVariant& item, const QString& key, const QString& service, Error* error)
{
    return saveItem(item, key, service, QString(), KeychainAccessibleAfterFirstUnlock, error);
}

bool KeychainStore::deleteItemForKey(const QString& key, const QString& service, const QString& accessGroup,
    Error* error)
{
    checkArguments(deleteName, key, service);
    const OSStatus status = SecItemDelete(_baseQueryDictionaryForKey(key, service, accessGroup));
    if (status == errSecSuccess)
        return true;
    if (error) {
        const Error statusError = _errorForResultCode(status, key, service);
        if (statusError.code == errSecItemNotFound) {
            const QString description
                = QStringLiteral("Could not delete item with key '%1' for service '%2' from the keychain because "
                                 "it does not exist.")
                      .arg(key, service);
            *error = Error::errorWithDomain(KeychainErrorDomain, status,
                { { Error::LocalizedDescriptionKey, description },
                    { Error::UnderlyingErrorKey, QVariant::fromValue(statusError) } });
        } else {
            *error = statusError;
        }
    }
    return false;
}

bool KeychainStore::deleteItemForKey(const QString& key, const QString& service, Error* error)
{
    return deleteItemForKey(key, service, QString(), error);
}

Error KeychainStore::_errorForResultCode(qint32 resultCode, const QString& key, const QString& service)
{
    QString description;
    switch (resultCode) {
    case errSecInteractionNotAllowed:
        description = QStringLiteral("Interaction with key '%1' for service '%2' was not allowed. It is possible "
                                     "that the item is only accessible when the device is unlocked and this query "
                                     "is happening when the app is in the background. Double-check your item "
                                     "permissions.")
                          .arg(key, service);
        break;
    case errSecItemNotFound:
        description = QStringLiteral("Item with key '%1' for service '%2' could not be found in the keychain.")
                          .arg(key, service);
        break;
    case errSecDuplicateItem:
        description = QStringLiteral("Item with key '%1' for service '%2' already exists in the keychain.")
                          .arg(key, service);
        break;
    default:
        description = QStringLiteral("This is a undefined error. Check SecBase.h or Apple's iOS Developer Library "
                                     "for more information on this Keychain Services error code.");
    }
    return Error::errorWithDomain(KeychainErrorDomain, static_cast<qint64>(resultCode),
        { { Error::LocalizedDescriptionKey, description } });
}

QVariantMap KeychainStore::_baseQueryDictionaryForKey(const QString& key, const QString& service,
    const QString& accessGroup)
{
    QVariantMap query {
        { kSecClass, kSecClassGenericPassword },
        { kSecAttrAccount, key },
        { kSecAttrService, service },
    };
    if (!accessGroup.isEmpty())
        query.insert(kSecAttrAccessGroup, accessGroup);
    return query;
}

std::optional<QVariantMap> KeychainStore::_itemAttributesAndDataForKey(const QString& key, const QString& service,
    const QString& accessGroup, Error* error)
{
    checkArguments(lookupName, key, service);
    QVariantMap query = _baseQueryDictionaryForKey(key, service, accessGroup);
    query.insert(kSecMatchLimit, kSecMatchLimitOne);
    query.insert(kSecReturnAttributes, true);
    query.insert(kSecReturnData, true);
    QVariantMap attributes;
    const OSStatus status = SecItemCopyMatching(query, &attributes);
    if (status == errSecSuccess)
        return attributes;
    report(error, _errorForResultCode(status, key, service));
    return std::nullopt;
}

bool KeychainStore::isStoreUnavailableError(const Error& error)
{
    return error.domain == KeychainErrorDomain
        && (error.code == errSecInteractionNotAllowed || error.code == errSecNotAvailable);
}
