#pragma once

// The secure item store: four calls over attribute maps, answering with the
// store statuses the rest of the suite knows. On Linux the items live in the
// Secret Service; a test may install another backend for a status no daemon
// can be made to return.

#include <QString>
#include <QVariantMap>

#include <memory>

using OSStatus = qint32;

inline constexpr OSStatus errSecSuccess = 0;
inline constexpr OSStatus errSecInternalComponent = -2070;
inline constexpr OSStatus errSecNotAvailable = -25291;
inline constexpr OSStatus errSecNoDefaultKeychain = -25307;
inline constexpr OSStatus errSecDuplicateItem = -25299;
inline constexpr OSStatus errSecItemNotFound = -25300;
inline constexpr OSStatus errSecInteractionNotAllowed = -25308;

inline const QString kSecClass = QStringLiteral("class");
inline const QString kSecClassGenericPassword = QStringLiteral("genp");
inline const QString kSecAttrAccount = QStringLiteral("account");
inline const QString kSecAttrService = QStringLiteral("service");
inline const QString kSecAttrAccessGroup = QStringLiteral("access-group");
inline const QString kSecAttrAccessible = QStringLiteral("accessible");
inline const QString kSecAttrAccessibleWhenUnlocked = QStringLiteral("when-unlocked");
inline const QString kSecAttrAccessibleAfterFirstUnlock = QStringLiteral("after-first-unlock");
inline const QString kSecValueData = QStringLiteral("value-data");
inline const QString kSecMatchLimit = QStringLiteral("match-limit");
inline const QString kSecMatchLimitOne = QStringLiteral("one");
inline const QString kSecReturnAttributes = QStringLiteral("return-attributes");
inline const QString kSecReturnData = QStringLiteral("return-data");

OSStatus SecItemCopyMatching(const QVariantMap& query, QVariantMap* result);
OSStatus SecItemAdd(const QVariantMap& attributes, QVariantMap* result);
OSStatus SecItemUpdate(const QVariantMap& query, const QVariantMap& attributesToUpdate);
OSStatus SecItemDelete(const QVariantMap& query);

class SecItemBackend
{
public:
    virtual ~SecItemBackend() = default;
    virtual OSStatus copyMatching(const QVariantMap& query, QVariantMap* result) = 0;
    virtual OSStatus add(const QVariantMap& attributes) = 0;
    virtual OSStatus update(const QVariantMap& query, const QVariantMap& attributesToUpdate) = 0;
    virtual OSStatus remove(const QVariantMap& query) = 0;
};

// Installs the backend the four calls use; null puts the Secret Service back.
void setSecItemBackend(std::unique_ptr<SecItemBackend> backend);
