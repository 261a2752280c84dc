// The reference service, run as the programs meet it: a real process serving
// HTTPS on loopback, reached through QNetworkAccessManager and raw TLS
// sockets that trust only the service's own CA.

#include "support/ReferenceService.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTest>

namespace {

const QDate today(2024, 2, 26); // a week before it, a leap day
const QByteArray formType = "application/x-www-form-urlencoded";

QByteArray form(const QString& userName, const QString& password)
{
    return "username=" + QUrl::toPercentEncoding(userName) + "&password=" + QUrl::toPercentEncoding(password);
}

struct Answer
{
    int status = 0;
    QByteArray body;
    QJsonObject json;
    QString message() const { return json.value(QStringLiteral("message")).toString(); }
};

} // namespace

class tst_ReferenceService : public QObject
{
    Q_OBJECT

private:
    ReferenceService m_service;
    QNetworkAccessManager m_network;

    Answer send(const QByteArray& method, const QByteArray& body, const QUrl& url = {},
        const QByteArray& contentType = formType)
    {
        QNetworkRequest request(url.isEmpty() ? m_service.url() : url);
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(m_service.caCertificates());
        request.setSslConfiguration(tls);
        request.setHeader(QNetworkRequest::ContentTypeHeader, contentType);
        std::unique_ptr<QNetworkReply> reply(m_network.sendCustomRequest(request, method, body));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        if (!finished.wait(30000))
            qWarning("no answer within 30 s");
        Answer answer;
        answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        answer.body = reply->readAll();
        answer.json = QJsonDocument::fromJson(answer.body).object();
        if (answer.status == 0)
            qWarning("transport failure: %s", qPrintable(reply->errorString()));
        return answer;
    }
    Answer post(const QByteArray& body) { return send("POST", body); }

    // Sends raw bytes over TLS and returns all that comes back until the
    // service closes the connection.
    QByteArray exchangeRaw(const QByteArray& bytes, int waitMs = 30000)
    {
        QSslSocket socket;
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(m_service.caCertificates());
        socket.setSslConfiguration(tls);
        socket.connectToHostEncrypted(QStringLiteral("localhost"), m_service.port());
        if (!socket.waitForEncrypted(30000)) {
            qWarning("no TLS session: %s", qPrintable(socket.errorString()));
            return {};
        }
        socket.write(bytes);
        QByteArray received;
        QObject::connect(&socket, &QSslSocket::readyRead, [&] { received += socket.readAll(); });
        QSignalSpy closed(&socket, &QSslSocket::disconnected);
        if (socket.state() != QAbstractSocket::UnconnectedState && !closed.wait(waitMs))
            qWarning("the service kept the connection open");
        return received + socket.readAll();
    }

