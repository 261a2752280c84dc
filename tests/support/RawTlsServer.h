#pragma once

// An HTTPS server on 127.0.0.1 inside the test process that answers every
// request with raw bytes the test chooses (including answers no real service
// sends), at once, a few bytes at a time, without end, or never; and the
// certificates it needs.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSslCertificate>
#include <QSslKey>
#include <QUrl>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QSslServer;

struct TestCertificates
{
    QSslCertificate authority;
    // Issued by the authority for the loopback names.
    QSslCertificate server;
    QSslKey serverKey;
    // Issued by another authority, which nobody trusts.
    QSslCertificate stranger;
    QSslKey strangerKey;

    static std::optional<TestCertificates> make(QString* why);
};

class RawTlsServer : public QObject
{
    Q_OBJECT

public:
    struct Request
    {
        QByteArray method;
        QByteArray target;
        QMap<QByteArray, QByteArray> headers; // names in lower case
        QByteArray body;
    };

    struct Answer
    {
        QByteArray bytes; // status line, headers and body, sent as they are
        qsizetype chunkSize = 0; // 0: all at once
        std::chrono::milliseconds interval { 20 }; // between chunks
        bool endless = false; // after the bytes, filler until the client goes away
        bool silent = false; // never answers, holds the connection open

        // A whole HTTP/1.1 answer with Content-Length, closing the connection.
        static Answer http(
            int status, const QByteArray& body, const QByteArray& contentType = "application/json");
    };
    using Answerer = std::function<Answer(const Request&)>;

    RawTlsServer(const QSslCertificate& certificate, const QSslKey& key, QObject* parent = nullptr);
    ~RawTlsServer() override;

    // On a free port of 127.0.0.1.
    bool listen();
    QUrl url(const QString& path = QStringLiteral("/ex-libs/get-severity-count")) const;

    void setAnswer(const Answer& answer);
    void setAnswerer(Answerer answerer) { m_answerer = std::move(answerer); }
    QList<Request> requests() const { return m_requests; }

private:
    void onConnection();

    Answerer m_answerer;
    QList<Request> m_requests;
    // Last, so that it and its connections go before what they refer to.
    std::unique_ptr<QSslServer> m_server;
};
