#pragma once

// The serve command: loads the certificate and the records, listens on
// loopback, prints "listening on https://HOST:PORT" once it accepts
// connections, then one line per answer ("POST /path 200"), and runs until
// it is stopped. Answers are made on connection workers, several at a time.

#include <QHostAddress>
#include <QList>
#include <QStringList>
#include <optional>

class ServeCommand
{
public:
    struct Listen
    {
        QList<QHostAddress> addresses;
        quint16 port = 0;
        QString host; // as the listening line shows it
    };

    static int run(const QStringList& arguments);

    // ADDRESS:PORT, ADDRESS a loopback address ("[::1]" for IPv6) or
    // "localhost", which stands for 127.0.0.1 and ::1 together. Any other
    // address is refused: the service is not for the network.
    static std::optional<Listen> parseListen(const QString& text, QString* why);

    // Whether the files hold a PEM certificate and its unencrypted key.
    static bool checkTls(const QString& certificatePath, const QString& keyPath, QString* why);
};