    bool serviceStillAnswers()
    {
        const Answer answer = post(form(QStringLiteral("carol"), QStringLiteral("carol's password")));
        return answer.status == 200;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_service.isValid(), qPrintable(m_service.errorString()));
        QVERIFY2(m_service.addUser(QStringLiteral("carol"), QStringLiteral("carol's password")),
            qPrintable(m_service.errorString()));
        QVERIFY2(m_service.start(today), qPrintable(m_service.errorString()));
    }

    void countsEachDocumentInTheFirstClassThatFits()
    {
        QVERIFY(m_service.addUser(QStringLiteral("dora"), QStringLiteral("pw")));
        QVERIFY(m_service.addUser(QStringLiteral("eve"), QStringLiteral("pw")));
        // Added while the service runs: it reads what another process wrote.
        const QList<int> offsets { -400, -1, 0, 7, 8, 30, 31, 365 };
        for (const int days : offsets)
            QVERIFY2(m_service.addDocument(QStringLiteral("dora"), QStringLiteral("in %1 days").arg(days), today.addDays(days)),
                qPrintable(m_service.errorString()));

        const Answer dora = post(form(QStringLiteral("dora"), QStringLiteral("pw")));
        QCOMPARE(dora.status, 200);
        QCOMPARE(dora.body, QByteArray(R"({"expiring":2,"critical":2,"expired":2})"));

        const Answer eve = post(form(QStringLiteral("eve"), QStringLiteral("pw")));
        QCOMPARE(eve.status, 200);
        QCOMPARE(eve.body, QByteArray(R"({"expiring":0,"critical":0,"expired":0})"));
    }

    void unknownUserAndWrongPasswordGetTheSameMessage()
    {
        const Answer unknown = post(form(QStringLiteral("nobody"), QStringLiteral("carol's password")));
        const Answer wrong = post(form(QStringLiteral("carol"), QStringLiteral("Carol's password")));
        QCOMPARE(unknown.status, 401);
        QCOMPARE(wrong.status, 401);
        QVERIFY2(!unknown.message().isEmpty(), unknown.body.constData());
        QCOMPARE(wrong.message(), unknown.message());
        QCOMPARE(wrong.json.keys(), QStringList { QStringLiteral("message") });
    }

    void missingFieldsAreRefusedWithAMessage_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("named");
        QTest::newRow("empty body") << QByteArray() << "username";
        QTest::newRow("no password") << QByteArray("username=carol") << "password";
        QTest::newRow("empty password") << QByteArray("username=carol&password=") << "password";
        QTest::newRow("no user name") << QByteArray("password=x") << "username";
        QTest::newRow("misspelt field") << QByteArray("user=carol&password=x") << "username";
    }

    void missingFieldsAreRefusedWithAMessage()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, named);
        const Answer answer = post(body);
        QCOMPARE(answer.status, 400);
        QVERIFY2(answer.message().contains(named), answer.body.constData());
    }

    void otherPathsAndMethodsAreRefusedWithAMessage_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        QTest::newRow("GET") << QByteArray("GET") << "/ex-libs/get-severity-count" << 405;
        QTest::newRow("PUT") << QByteArray("PUT") << "/ex-libs/get-severity-count" << 405;
        QTest::newRow("other path") << QByteArray("POST") << "/ex-libs/get-severity-counts" << 404;
        QTest::newRow("root") << QByteArray("GET") << "/" << 404;
    }

    void otherPathsAndMethodsAreRefusedWithAMessage()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(int, status);
        QUrl url = m_service.url();
        url.setPath(path);
        const Answer answer = send(method, form(QStringLiteral("carol"), QStringLiteral("carol's password")), url);
        QCOMPARE(answer.status, status);
        QVERIFY2(!answer.message().isEmpty(), answer.body.constData());
    }

    void typedCharactersArriveUnchanged_data()
    {
        QTest::addColumn<QString>("userName");
        QTest::addColumn<QString>("password");
        QTest::newRow("ampersand and equals") << "a&b=c" << "&=&password=x";
        QTest::newRow("plus and percent") << "plus+percent%" << "100%+1 %41%2B";
        QTest::newRow("spaces") << " spaced  name " << "  two  spaces  ";
        QTest::newRow("non-ASCII") << "Zoë Ünïcødé 日本" << "пароль ключ ✓";
        QTest::newRow("looks like a field") << "x&username=carol" << "y&password=carol's password";
    }

    void typedCharactersArriveUnchanged()
    {
        QFETCH(QString, userName);
        QFETCH(QString, password);
        QVERIFY2(m_service.addUser(userName, password), qPrintable(m_service.errorString()));
        QCOMPARE(post(form(userName, password)).status, 200);
        QCOMPARE(post(form(userName, password + QLatin1Char(' '))).status, 401);
    }

    void plusInAFormIsASpace()
    {
        QVERIFY(m_service.addUser(QStringLiteral("first last"), QStringLiteral("a b")));
        QCOMPARE(post("username=first+last&password=a+b").status, 200);
        QCOMPARE(post("username=first%20last&password=a%20b").status, 200);
    }

    void addingAUserAgainReplacesThePassword()
    {
        QVERIFY(m_service.addUser(QStringLiteral("frank"), QStringLiteral("old")));
        QVERIFY(m_service.addDocument(QStringLiteral("frank"), QStringLiteral("licence"), today));
        QVERIFY(m_service.addUser(QStringLiteral("frank"), QStringLiteral("new")));
        QCOMPARE(post(form(QStringLiteral("frank"), QStringLiteral("old"))).status, 401);
        const Answer answer = post(form(QStringLiteral("frank"), QStringLiteral("new")));
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.json.value(QStringLiteral("critical")).toInt(), 1);
    }

    void passwordsAreNotStoredAndNotLogged()
    {
        const QString password = QStringLiteral("a password nobody may read");
        QVERIFY(m_service.addUser(QStringLiteral("grace"), password));
        QCOMPARE(post(form(QStringLiteral("grace"), password)).status, 200);
        for (const QString& suffix : { QString(), QStringLiteral("-wal") }) {
            QFile file(m_service.databasePath() + suffix);
            if (file.open(QIODevice::ReadOnly))
                QVERIFY2(!file.readAll().contains(password.toUtf8()), qPrintable(file.fileName()));
        }
        QCOMPARE(QFileInfo(m_service.databasePath()).permissions() & (QFile::ReadOther | QFile::ReadGroup), 0);
        QTRY_VERIFY(!m_service.requestLines().isEmpty());
        for (const QString& line : m_service.requestLines()) {
            QVERIFY2(!line.contains(QStringLiteral("grace")) && !line.contains(QStringLiteral("password")),
                qPrintable(line));
        }
    }

    void everyAnswerIsLoggedOnce()
    {
        const int before = m_service.requestCount();
        post(form(QStringLiteral("carol"), QStringLiteral("carol's password")));
        post(form(QStringLiteral("carol"), QStringLiteral("wrong")));
        QTRY_COMPARE(m_service.requestCount(), before + 2);
        const QStringList lines = m_service.requestLines();
        QCOMPARE(lines.at(before), QStringLiteral("POST /ex-libs/get-severity-count 200"));
        QCOMPARE(lines.at(before + 1), QStringLiteral("POST /ex-libs/get-severity-count 401"));
    }

    void bodiesAreBoundedAt64KiB()
    {
        QByteArray body = form(QStringLiteral("carol"), QStringLiteral("carol's password")) + "&padding=";
        body += QByteArray(64 * 1024 - body.size(), 'x');
        QCOMPARE(post(body).status, 200);
        const Answer tooLarge = post(body + 'x');
        QCOMPARE(tooLarge.status, 413);
        QVERIFY2(!tooLarge.message().isEmpty(), tooLarge.body.constData());
        QVERIFY(serviceStillAnswers());
    }

    void malformedRequestsAreAnsweredAndTheServiceGoesOn_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");
        const QByteArray path = "/ex-libs/get-severity-count";
        QTest::newRow("garbage") << QByteArray("\x01\xff\x00garbage\r\n\r\n", 14) << 400;
        QTest::newRow("no version") << QByteArray("POST " + path + "\r\n\r\n") << 400;
        QTest::newRow("relative target") << QByteArray("POST ex-libs HTTP/1.1\r\nHost: l\r\n\r\n") << 400;
        QTest::newRow("no host") << QByteArray("POST " + path + " HTTP/1.1\r\n\r\n") << 400;
        QTest::newRow("HTTP/2.0") << QByteArray("POST " + path + " HTTP/2.0\r\nHost: l\r\n\r\n") << 505;
        QTest::newRow("header without colon") << QByteArray("POST " + path + " HTTP/1.1\r\nHost l\r\n\r\n") << 400;
        QTest::newRow("negative length")
            << QByteArray("POST " + path + " HTTP/1.1\r\nHost: l\r\nContent-Length: -1\r\n\r\n") << 400;
        QTest::newRow("two lengths") << QByteArray("POST " + path
                + " HTTP/1.1\r\nHost: l\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab") << 400;
        QTest::newRow("chunked") << QByteArray("POST " + path
                + " HTTP/1.1\r\nHost: l\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n") << 501;
        QTest::newRow("huge head")
            << QByteArray("POST " + path + " HTTP/1.1\r\nHost: l\r\nX: " + QByteArray(17 * 1024, 'a') + "\r\n\r\n")
            << 431;
        QTest::newRow("huge declared body")
            << QByteArray("POST " + path + " HTTP/1.1\r\nHost: l\r\nContent-Length: 99999999999\r\n\r\n") << 413;
    }

    void malformedRequestsAreAnsweredAndTheServiceGoesOn()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, status);
        const QByteArray answer = exchangeRaw(bytes);
        QVERIFY2(answer.startsWith("HTTP/1.1 " + QByteArray::number(status) + ' '), answer.constData());
        const QByteArray body = answer.mid(answer.indexOf("\r\n\r\n") + 4);
        QVERIFY2(QJsonDocument::fromJson(body).object().contains(QStringLiteral("message")), body.constData());
        QVERIFY(serviceStillAnswers());
    }

    void plainBytesInsteadOfTlsDoNotHurtTheService()
    {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), m_service.port());
        QVERIFY(socket.waitForConnected(30000));
        socket.write("POST /ex-libs/get-severity-count HTTP/1.1\r\nHost: l\r\n\r\n");
        QSignalSpy closed(&socket, &QTcpSocket::disconnected);
        QVERIFY2(closed.wait(30000), "the service kept a connection that spoke no TLS");
        QVERIFY(serviceStillAnswers());
    }

    void slowClientsAreDroppedAndDoNotHoldTheService()
    {
        QTcpSocket silent; // never starts TLS
        silent.connectToHost(QStringLiteral("127.0.0.1"), m_service.port());
        QVERIFY(silent.waitForConnected(30000));
        QSslSocket slow; // starts a request and never ends it
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(m_service.caCertificates());
        slow.setSslConfiguration(tls);
        slow.connectToHostEncrypted(QStringLiteral("localhost"), m_service.port());
        QVERIFY(slow.waitForEncrypted(30000));
        slow.write("POST /ex-libs/get-severity-count HTTP/1.1\r\nHost: l\r\nContent-Length: 10\r\n\r\nuser");
        QByteArray slowAnswer;
        connect(&slow, &QSslSocket::readyRead, this, [&] { slowAnswer += slow.readAll(); });

        QVERIFY(serviceStillAnswers());
        QTRY_VERIFY_WITH_TIMEOUT(silent.state() == QAbstractSocket::UnconnectedState, 40000);
        QTRY_VERIFY_WITH_TIMEOUT(slow.state() == QAbstractSocket::UnconnectedState, 40000);
        QVERIFY2(slowAnswer.startsWith("HTTP/1.1 408 "), slowAnswer.constData());
    }

    void makeCertWritesALoopbackCertificateAndAPrivateKey()
    {
        QTemporaryDir dir;
        const ReferenceService::Run run = ReferenceService::run({ QStringLiteral("make-cert"), QStringLiteral("--out"), dir.path() });
        QCOMPARE(run.exitCode, 0);
        const QList<QSslCertificate> certificates = QSslCertificate::fromPath(dir.filePath(QStringLiteral("cert.pem")));
        QCOMPARE(certificates.size(), 1);
        const auto names = certificates.first().subjectAlternativeNames();
        QCOMPARE(names.values(QSsl::DnsEntry), QStringList { QStringLiteral("localhost") });
        QList<QHostAddress> addresses;
        for (const QString& address : names.values(QSsl::IpAddressEntry))
            addresses.append(QHostAddress(address));
        QCOMPARE(addresses.size(), 2);
        QVERIFY(addresses.contains(QHostAddress(QHostAddress::LocalHost)));
        QVERIFY(addresses.contains(QHostAddress(QHostAddress::LocalHostIPv6)));
        const QList<QSslCertificate> ca = QSslCertificate::fromPath(dir.filePath(QStringLiteral("ca.pem")));
        QCOMPARE(ca.size(), 1);
        QCOMPARE(certificates.first().issuerInfo(QSslCertificate::CommonName), ca.first().subjectInfo(QSslCertificate::CommonName));
        QCOMPARE(QFileInfo(dir.filePath(QStringLiteral("key.pem"))).permissions() & ~(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser),
            QFile::Permissions());
    }

    void badCommandLinesExitWithTwoAndSayWhy_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("named");
        const QString db = m_service.databasePath();
        const QString cert = QFileInfo(m_service.caPath()).dir().filePath(QStringLiteral("cert.pem"));
        const QString key = QFileInfo(m_service.caPath()).dir().filePath(QStringLiteral("key.pem"));
        const auto serve = [&](const QString& listen) {
            return QStringList { "serve", "--listen", listen, "--db", db, "--cert", cert, "--key", key };
        };
        QTest::newRow("impossible date") << QStringList { "add-document", "--db", db, "carol", "visa", "2023-02-29" }
                                         << QByteArray() << "2023-02-29";
        QTest::newRow("short date") << QStringList { "add-document", "--db", db, "carol", "visa", "2024-3-1" }
                                    << QByteArray() << "2024-3-1";
        QTest::newRow("unknown user") << QStringList { "add-document", "--db", db, "zed", "visa", "2024-03-01" }
                                      << QByteArray() << "zed";
        QTest::newRow("empty password") << QStringList { "add-user", "--db", db, "hal" } << QByteArray("\n") << "password";
        QTest::newRow("no password") << QStringList { "add-user", "--db", db, "hal" } << QByteArray() << "password";
        QTest::newRow("empty name") << QStringList { "add-user", "--db", db, "" } << QByteArray("pw\n") << "name";
        QTest::newRow("no database") << QStringList { "add-user", "hal" } << QByteArray("pw\n") << "--db";
        QTest::newRow("two names") << QStringList { "add-user", "--db", db, "a", "b" } << QByteArray("pw\n") << "NAME";
        QTest::newRow("every address") << serve("0.0.0.0:0") << QByteArray() << "0.0.0.0";
        QTest::newRow("network address") << serve("192.168.1.10:0") << QByteArray() << "192.168.1.10";
        QTest::newRow("IPv6 any") << serve("[::]:0") << QByteArray() << "[::]";
        QTest::newRow("host name") << serve("example.com:443") << QByteArray() << "example.com";
        QTest::newRow("no port") << serve("127.0.0.1") << QByteArray() << "127.0.0.1";
        QTest::newRow("bad today") << serve("127.0.0.1:0") + QStringList { "--today", "today" } << QByteArray() << "today";
        QTest::newRow("key of another") << QStringList { "serve", "--listen", "127.0.0.1:0", "--db", db, "--cert",
            m_service.caPath(), "--key", key } << QByteArray() << "key";
        QTest::newRow("unknown command") << QStringList { "remove-user" } << QByteArray() << "remove-user";
        QTest::newRow("unknown option") << QStringList { "make-cert", "--out", "x", "--force" } << QByteArray() << "force";
    }

    void badCommandLinesExitWithTwoAndSayWhy()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        QFETCH(QString, named);
        const ReferenceService::Run run = ReferenceService::run(arguments, input);
        const QString error = QString::fromUtf8(run.standardError);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(error.startsWith(QStringLiteral("tarvendesk-service: ")) && error.count(u'\n') == 1, qPrintable(error));
        QVERIFY2(error.contains(named), qPrintable(error));
        QVERIFY(run.standardOutput.isEmpty());
    }

    void helpShowsTheUsage()
    {
        const ReferenceService::Run run = ReferenceService::run({ QStringLiteral("add-user"), QStringLiteral("--help") });
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.standardOutput.contains("tarvendesk-service serve --listen"), run.standardOutput.constData());
    }
};

QTEST_GUILESS_MAIN(tst_ReferenceService)
#include "tst_ReferenceService.moc"
