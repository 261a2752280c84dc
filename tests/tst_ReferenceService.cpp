// The reference service, run as the programs meet it: a real process serving
// HTTPS on loopback, reached through QNetworkAccessManager and raw sockets
// that trust only the service's own CA.

#include "service/UserStore.h"
#include "support/ReferenceService.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QSslSocket>
#include <QTest>

namespace {

const QDate today(2024, 2, 26); // a week before it, a leap day
const QByteArray path = "/ex-libs/get-severity-count";

QByteArray form(const QString& userName, const QString& password)
{
    return "username=" + QUrl::toPercentEncoding(userName)
        + "&password=" + QUrl::toPercentEncoding(password);
}

struct Answer
{
    int status = 0;
    QByteArray body;
    QString message() const
    {
        return QJsonDocument::fromJson(body).object().value("message").toString();
    }
};

} // namespace

class tst_ReferenceService : public QObject
{
    Q_OBJECT

    ReferenceService m_service;
    QNetworkAccessManager m_network;

    QSslConfiguration trustingTheService() const
    {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(m_service.caCertificates());
        return tls;
    }

    Answer send(
        const QByteArray& body, const QByteArray& method = "POST", const QByteArray& target = path)
    {
        QUrl url = m_service.url();
        url.setPath(QString::fromLatin1(target));
        QNetworkRequest request(url);
        request.setSslConfiguration(trustingTheService());
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
        std::unique_ptr<QNetworkReply> reply(m_network.sendCustomRequest(request, method, body));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        if (!finished.wait(30000))
            qWarning("no answer within 30 s");
        return { reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
            reply->readAll() };
    }

    bool serviceStillAnswers() { return send(form("carol", "carol's password")).status == 200; }

