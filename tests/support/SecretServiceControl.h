#pragma once

// Puts the tests' keyring daemon into the states a user's desktop goes
// through: the login collection locked, and unlocked again with its password.

#include <QList>
#include <QMap>
#include <QString>

namespace SecretServiceControl {

QString defaultCollectionPath(QString* why = nullptr);
bool lockDefaultCollection(QString* why = nullptr);
// Unlocks without a prompt, as the desktop's login does with the password.
bool unlockDefaultCollection(QString* why = nullptr);
bool isDefaultCollectionLocked();

// The attributes of every item with this account and service, as the daemon
// holds them.
QList<QMap<QString, QString>> itemAttributes(const QString& account, const QString& service);

} // namespace SecretServiceControl
