// The connection over QNetworkAccessManager, against a TLS server of the test:
// the trust it has, the order of the delegate calls, and the requests that fail.

#include "platform/NetworkTrust.h"
#include "platform/URLConnection.h"
#include "support/RawTlsServer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QTest>

namespace {

// The calls in their order; a failure with its code, or "fail 0" when it
// lacks its domain, code or description.
struct RecordingDelegate : URLConnectionDelegate
{
    QStringList calls;
    QString description;

    void connectionDidReceiveResponse(URLConnection*, const URLResponse& response) override
    {
        calls << QStringLiteral("response %1").arg(response.statusCode);
    }
    void connectionDidReceiveData(URLConnection*, const QByteArray& data) override
    {
        calls << "data " + data;
    }
    std::optional<URLResponse> connectionWillCacheResponse(
        URLConnection*, const URLResponse&) override
    {
        calls << "willCache";
        return std::nullopt;
    }
    void connectionDidFinishLoading(URLConnection*) override { calls << "finish"; }
    void connectionDidFailWithError(URLConnection*, const Error& error) override
    {
        const bool described = error.domain == URLConnectionErrorDomain
            && error.userInfo.contains(Error::LocalizedDescriptionKey);
        calls << QStringLiteral("fail %1").arg(described ? error.code : 0);
        description = error.localizedDescription();
    }
};

// A delegate the connection can watch; what it hears goes to a list that
// outlives it.
struct WatchedDelegate : QObject, RecordingDelegate
{
    QStringList& heard;
    explicit WatchedDelegate(QStringList& heard)
        : heard(heard)
    {
    }

    void connectionDidReceiveData(URLConnection*, const QByteArray&) override { heard << "data"; }
    void connectionDidFinishLoading(URLConnection*) override { heard << "finish"; }
    void connectionDidFailWithError(URLConnection*, const Error&) override { heard << "fail"; }
};

} // namespace

class tst_URLConnection : public QObject
{
    Q_OBJECT

    std::optional<TestCertificates> certificates;
    std::unique_ptr<RawTlsServer> server, stranger;
    QNetworkAccessManager manager;

    // Runs one request to its end (its finish or its failure); the connection
    // must then be gone.
    void run(RecordingDelegate& delegate, const QUrl& url, int timeoutMs = 60000)
    {
        QPointer<URLConnection> connection = URLConnection::initWithRequest(
            { url, "POST", {}, "hello", std::chrono::milliseconds(timeoutMs) }, &delegate, manager);
        QTRY_VERIFY_WITH_TIMEOUT(!delegate.calls.filter(QRegularExpression("^f")).isEmpty(), 30000);
        QTRY_VERIFY2(!connection, "the connection outlived its last delegate call");
    }

private slots:
    void initTestCase()
    {
        QString why;
        certificates = TestCertificates::make(&why);
        const std::optional<TestCertificates> untrusted = TestCertificates::make(&why);
        QVERIFY2(certificates && untrusted, qPrintable(why));
        NetworkTrust::addTrustedCertificates({ certificates->authority });
        server = std::make_unique<RawTlsServer>(certificates->server, certificates->serverKey);
        stranger = std::make_unique<RawTlsServer>(untrusted->server, untrusted->serverKey);
        QVERIFY(server->listen());
        QVERIFY(stranger->listen());
    }

    // A server whose authority is not trusted, no answer within the idle
    // time-out, a body cut short after its status, and a reply with no HTTP
    // status at all (its error beyond the network range): each fails with its
    // code, domain and description, and never finishes.
    void requestsThatCannotBeCarriedOutFail()
    {
        const QByteArray cutShort
            = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\n{";
        for (const auto& [url, timeoutMs, code] : QList<std::tuple<QUrl, int, int>> {
                 { stranger->url(), 60000, QNetworkReply::SslHandshakeFailedError },
                 { server->url(), 500, QNetworkReply::TimeoutError }, // silent
                 { server->url(), 60000, QNetworkReply::RemoteHostClosedError },
                 { QUrl("gopher://127.0.0.1/"), 60000, QNetworkReply::ProtocolUnknownError } }) {
            server->setAnswer({ cutShort, 0, {}, false, timeoutMs == 500 });
            RecordingDelegate delegate;
            run(delegate, url, timeoutMs);
            QCOMPARE(delegate.calls.filter(QRegularExpression("^f")),
                QStringList { QStringLiteral("fail %1").arg(code) });
            if (code == QNetworkReply::TimeoutError)
                QCOMPARE(delegate.description, QString("The request timed out."));
        }
    }

    void trustedTheAnswerArrivesInOrderForTheServersNamesAndTheSystemsAuthoritiesStay()
    {
        server->setAnswer(RawTlsServer::Answer::http(200, R"({"expiring":1})"));
        RecordingDelegate delegate;
        run(delegate, server->url());
        QCOMPARE(delegate.calls,
            QStringList({ "response 200", R"(data {"expiring":1})", "willCache", "finish" }));
        // The system's are still Qt's to look up as chains need them: adding
        // set no list in their place.
        QVERIFY(QSslConfiguration::defaultConfiguration().caCertificates().isEmpty());
        // The added authority vouches for the names its server carries, and no others.
        for (const QString host : { "127.0.0.1", "localhost", "::1" })
            QVERIFY2(NetworkTrust::isTrustedByAddedCertificates({ certificates->server }, host),
                qPrintable(host));
        for (const QString host : { "127.0.0.2", "localhost.example.org", "" })
            QVERIFY2(!NetworkTrust::isTrustedByAddedCertificates({ certificates->server }, host),
                qPrintable(host));
        QVERIFY(
            !NetworkTrust::isTrustedByAddedCertificates({ certificates->authority }, "localhost"));
    }

    // Destroyed between the answer's first bytes and the rest: the rest, its
    // end and the time limit reach no one, and the connection goes.
    void aDelegateDestroyedWhileItsRequestRunsHearsNothingMore()
    {
        RawTlsServer::Answer slow = RawTlsServer::Answer::http(200, QByteArray(64, 'x'));
        slow.chunkSize = 8;
        slow.interval = std::chrono::milliseconds(40);
        server->setAnswer(slow);
        QStringList heard;
        auto* delegate = new WatchedDelegate(heard);
        QPointer<URLConnection> connection = URLConnection::initWithRequest(
            { server->url(), "POST", {}, "hello", std::chrono::seconds(60),
                std::chrono::milliseconds(1500) },
            delegate, manager);
        QTRY_VERIFY_WITH_TIMEOUT(!heard.isEmpty(), 30000);
        delete delegate;
        const QStringList before = heard;
        QTRY_VERIFY2(!connection, "the connection outlived its delegate");
        QTest::qWait(2000); // past the rest of the answer and the time limit
        QCOMPARE(heard, before);
    }
};

QTEST_MAIN(tst_URLConnection)
#include "tst_URLConnection.moc"
