// The severity-count exchange: the request as the reference service reads it,
// what each kind of answer means and the texts made of it, and each request's
// answer collected on its own.

#include "common/SeverityCountExchange.h"
#include "common/SeverityCountRequest.h"
#include "common/ShownText.h"
#include "platform/NetworkTrust.h"
#include "support/RawTlsServer.h"

#include <QNetworkAccessManager>
#include <QTest>

namespace {

// The kind of an outcome, and the text a program would show for it.
QString summary(const ExchangeOutcome& outcome)
{
    using Kind = ExchangeOutcome::Kind;
    return outcome.kind == Kind::Counts ? "counts: " + SeverityCount::notificationText(outcome)
        : outcome.kind == Kind::Refused
        ? "refused: " + shownText(SeverityCount::textForm(outcome.message), ShownMessageLength)
        : QStringLiteral("unreadable");
}

// Ends requests as each program's AppDelegate does, and records how each ended.
struct ExchangeDelegate : SeverityCountConnectionDelegate
{
    SeverityCountExchange& exchange = _responseData;
    QStringList ended;

    void connectionDidFinishLoading(URLConnection* connection) override
    {
        ended << summary(exchange.connectionDidFinishLoading(connection));
    }
    void connectionDidFailWithError(URLConnection* connection, const Error& error) override
    {
        exchange.connectionDidFailWithError(connection);
        ended << "failure: " + error.localizedDescription();
    }
};

} // namespace

class tst_SeverityCount : public QObject
{
    Q_OBJECT

    ReferenceService service;
    std::unique_ptr<RawTlsServer> server;
    QNetworkAccessManager manager;

    URLConnection* send(ExchangeDelegate& to, QUrl url, QString name, QString secret = {})
    {
        return URLConnection::initWithRequest(
            severityCountRequest(name, secret, url), &to, manager);
    }

private slots:
    void initTestCase()
    {
        QString why;
        const std::optional<TestCertificates> certificates = TestCertificates::make(&why);
        QVERIFY2(certificates, qPrintable(why));
        QVERIFY2(service.isValid() && service.start(), qPrintable(service.errorString()));
        NetworkTrust::addTrustedCertificates(service.caCertificates() << certificates->authority);
        server = std::make_unique<RawTlsServer>(certificates->server, certificates->serverKey);
        QVERIFY(server->listen());
    }

    // The service knows the user only if both values arrive as typed.
    void typedValuesArriveUnchanged()
    {
        const QString name = " a&b=c+d 100% Zoë ", password = "\t%2B&=x пароль🔑?#;/\\\"'<>";
        QVERIFY2(service.addUser(name, password), qPrintable(service.errorString()));
        ExchangeDelegate delegate;
        send(delegate, service.url(), name, password);
        QTRY_COMPARE_WITH_TIMEOUT(delegate.ended,
            QStringList { "counts: Expiring : 0, Critical :0, Expired : 0" }, 30000);
    }

    void answersAreClassified()
    {
        const std::tuple<QByteArray, int, QString> rows[] = {
            { " \n{\"expiring\":2.0,\"critical\":1e20}\r\n", 204,
                "counts: Expiring : 2, Critical :100000000000000000000, Expired : (null)" },
            { R"({"expiring":"%1%3","critical":[1, "%2"],"expired":true})", 200,
                R"(counts: Expiring : %1%3, Critical :[1,"%2"], Expired : 1)" },
            { R"({"expiring":1,"message":"Invalid user"})", 200, "refused: Invalid user" },
            { R"({"message":null})", 503, "refused: <null>" },
            { R"({"expiring":1})", 404, "unreadable" },
            { R"([{"expiring":1}])", 200, "unreadable" },
            // Shown without what would reorder, cut or flood the text around them.
            { "{\"expiring\":\"\\u202e12\",\"expired\":\"\\u05e9\\u05dc\\u05d5\\u05dd\"}", 200,
                "counts: Expiring : 12, Critical :(null), Expired : \u2068שלום\u2069" },
            { "{\"critical\":\"1\\u00002\"}", 200,
                "counts: Expiring : (null), Critical :12, Expired : (null)" },
            { "{\"expiring\":\"" + QByteArray(1000000, '7') + "\"}", 200,
                "counts: Expiring : " + QString(31, u'7')
                    + "…, Critical :(null), Expired : (null)" },
            { "{\"message\":\"Invalid\\nuser " + QByteArray(300000, 'x') + "\"}", 401,
                "refused: Invalid user " + QString(486, u'x') + "…" },
        };
        for (const auto& [answer, status, outcome] : rows)
            QCOMPARE(summary(SeverityCount::classify(answer, status)), outcome);
    }

    void eachRequestHasABufferOfItsOwnThatEachResponseRestartsAndTheCapEnds()
    {
        // Two requests at once, their answers a few bytes at a time.
        const QByteArray answer = "{\"expiring\":1," + QByteArray(200, ' ') + "\"critical\":11}";
        server->setAnswer({ RawTlsServer::Answer::http(200, answer).bytes, 4 });
        ExchangeDelegate delegate;
        send(delegate, server->url(), "first");
        send(delegate, server->url(), "second");
        QTRY_COMPARE_WITH_TIMEOUT(delegate.ended,
            QStringList(2, "counts: Expiring : 1, Critical :11, Expired : (null)"), 60000);

        server->setAnswer({ {}, 0, {}, false, true }); // never answers: only a stop ends it
        URLConnection* connection = send(delegate, server->url(), "held");
        SeverityCountExchange& exchange = delegate.exchange;
        exchange.connectionDidReceiveResponse(connection, { {}, 500, {} });
        exchange.connectionDidReceiveData(connection, "<html>moved</html>");
        exchange.connectionDidReceiveResponse(connection, { {}, 200, {} });
        exchange.connectionDidReceiveData(connection, QByteArray(exchange.MaximumAnswerSize, '['));
        QCOMPARE(exchange.bufferedSize(connection), exchange.MaximumAnswerSize);
        exchange.connectionDidReceiveData(connection, "]"); // past the cap: dropped, and stopped
        QCOMPARE(exchange.bufferedSize(connection), 0);
        QTRY_COMPARE_WITH_TIMEOUT(delegate.ended.value(2), QString("unreadable"), 30000);
        QCOMPARE(exchange.requestsInFlight(), 0);
    }
};

QTEST_MAIN(tst_SeverityCount)
#include "tst_SeverityCount.moc"
