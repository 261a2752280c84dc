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
    const QString status = QString::number(outcome.statusCode);
    return outcome.kind == Kind::Counts ? "counts: " + SeverityCount::notificationText(outcome)
        : outcome.kind == Kind::Refused ? "refused " + status + ": "
            + shownText(SeverityCount::textForm(outcome.message), ShownMessageLength)
                                        : "unreadable " + status;
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
            { " \n{\"expiring\":2.0,\"critical\":1e20,\"expired\":7}\r\n", 204,
                "counts: Expiring : 2, Critical :100000000000000000000, Expired : 7" },
            { "{\"expiring\":1,\"message\":\"Invalid user\"}", 200, "refused 200: Invalid user" },
            { "{\"message\":null}", 503, "refused 503: <null>" },
            { "{\"expiring\":1,\"critical\":2,\"expired\":3}", 404, "unreadable 404" },
            { "[{\"expiring\":1}]", 200, "unreadable 200" },
            { "{}", 200, "unreadable 200" },
            { "{\"error\":\"x\"}", 200, "unreadable 200" },
            { "{\"expiring\":1,\"critical\":\"2\",\"expired\":3}", 200, "unreadable 200" },
            { "{\"expiring\":1,\"critical\":2,\"expired\":null}", 200, "unreadable 200" },
            // Shown without what would reorder, cut or flood the text around them.
            { "{\"expiring\":\"\\u202e12\",\"critical\":1,\"expired\":2}", 200, "unreadable 200" },
            { "{\"expiring\":1e308,\"critical\":1,\"expired\":2}", 200,
                "counts: Expiring : 1" + QString(30, u'0') + "…, Critical :1, Expired : 2" },
            { "{\"message\":\"\\u202e\\u05e9\\u05dc\\u05d5\\u05dd\\u0000!\"}", 401,
                "refused 401: \u2068שלום!\u2069" },
            { "{\"message\":\"Invalid\\nuser " + QByteArray(300000, 'x') + "\"}", 401,
                "refused 401: Invalid user " + QString(486, u'x') + "…" },
        };
        for (const auto& [answer, status, outcome] : rows)
            QCOMPARE(summary(SeverityCount::classify(answer, status)), outcome);
    }

    void eachRequestHasABufferOfItsOwnThatEachResponseRestartsAndTheCapEnds()
    {
        // Two requests at once, their answers a few bytes at a time.
        const QByteArray answer
            = "{\"expiring\":1," + QByteArray(200, ' ') + "\"critical\":11,\"expired\":3}";
        server->setAnswer({ RawTlsServer::Answer::http(200, answer).bytes, 4 });
        ExchangeDelegate delegate;
        send(delegate, server->url(), "first");
        send(delegate, server->url(), "second");
        QTRY_COMPARE_WITH_TIMEOUT(delegate.ended,
            QStringList(2, "counts: Expiring : 1, Critical :11, Expired : 3"), 60000);

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
        QTRY_COMPARE_WITH_TIMEOUT(delegate.ended.value(2), QString("unreadable 200"), 30000);
        QCOMPARE(exchange.requestsInFlight(), 0);
    }
};

QTEST_MAIN(tst_SeverityCount)
#include "tst_SeverityCount.moc"
