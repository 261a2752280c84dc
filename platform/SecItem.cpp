#include "platform/SecItem.h"

#include "platform/SecretServiceItems.h"

namespace {

std::unique_ptr<SecItemBackend>& installedBackend()
{
    static std::unique_ptr<SecItemBackend> backend;
    return backend;
}

SecItemBackend& backend()
{
    auto& installed = installedBackend();
    if (!installed)
        installed = std::make_unique<SecretServiceItems>();
    return *installed;
}

} // namespace

void setSecItemBackend(std::unique_ptr<SecItemBackend> replacement)
{
    installedBackend() = std::move(replacement);
}

OSStatus SecItemCopyMatching(const QVariantMap& query, QVariantMap* result)
{
    return backend().copyMatching(query, result);
}

OSStatus SecItemAdd(const QVariantMap& attributes, QVariantMap* result)
{
    if (result)
        result->clear();
    return backend().add(attributes);
}

OSStatus SecItemUpdate(const QVariantMap& query, const QVariantMap& attributesToUpdate)
{
    return backend().update(query, attributesToUpdate);
}

OSStatus SecItemDelete(const QVariantMap& query)
{
    return backend().remove(query);
}
