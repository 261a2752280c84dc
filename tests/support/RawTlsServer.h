#pragma once

// An HTTPS server on 127.0.0.1 inside the test process that answers every
// request with raw bytes the test chooses (including answers no real service
// sends), at once, a few bytes at a time, without end, or never; and the
// certificates it needs are a TestCertificates' (support/ReferenceService.h).

#include "support/ReferenceService.h"

#include <QSslServer>
#include <QUrl>
#include <chrono>

class RawTlsServer
{
public:
    struct Answer
    {
        QByteArray bytes; // status line, headers and body, sent as they are
        qsizetype chunkSize = 0; // 0: all at once
        std::chrono::milliseconds interval { 20 }; // between chunks
        bool endless = false; // after the bytes, filler until the client goes away
        bool silent = false; // never answers, holds the connection open

        // A whole HTTP/1.1 JSON answer with Content-Length, closing the connection.
        static Answer http(int status, const QByteArray& body);
    };

    RawTlsServer(const QSslCertificate& certificate, const QSslKey& key);

    // On a free port of 127.0.0.1.
    bool listen() { return m_server.listen(QHostAddress::LocalHost, 0); }
    QUrl url() const
    {
        return QUrl(QStringLiteral("https://127.0.0.1:%1/ex-libs/get-severity-count")
                        .arg(m_server.serverPort()));
    }
    // For the requests that come from now on.
    void setAnswer(const Answer& answer) { m_answer = answer; }
    // Each whole request as it came: request line, headers and body.
    QList<QByteArray> requests() const { return m_requests; }

private:
    Answer m_answer = Answer::http(200, "{}");
    QList<QByteArray> m_requests;
    // Last, so that it and its connections go before what they refer to.
    QSslServer m_server;
};
