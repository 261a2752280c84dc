// The severity-count exchange: the request, what each kind of answer means and
// the texts made of it, against the reference service and a TLS server of the
// test that sends what no real service would; each request's answer collected
// on its own.

#include "common/SeverityCountAnswer.h"
#include "common/SeverityCountExchange.h"
#include "common/SeverityCountRequest.h"
#include "platform/NetworkTrust.h"
#include "support/RawTlsServer.h"
#include "support/ReferenceService.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QTest>
#include <memory>

using namespace std::chrono_literals;
using Kind = ExchangeOutcome::Kind;

namespace {

// Forwards to the exchange as each program's AppDelegate does, and records.
class ExchangeDelegate : public URLConnectionDelegate
{
public:
    SeverityCountExchange exchange;
    QList<std::pair<QByteArray, ExchangeOutcome>> outcomes; // request body, outcome
    QList<Error> failures;

    qsizetype ended() const { return outcomes.size() + failures.size(); }

    void connectionDidReceiveResponse(URLConnection* connection, const URLResponse& response) override
    {
        exchange.connectionDidReceiveResponse(connection, response);
    }
    void connectionDidReceiveData(URLConnection* connection, const QByteArray& data) override
    {
        exchange.connectionDidReceiveData(connection, data);
    }
    std::optional<URLResponse> connectionWillCacheResponse(
        URLConnection*, const URLResponse&) override
    {
        return std::nullopt;
    }
    void connectionDidFinishLoading(URLConnection* connection) override
    {
        outcomes.append({ connection->originalRequest().body,
            exchange.connectionDidFinishLoading(connection) });
    }
    void connectionDidFailWithError(URLConnection* connection, const Error& error) override
    {
        exchange.connectionDidFailWithError(connection);
        failures.append(error);
    }
};

// What a test compares: the kind, and the text a program would show for it.
QString summary(const ExchangeOutcome& outcome)
{
    switch (outcome.kind) {
    case Kind::Counts:
        return "counts: " + SeverityCount::notificationText(outcome);
    case Kind::Refused:
        return "refused: " + SeverityCount::textForm(outcome.message);
    case Kind::Unreadable:
        break;
    }
    return QStringLiteral("unreadable");
}

QString summary(const ExchangeDelegate& delegate)
{
    return delegate.failures.isEmpty()
        ? summary(delegate.outcomes.value(0).second)
        : "failure: " + delegate.failures.first().localizedDescription();
}

} // namespace

class tst_SeverityCount : public QObject
{
    Q_OBJECT

    std::optional<TestCertificates> certificates;
    std::unique_ptr<RawTlsServer> server;
    ReferenceService service;
    QNetworkAccessManager manager;

    static constexpr qsizetype cap = SeverityCountExchange::MaximumAnswerSize;

    URLConnection* send(const QString& userName, ExchangeDelegate& delegate,
        const QString& password = "secret", const QUrl& url = {})
    {
        return URLConnection::initWithRequest(
            severityCountRequest(userName, password, url.isEmpty() ? server->url() : url),
            &delegate, manager);
    }

    URLConnection* sendToSilentServer(ExchangeDelegate& delegate)
    {
        RawTlsServer::Answer silent;
        silent.silent = true;
        server->setAnswer(silent);
        return send("held", delegate);
    }

private slots:
    void initTestCase()
    {
        QString why;
        certificates = TestCertificates::make(&why);
        QVERIFY2(certificates, qPrintable(why));
        QVERIFY2(service.isValid() && service.start(), qPrintable(service.errorString()));
        NetworkTrust::addTrustedCertificates(
            service.caCertificates() + QList { certificates->authority });
        server = std::make_unique<RawTlsServer>(certificates->server, certificates->serverKey);
        QVERIFY(server->listen());
    }

    // The service knows the user only if both values arrive as typed.
    void typedValuesArriveUnchanged()
    {
        for (const auto& [name, password] :
            QList<std::pair<QString, QString>> { { "a&b=c", "&password=x" }, { "jo hn+doe", "+ +" },
                { "100%", "%41%2B%" }, { " Zoë ", "\tпароль🔑?#;/\\\"'<>" } }) {
            QVERIFY2(service.addUser(name, password), qPrintable(service.errorString()));
            ExchangeDelegate delegate;
            send(name, delegate, password, service.url());
            QTRY_COMPARE_WITH_TIMEOUT(delegate.ended(), 1, 30000);
            QCOMPARE(summary(delegate), QString("counts: Expiring : 0, Critical :0, Expired : 0"));
        }
    }

