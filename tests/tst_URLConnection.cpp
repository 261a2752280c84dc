// The connection over QNetworkAccessManager, against a TLS server of the test:
// the order of the delegate calls, redirects, and the requests that fail.

#include "platform/NetworkTrust.h"
#include "platform/URLConnection.h"
#include "support/RawTlsServer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpServer>
#include <QTest>
#include <QThread>
#include <functional>
#include <memory>

using namespace std::chrono_literals;

namespace {

class RecordingDelegate : public URLConnectionDelegate
{
public:
    // Consecutive data calls count as one, however the bytes were split.
    QStringList calls;
    URLResponse response;
    QByteArray data; // since the last response
    Error error;
    bool calledOffTheMainThread = false;
    std::function<void(URLConnection*)> afterData;

    bool ended() const { return calls.contains("finish") || calls.contains("fail"); }

    void connectionDidReceiveResponse(URLConnection*, const URLResponse& received) override
    {
        note("response");
        response = received;
        data.clear();
    }
    void connectionDidReceiveData(URLConnection* connection, const QByteArray& received) override
    {
        note("data");
        data += received;
        if (afterData)
            afterData(connection);
    }
    std::optional<URLResponse> connectionWillCacheResponse(
        URLConnection*, const URLResponse&) override
    {
        note("willCache");
        return std::nullopt;
    }
    void connectionDidFinishLoading(URLConnection*) override { note("finish"); }
    void connectionDidFailWithError(URLConnection*, const Error& failure) override
    {
        note("fail");
        error = failure;
    }

private:
    void note(const QString& call)
    {
        calledOffTheMainThread
            |= QThread::currentThread() != QCoreApplication::instance()->thread();
        if (call != "data" || calls.isEmpty() || calls.last() != "data")
            calls.append(call);
    }
};

} // namespace

class tst_URLConnection : public QObject
{
    Q_OBJECT

    std::optional<TestCertificates> certificates;
    std::unique_ptr<RawTlsServer> server;
    std::unique_ptr<RawTlsServer> stranger;
    QNetworkAccessManager manager;

    static URLRequest post(const QUrl& url)
    {
        return URLRequest { url, "POST", { { "Content-Type", "text/plain" } }, "hello", 60s };
    }

    // Runs one request to its end; the connection must then be gone.
    void run(const URLRequest& request, RecordingDelegate& delegate)
    {
        QPointer<URLConnection> connection
            = URLConnection::initWithRequest(request, &delegate, manager);
        QTRY_VERIFY_WITH_TIMEOUT(delegate.ended(), 30000);
        QTRY_VERIFY2(!connection, "the connection outlived its last delegate call");
        QVERIFY2(!delegate.calledOffTheMainThread, "a delegate call came on another thread");
    }

private slots:
    void initTestCase()
    {
        QString why;
        certificates = TestCertificates::make(&why);
        QVERIFY2(certificates, qPrintable(why));
        NetworkTrust::addTrustedCertificates({ certificates->authority });
        server = std::make_unique<RawTlsServer>(certificates->server, certificates->serverKey);
        stranger
            = std::make_unique<RawTlsServer>(certificates->stranger, certificates->strangerKey);
        QVERIFY(server->listen() && stranger->listen());
    }

    void answerArrivesAsResponseDataCacheQuestionAndFinish()
    {
        server->setAnswer(RawTlsServer::Answer::http(200, R"({"expiring":1})"));
        RecordingDelegate delegate;
        run(post(server->url()), delegate);
        QCOMPARE(delegate.calls, QStringList({ "response", "data", "willCache", "finish" }));
        QCOMPARE(delegate.response.statusCode, 200);
        QCOMPARE(delegate.response.headers.value("Content-Type"), QByteArray("application/json"));
        QCOMPARE(delegate.data, QByteArray(R"({"expiring":1})"));
        const RawTlsServer::Request received = server->requests().last();
        QCOMPARE(received.method + received.headers.value("content-type") + received.body,
            QByteArray("POSTtext/plainhello"));
    }

    void requestThatCannotBeCarriedOutFails_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("code"); // -1: any
        QTest::newRow("untrusted certificate")
            << "stranger" << int(QNetworkReply::SslHandshakeFailedError);
        QTest::newRow("closed port") << "closed" << int(QNetworkReply::ConnectionRefusedError);
        QTest::newRow("no answer within the time-out") << "silent" << -1;
        QTest::newRow("not HTTP") << "not HTTP" << int(QNetworkReply::RemoteHostClosedError);
        QTest::newRow("body cut short") << "cut short" << -1;
        // Its error is beyond the network range, and there is no HTTP status at all.
        QTest::newRow("a reply without an HTTP status")
            << "unknown scheme" << int(QNetworkReply::ProtocolUnknownError);
    }

    void requestThatCannotBeCarriedOutFails()
    {
        QFETCH(QString, target);
        QFETCH(int, code);
        URLRequest request = post(target == "stranger" ? stranger->url() : server->url());
        if (target == "closed") {
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
            request.url.setPort(closed.serverPort());
            closed.close();
        } else if (target == "silent") {
            RawTlsServer::Answer silent;
            silent.silent = true;
            server->setAnswer(silent);
            request.timeout = 500ms;
        } else if (target == "not HTTP") {
            server->setAnswer({ "SSH-2.0-OpenSSH_9.2\r\n\r\n" });
        } else if (target == "cut short") {
            server->setAnswer(
                { "HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\n{" });
        } else if (target == "unknown scheme") {
            request.url.setScheme("gopher");
        }
        RecordingDelegate delegate;
        run(request, delegate);
        QCOMPARE(delegate.calls.last(), QString("fail"));
        QVERIFY2(!delegate.calls.contains("finish"), "a failed request also finished");
        QCOMPARE(delegate.error.domain, URLConnectionErrorDomain);
        if (code >= 0)
            QCOMPARE(delegate.error.code, code);
        QVERIFY2(delegate.error.code > 0, "no error code");
        QVERIFY2(delegate.error.userInfo.contains(Error::LocalizedDescriptionKey),
            "the failure has no description");
    }

    void stoppedConnectionFinishesWithWhatItHas()
    {
        RawTlsServer::Answer endless { "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n[" };
        endless.endless = true;
        server->setAnswer(endless);
        RecordingDelegate delegate;
        delegate.afterData = [](URLConnection* connection) { connection->stopLoading(); };
        run(post(server->url()), delegate);
        QCOMPARE(delegate.calls, QStringList({ "response", "data", "finish" }));
    }

    // Last: it widens the process's trust for the rest of the run.
    void trustIsTheSystemsPlusEveryAddedAuthority()
    {
        NetworkTrust::addTrustedCertificates({ certificates->stranger });
        server->setAnswer(RawTlsServer::Answer::http(200, "{}"));
        RecordingDelegate delegate;
        run(post(server->url()), delegate);
        QCOMPARE(delegate.calls.last(), QStringLiteral("finish"));

        const QList<QSslCertificate> trusted
            = QSslConfiguration::defaultConfiguration().caCertificates();
        const QList<QSslCertificate> system = QSslConfiguration::systemCaCertificates();
        QVERIFY2(!system.isEmpty() && trusted.contains(system.first())
                && trusted.contains(system.last()),
            "the system authorities are no longer trusted");
        QCOMPARE(trusted.count(certificates->authority), 1);
        QVERIFY2(
            trusted.contains(certificates->stranger), "a later added authority was not applied");
    }
};

QTEST_MAIN(tst_URLConnection)
#include "tst_URLConnection.moc"
