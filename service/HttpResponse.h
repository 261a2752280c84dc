#pragma once

// An answer of the service. Every answer closes its connection, so it always
// carries its length and "Connection: close".

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

struct HttpResponse
{
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    QList<QPair<QByteArray, QByteArray>> extraHeaders;

    // A JSON object with the one member "message".
    static HttpResponse message(int status, const QString& text);

    QByteArray serialized() const;
    static QByteArray reasonPhrase(int status);
};
