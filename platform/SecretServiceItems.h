#pragma once

// The item calls on the Secret Service (gnome-keyring, KWallet's bridge, or any
// daemon of the freedesktop Secret Service API), reached through libsecret.

#include "platform/SecItem.h"

class SecretServiceItems : public SecItemBackend
{
public:
    OSStatus copyMatching(const QVariantMap& query, QVariantMap* result) override;
    OSStatus add(const QVariantMap& attributes) override;
    OSStatus update(const QVariantMap& query, const QVariantMap& attributesToUpdate) override;
    OSStatus remove(const QVariantMap& query) override;
};