    // Sends raw bytes over TLS; all that comes back until the service closes.
    QByteArray exchangeRaw(const QByteArray& bytes)
    {
        QSslSocket socket;
        socket.setSslConfiguration(trustingTheService());
        socket.connectToHostEncrypted(QStringLiteral("localhost"), m_service.port());
        if (!socket.waitForEncrypted(30000))
            return "no TLS session: " + socket.errorString().toUtf8();
        socket.write(bytes);
        QByteArray received;
        QObject::connect(&socket, &QSslSocket::readyRead, [&] { received += socket.readAll(); });
        QSignalSpy closed(&socket, &QSslSocket::disconnected);
        if (socket.state() != QAbstractSocket::UnconnectedState && !closed.wait(30000))
            qWarning("the service kept the connection open");
        return received + socket.readAll();
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_service.isValid(), qPrintable(m_service.errorString()));
        QVERIFY2(
            m_service.addUser("carol", "carol's password"), qPrintable(m_service.errorString()));
        QVERIFY2(m_service.start(today), qPrintable(m_service.errorString()));
    }

    void countsEachDocumentInTheFirstClassThatFits()
    {
        QVERIFY(m_service.addUser("dora", "pw"));
        QVERIFY(m_service.addUser("eve", "pw"));
        // Added while the service runs: it reads what another process wrote.
        for (const int days : { -400, -1, 0, 7, 8, 30, 31, 365 })
            QVERIFY2(m_service.addDocument(
                         "dora", QStringLiteral("in %1 days").arg(days), today.addDays(days)),
                qPrintable(m_service.errorString()));
        const Answer dora = send(form("dora", "pw"));
        QCOMPARE(dora.status, 200);
        QCOMPARE(dora.body, QByteArray(R"({"expiring":2,"critical":2,"expired":2})"));
        QCOMPARE(
            send(form("eve", "pw")).body, QByteArray(R"({"expiring":0,"critical":0,"expired":0})"));

        // A hash stored with an older, lower iteration count still verifies.
        {
            UserStore store;
            QVERIFY(store.open(m_service.databasePath()));
            QVERIFY(store.setUser("frank", "old pw", nullptr, 100000));
        }
        QCOMPARE(send(form("frank", "old pw")).status, 200);
    }

    void refusalsAreAnsweredWithAMessage_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("named"); // in the message
        const QByteArray carol = form("carol", "carol's password");
        QTest::newRow("unknown user") << form("nobody", "carol's password") << QByteArray("POST")
                                      << path << 401 << "Invalid user name or password.";
        QTest::newRow("wrong password, same message")
            << form("carol", "Carol's password") << QByteArray("POST") << path << 401
            << "Invalid user name or password.";
        QTest::newRow("empty body")
            << QByteArray() << QByteArray("POST") << path << 400 << "username";
        QTest::newRow("GET") << carol << QByteArray("GET") << path << 405 << "";
        QTest::newRow("other path") << carol << QByteArray("POST") << path + "s" << 404 << "";
        QByteArray padded = carol + "&padding=";
        padded += QByteArray(64 * 1024 + 1 - padded.size(), 'x');
        QTest::newRow("body past 64 KiB") << padded << QByteArray("POST") << path << 413 << "";
        QTest::newRow("body of 64 KiB")
            << padded.chopped(1) << QByteArray("POST") << path << 200 << "";
    }

    void refusalsAreAnsweredWithAMessage()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, target);
        QFETCH(int, status);
        QFETCH(QString, named);
        const Answer answer = send(body, method, target);
        QCOMPARE(answer.status, status);
        if (status != 200) {
            QVERIFY2(!answer.message().isEmpty() && answer.message().contains(named),
                answer.body.constData());
            QCOMPARE(
                QJsonDocument::fromJson(answer.body).object().keys(), QStringList { "message" });
        }
    }

    void malformedRequestsAreAnsweredAndTheServiceGoesOn_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");
        const QByteArray post = "POST " + path + " HTTP/1.1\r\nHost: l\r\n";
        QTest::newRow("garbage") << QByteArray("\x01\xff\x00garbage\r\n\r\n", 14) << 400;
        QTest::newRow("negative length") << post + "Content-Length: -1\r\n\r\n" << 400;
        QTest::newRow("two lengths")
            << post + "Content-Length: 1\r\nContent-Length: 2\r\n\r\nab" << 400;
        QTest::newRow("chunked") << post + "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n" << 501;
        QByteArray manyHeaders = post;
        for (int i = 0; i < 20; ++i)
            manyHeaders += "X" + QByteArray::number(i) + ": " + QByteArray(1000, 'a') + "\r\n";
        QTest::newRow("huge head") << manyHeaders + "\r\n" << 431;
        QTest::newRow("huge declared body") << post + "Content-Length: 99999999999\r\n\r\n" << 413;
    }

    void malformedRequestsAreAnsweredAndTheServiceGoesOn()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, status);
        const QByteArray answer = exchangeRaw(bytes);
        QVERIFY2(
            answer.startsWith("HTTP/1.1 " + QByteArray::number(status) + ' '), answer.constData());
        const QByteArray body = answer.mid(answer.indexOf("\r\n\r\n") + 4);
        QVERIFY2(QJsonDocument::fromJson(body).object().contains("message"), body.constData());
        QVERIFY(serviceStillAnswers());
    }

    void plainAndSlowClientsAreDroppedAndDoNotHoldTheService()
    {
        QTcpSocket plain; // speaks HTTP without TLS
        plain.connectToHost(QStringLiteral("127.0.0.1"), m_service.port());
        QVERIFY(plain.waitForConnected(30000));
        plain.write("POST " + path + " HTTP/1.1\r\nHost: l\r\n\r\n");
        QTcpSocket silent; // never starts TLS
        silent.connectToHost(QStringLiteral("127.0.0.1"), m_service.port());
        QVERIFY(silent.waitForConnected(30000));
        QSslSocket slow; // starts a request and never ends it
        slow.setSslConfiguration(trustingTheService());
        slow.connectToHostEncrypted(QStringLiteral("localhost"), m_service.port());
        QVERIFY(slow.waitForEncrypted(30000));
        slow.write("POST " + path + " HTTP/1.1\r\nHost: l\r\nContent-Length: 10\r\n\r\nuser");
        QByteArray slowAnswer;
        connect(&slow, &QSslSocket::readyRead, this, [&] { slowAnswer += slow.readAll(); });

        // Connections that end before their TLS session does, more of them
        // than the service takes at a time: each end frees a place.
        for (int i = 0; i < 40; ++i) {
            QTcpSocket hasty;
            hasty.connectToHost(QStringLiteral("127.0.0.1"), m_service.port());
            QVERIFY(hasty.waitForConnected(30000));
            if (i % 2)
                hasty.write(QByteArray::fromHex("16030100c8010000c40303")); // a ClientHello cut short
            hasty.waitForBytesWritten(1000);
            hasty.abort();
        }

        QVERIFY(serviceStillAnswers());
        for (QAbstractSocket* socket :
            std::initializer_list<QAbstractSocket*> { &plain, &silent, &slow })
            QTRY_VERIFY_WITH_TIMEOUT(socket->state() == QAbstractSocket::UnconnectedState, 40000);
        QVERIFY2(slowAnswer.startsWith("HTTP/1.1 408 "), slowAnswer.constData());
    }

    void checksPastTheQueueAreTurnedAwayAsBusy()
    {
        ReferenceService busy;
        QVERIFY(busy.addUser("ivan", "pw"));
        QVERIFY2(busy.start(today, { "--concurrent-checks", "1", "--check-queue", "0" }),
            qPrintable(busy.errorString()));
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(busy.caCertificates());
        // Wrong passwords: each costs a whole hash, none is remembered.
        const QByteArray body = form("ivan", "wrong");
        const QByteArray request = "POST " + path + " HTTP/1.1\r\nHost: l\r\nContent-Type: "
            "application/x-www-form-urlencoded\r\nContent-Length: " + QByteArray::number(body.size())
            + "\r\n\r\n" + body;
        std::vector<std::unique_ptr<QSslSocket>> sockets;
        for (int i = 0; i < 6; ++i) {
            sockets.push_back(std::make_unique<QSslSocket>());
            sockets.back()->setSslConfiguration(tls);
            sockets.back()->connectToHostEncrypted(QStringLiteral("localhost"), busy.port());
        }
        for (const auto& socket : sockets)
            QVERIFY(socket->waitForEncrypted(30000));
        for (const auto& socket : sockets)
            socket->write(request);
        QMap<QByteArray, int> statuses;
        for (const auto& socket : sockets) {
            QTRY_VERIFY_WITH_TIMEOUT(socket->state() == QAbstractSocket::UnconnectedState, 30000);
            const QByteArray answer = socket->readAll();
            ++statuses[answer.mid(9, 3)];
            if (answer.mid(9, 3) == "503")
                QVERIFY2(answer.contains("Retry-After: 1") && answer.contains("\"message\""),
                    answer.constData());
        }
        QVERIFY2(statuses.value("401") >= 1 && statuses.value("503") >= 1
                && statuses.value("401") + statuses.value("503") == 6,
            qPrintable(QString::number(statuses.value("401")) + " refused, "
                + QString::number(statuses.value("503")) + " busy"));
    }
};

QTEST_GUILESS_MAIN(tst_ReferenceService)
#include "tst_ReferenceService.moc"
