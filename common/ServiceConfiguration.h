#pragma once

// Where the programs find the service: the build's endpoint and authority,
// unless an administrator's (or the user's) tarvenDESK.conf names others.
//
//   [Service]
//   URL=https://documents.example.org/ex-libs/get-severity-count
//   CA=/etc/ssl/private-ca.pem

#include <QByteArray>
#include <QStringList>
#include <QUrl>

struct ServiceConfiguration
{
    QUrl url;
    // The PEM text of the authorities trusted for the service besides the
    // system's. Kept as text: reading a certificate loads the TLS backend,
    // which no program needs before its first request.
    QByteArray certificates;
};

// tarvenDESK/tarvenDESK.conf in each folder, the first folder first: a key
// the first file sets wins over the same key in a later one. A file, URL or
// CA that cannot be used is logged and passed over, so the program still
// starts with the next file's value or the build's.
ServiceConfiguration readServiceConfiguration(const QStringList& configFolders);

// The desktop's configuration folders: the user's, then the system's
// (XDG_CONFIG_HOME, XDG_CONFIG_DIRS; /etc/xdg by default).
ServiceConfiguration readServiceConfiguration();
