#pragma once

// One client connection, after its TLS handshake: reads one request within
// the parser's bounds and a deadline, answers it, and closes. A client that is
// too slow gets a 408 and is dropped, so it cannot hold the service.

#include "service/HttpRequestParser.h"
#include "service/HttpResponse.h"

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

class QSslSocket;

class HttpConnection : public QObject
{
    Q_OBJECT

public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    // Takes the socket over as a child.
    HttpConnection(QSslSocket* socket, Handler handler, std::chrono::milliseconds timeout, QObject* parent = nullptr);

signals:
    // Method and path are "-" when the request line was never read.
    void answered(const QByteArray& method, const QByteArray& path, int status);
    // Once, when the connection is over; it may then be deleted.
    void finished();

private:
    void onReadyRead();
    void onDeadline();
    void answer(const HttpResponse& response);
    void close();
    void finish();

    QSslSocket* m_socket;
    Handler m_handler;
    HttpRequestParser m_parser;
    QTimer m_deadline;
    bool m_answered = false;
    bool m_closing = false;
    bool m_finished = false;
    qint64 m_drainLeft = 0;
};
