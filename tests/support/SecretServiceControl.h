#pragma once

// Puts the tests' keyring daemon into the states a user's desktop goes
// through: the login collection locked, and unlocked again with its password;
// and it plants items the way other builds or programs left them.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

namespace SecretServiceControl {

QString defaultCollectionPath(QString* why = nullptr);
bool lockDefaultCollection(QString* why = nullptr);
// Unlocks without a prompt, as the desktop's login does with the password.
bool unlockDefaultCollection(QString* why = nullptr);
bool isDefaultCollectionLocked();
bool lockCollection(const QString& path, QString* why = nullptr);

// A second keyring, made without a prompt; its path, or empty on failure.
QString createCollection(const QString& label);
bool deleteCollection(const QString& path);

// An item of the suite's schema with these attributes and bytes, in the
// collection or else in the default one.
bool plantItem(QMap<QString, QString> attributes, const QByteArray& value, const QString& collection = {});

// The attributes of every item with this account and service, as the daemon
// holds them.
QList<QMap<QString, QString>> itemAttributes(const QString& account, const QString& service);

} // namespace SecretServiceControl