    void answersAreClassified_data()
    {
        const QString none = "counts: Expiring : (null), Critical :(null), Expired : (null)";
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("counts") << QByteArray(R"({"expiring":2,"critical":0,"expired":5})") << 200
                                << "counts: Expiring : 2, Critical :0, Expired : 5";
        QTest::newRow("message beside counts")
            << QByteArray(R"({"expiring":1,"message":"Invalid user"})") << 200
            << "refused: Invalid user";
        QTest::newRow("null message") << QByteArray(R"({"message":null})") << 200 << "refused: <null>";
        QTest::newRow("empty object") << QByteArray("{}") << 204 << none;
        QTest::newRow("array") << QByteArray(R"([{"expiring":1}])") << 200 << "unreadable";
        QTest::newRow("empty object in a 500") << QByteArray("{}") << 500 << "unreadable";
        QTest::newRow("counts in a 404")
            << QByteArray(R"({"expiring":1})") << 404 << "unreadable";
        QTest::newRow("message in a 503") << QByteArray(R"({"message":"busy"})") << 503
                                          << "refused: busy";
        QTest::newRow("blanks around an object")
            << QByteArray(" \n{\"critical\":3}\r\n") << 200
            << "counts: Expiring : (null), Critical :3, Expired : (null)";
        QTest::newRow("values like placeholders")
            << QByteArray(R"({"expiring":"%2","critical":"%1%3","expired":"%@"})") << 200
            << "counts: Expiring : %2, Critical :%1%3, Expired : %@";
        QTest::newRow("two objects") << QByteArray("{}{}") << 200 << "unreadable";
    }

    void answersAreClassified()
    {
        QFETCH(QByteArray, answer);
        QFETCH(int, status);
        QFETCH(QString, outcome);
        QCOMPARE(summary(SeverityCount::classify(answer, status)), outcome);
    }

    void valuesHaveTheirTextForms_data()
    {
        QTest::addColumn<QByteArray>("json"); // the value of "v"; empty for a missing member
        QTest::addColumn<QString>("text");
        QTest::newRow("missing") << QByteArray() << "(null)";
        QTest::newRow("null") << QByteArray("null") << "<null>";
        QTest::newRow("integral double") << QByteArray("2.0") << "2";
        QTest::newRow("exponent") << QByteArray("1e20") << "100000000000000000000";
        QTest::newRow("beyond a double's precision")
            << QByteArray("9007199254740993") << "9007199254740993";
        QTest::newRow("true") << QByteArray("true") << "1";
        QTest::newRow("array") << QByteArray(R"([1, "a"])") << R"([1,"a"])";
    }

    void valuesHaveTheirTextForms()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, text);
        const QJsonObject members
            = QJsonDocument::fromJson("{" + (json.isEmpty() ? "" : "\"v\":" + json) + "}").object();
        QCOMPARE(SeverityCount::textForm(members.value("v")), text);
    }

    void overlappingRequestsEachClassifyTheirOwnAnswer()
    {
        auto countsFor = [](const QByteArray& requestBody) {
            return requestBody.startsWith("username=first")
                ? QByteArray(R"({"expiring":1,"critical":11,"expired":111})")
                : QByteArray(R"({"expiring":2,"critical":22,"expired":222})");
        };
        server->setAnswerer([countsFor](const RawTlsServer::Request& request) {
            return RawTlsServer::Answer {
                RawTlsServer::Answer::http(200, countsFor(request.body)).bytes, 4, 10ms
            };
        });
        ExchangeDelegate delegate;
        send("first", delegate);
        send("second", delegate);
        QTRY_COMPARE_WITH_TIMEOUT(delegate.ended(), 2, 60000);

        QVERIFY2(delegate.failures.isEmpty(), qPrintable(summary(delegate)));
        for (const auto& [body, outcome] : delegate.outcomes)
            QCOMPARE(summary(outcome), summary(SeverityCount::classify(countsFor(body), 200)));
    }

    void eachResponseRestartsTheBufferAndOnePastTheCapIsDropped()
    {
        ExchangeDelegate delegate;
        URLConnection* connection = sendToSilentServer(delegate);
        SeverityCountExchange& exchange = delegate.exchange;
        exchange.connectionDidReceiveResponse(connection, { {}, 500, {} });
        exchange.connectionDidReceiveData(connection, "<html>moved</html>");
        exchange.connectionDidReceiveResponse(connection, { {}, 200, {} });
        exchange.connectionDidReceiveData(connection, R"({"expiring":)");
        exchange.connectionDidReceiveData(connection, "3}");
        QCOMPARE(summary(exchange.connectionDidFinishLoading(connection)),
            QString("counts: Expiring : 3, Critical :(null), Expired : (null)"));
        QCOMPARE(exchange.requestsInFlight(), 0);
        connection->stopLoading();
        QTRY_COMPARE(delegate.ended(), 1);

        ExchangeDelegate capped;
        connection = sendToSilentServer(capped);
        capped.exchange.connectionDidReceiveResponse(connection, { {}, 200, {} });
        capped.exchange.connectionDidReceiveData(connection, QByteArray(cap - 2, '['));
        capped.exchange.connectionDidReceiveData(connection, "[]");
        QCOMPARE(capped.exchange.bufferedSize(connection), cap);
        capped.exchange.connectionDidReceiveData(connection, "]");
        QCOMPARE(capped.exchange.bufferedSize(connection), 0);
        // The silent server never ends the answer: only the stop can.
        QTRY_COMPARE_WITH_TIMEOUT(capped.ended(), 1, 30000);
        QCOMPARE(summary(capped), QString("unreadable"));
        QCOMPARE(capped.exchange.requestsInFlight(), 0);
    }
};

QTEST_MAIN(tst_SeverityCount)
#include "tst_SeverityCount.moc"
