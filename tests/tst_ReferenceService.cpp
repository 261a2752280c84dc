// The reference service, run as the programs meet it: a real process serving
// HTTPS on loopback, here spoken to over raw TLS sockets.

#include "service/UserStore.h"
#include "support/ReferenceService.h"

#include <QElapsedTimer>
#include <QSslSocket>
#include <QTest>
#include <atomic>
#include <thread>
#include <tuple>

namespace {

const QByteArray head = "POST /ex-libs/get-severity-count HTTP/1.1\r\nHost: l\r\n";
const QHostAddress otherClient(QStringLiteral("127.0.0.2"));

QByteArray post(const QByteArray& body, const QByteArray& moreHeaders = {})
{
    return head + moreHeaders
        + "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

// A TLS connection to the service, from this loopback address when given,
// that has started its handshake. The service's own certificate is not what
// these tests are about.
std::unique_ptr<QSslSocket> connected(
    const ReferenceService& service, const QHostAddress& from = {})
{
    auto socket = std::make_unique<QSslSocket>();
    socket->setPeerVerifyMode(QSslSocket::VerifyNone);
    if (!from.isNull())
        socket->bind(from);
    socket->connectToHostEncrypted(
        from.isNull() ? QStringLiteral("localhost") : QStringLiteral("127.0.0.1"), service.port());
    return socket;
}

// ... that has sent these bytes.
std::unique_ptr<QSslSocket> sent(
    const ReferenceService& service, const QByteArray& bytes, const QHostAddress& from = {})
{
    auto socket = connected(service, from);
    socket->waitForEncrypted(30000);
    socket->write(bytes);
    socket->waitForBytesWritten(30000);
    return socket;
}

// 0 when it cannot be read.
qint64 residentKiB(qint64 processId)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(processId));
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.read(64 * 1024) : "";
    return text.mid(text.indexOf("\nVmRSS:") + 8).trimmed().split(' ').value(0).toLongLong();
}

// Whether every socket has closed, or (taken) has either closed or is encrypted.
bool allSettled(const std::vector<std::unique_ptr<QSslSocket>>& sockets, bool taken = false)
{
    return std::all_of(sockets.begin(), sockets.end(), [taken](const auto& socket) {
        return (taken && socket->isEncrypted())
            || socket->state() == QAbstractSocket::UnconnectedState;
    });
}

// All that comes back until the service closes the connection.
QByteArray answer(std::unique_ptr<QSslSocket> socket)
{
    QByteArray received;
    while (socket->waitForReadyRead(30000))
        received += socket->readAll();
    return received + socket->readAll();
}

// The same, with the event loop running meanwhile, so that the fixture goes
// on reading the service's log: a service whose log is not read stops.
QByteArray answerWhileLogged(std::unique_ptr<QSslSocket> socket)
{
    const bool closed = QTest::qWaitFor(
        [&socket] { return socket->state() == QAbstractSocket::UnconnectedState; }, 30000);
    return closed ? socket->readAll() : QByteArray();
}

} // namespace

class tst_ReferenceService : public QObject
{
    Q_OBJECT

private slots:
    // First, more connections that end before their TLS session does than the
    // service takes at a time: each end frees a place.
    void connectionsEndingMidHandshakeThenAnswersAndLimits()
    {
        ReferenceService service;
        QVERIFY2(service.isValid() && service.start(), qPrintable(service.errorString()));
        UserStore store; // a hash of an older, lower iteration count
        QVERIFY(store.open(service.databasePath()));
        QVERIFY(store.setUser("old", "pw", nullptr, 100000));
        for (int i = 0; i < 40; ++i) {
            QTcpSocket hasty;
            hasty.connectToHost(QStringLiteral("127.0.0.1"), service.port());
            QVERIFY(hasty.waitForConnected(30000));
            // Every other one with a ClientHello cut short.
            hasty.write(i % 2 ? QByteArray::fromHex("16030100c8010000c40303") : QByteArray());
            hasty.waitForBytesWritten(1000);
            hasty.abort();
        }
        const QByteArray full
            = "username=old&password=pw&padding=" + QByteArray(64 * 1024 - 33, 'x');
        for (const auto& [bytes, status] :
            QList<std::pair<QByteArray, int>> { { post("username=old&password=pw"), 200 },
                { post(full), 200 }, { post(full + 'x'), 413 },
                { head + "Content-Length: 99999999999\r\n\r\n", 413 },
                { head + ("X: " + QByteArray(1000, 'a') + "\r\n").repeated(20) + "\r\n", 431 },
                { post("username=old&password=pw%00"), 400 },
                { post("username=old&password=pw", "Transfer-Encoding : chunked\r\n"), 400 },
                { post("username=old&password=pw", "Transfer-Encoding:\r\n chunked\r\n"), 400 } }) {
            const QByteArray received = answer(sent(service, bytes));
            QCOMPARE(received.left(12), "HTTP/1.1 " + QByteArray::number(status));
            QVERIFY(received.endsWith(status == 200 ? "\"expired\":0}" : "\"}"));
        }
    }

    // A head of 20,000 lines of 8 KB is refused as it comes, not stored.
    void aHugeHeadIsRefusedAsItComes()
    {
        ReferenceService service;
        QVERIFY2(service.isValid() && service.start(), qPrintable(service.errorString()));
        const qint64 before = residentKiB(service.processId());
        auto huge = sent(service, head);
        const QByteArray line = "X-Filler: " + QByteArray(8000, 'a') + "\r\n";
        for (int i = 0; i < 20000 && huge->state() == QAbstractSocket::ConnectedState; ++i) {
            huge->write(line);
            while (huge->bytesToWrite() + huge->encryptedBytesToWrite() > 256 * 1024
                && huge->waitForBytesWritten(10000)) { }
        }
        answer(std::move(huge));
        const qint64 after = residentKiB(service.processId());
        QVERIFY(before > 0);
        QVERIFY2(
            after - before < 4096, qPrintable(QStringLiteral("%1 KiB more").arg(after - before)));
    }

    // A client of its own, from 127.0.0.2, sends its heads a byte a second on
    // more connections than the service has workers.
    void slowHeadsOfOneClientLeaveTheOthersServed()
    {
        ReferenceService service;
        QVERIFY(service.addUser("ivan", "pw"));
        QVERIFY(service.start());
        const QByteArray request = post("username=ivan&password=pw");
        QVERIFY(
            answer(sent(service, request)).startsWith("HTTP/1.1 200")); // remembered from now on
        std::vector<std::unique_ptr<QSslSocket>> slow;
        for (int i = 0; i < 40; ++i)
            slow.push_back(connected(service, otherClient));
        // Any still connecting wait in the kernel's queue, unseen by the service.
        std::ignore = QTest::qWaitFor([&slow] { return allSettled(slow, true); }, 2000);
        std::vector<bool> taken;
        for (const auto& socket : slow)
            taken.push_back(socket->isEncrypted());

        for (int second = 0; second < 8; ++second) {
            for (const auto& socket : slow)
                if (socket->isEncrypted())
                    socket->write(request.mid(second, 1));
            QElapsedTimer timer;
            timer.start();
            const QByteArray received
                = answerWhileLogged(sent(service, request, QHostAddress::LocalHost));
            const qint64 took = timer.elapsed();
            QVERIFY2(received.startsWith("HTTP/1.1 200") && took < 1000,
                qPrintable(QStringLiteral("after %1 ms: %2").arg(took).arg(received.left(12))));
            QTest::qWait(int(1000 - std::min<qint64>(took, 1000)));
        }
        // Those the service took were answered at the head's deadline.
        QVERIFY(QTest::qWaitFor([&slow] { return allSettled(slow); }, 3000));
        for (std::size_t i = 0; i < slow.size(); ++i)
            if (taken[i])
                QCOMPARE(slow[i]->readAll().left(12), "HTTP/1.1 408");
    }

    // Wrong passwords from 127.0.0.2 on more threads than there are places
    // for checks; a valid user from 127.0.0.1 whose password was never checked
    // before, so that each try costs a hash.
    void passwordFloodOfOneClientLeavesTheOthersServed()
    {
        ReferenceService service;
        UserStore store;
        QVERIFY(service.isValid());
        QVERIFY(store.open(service.databasePath()));
        for (int i = 0; i < 10; ++i)
            QVERIFY(store.setUser(
                QStringLiteral("user%1").arg(i), "pw" + QByteArray::number(i), nullptr, 100000));
        QVERIFY(service.start({}, { "--concurrent-checks", "1", "--check-queue", "2" }));
        std::atomic_bool flooding = true;
        std::vector<std::thread> flood;
        for (int i = 0; i < 4; ++i) {
            flood.emplace_back([&service, &flooding] {
                while (flooding)
                    answer(sent(service, post("username=nobody&password=wrong"), otherClient));
            });
        }
        QTest::qWait(500);
        QByteArray statuses;
        for (int i = 0; i < 10; ++i) {
            const QByteArray received = answerWhileLogged(sent(service,
                post("username=user" + QByteArray::number(i) + "&password=pw"
                    + QByteArray::number(i)),
                QHostAddress::LocalHost));
            statuses += received.mid(9, 3) + (received.endsWith("\"expired\":0}") ? "+ " : " ");
        }
        flooding = false;
        for (std::thread& thread : flood)
            thread.join();
        QVERIFY2(statuses.count("200+") >= 9, statuses.constData());
    }

    void checksPastTheQueueAndAServiceOnATakenPortAreTurnedAway()
    {
        ReferenceService busy;
        QVERIFY(busy.addUser("ivan", "pw"));
        QVERIFY(busy.start({}, { "--concurrent-checks", "1", "--check-queue", "0" }));
        std::vector<std::unique_ptr<QSslSocket>> sockets;
        for (int i = 0; i < 6; ++i) // wrong passwords: each costs a whole hash, none is remembered
            sockets.push_back(sent(busy, post("username=ivan&password=wrong")));
        QByteArray ends; // each status, "+" when it says when to retry, and why
        for (auto& socket : sockets) {
            const QByteArray received = answer(std::move(socket));
            const bool told
                = received.contains("Retry-After: 1") && received.contains("\"message\"");
            ends += received.mid(9, 3) + (told ? "+ " : " ");
        }
        QVERIFY2(ends.contains("401 ") && ends.contains("503+ ")
                && ends.count("401 ") + ends.count("503+ ") == 6,
            ends.constData());

        // A second service on its port is told why it cannot listen.
        const auto second = ReferenceService::run({ "serve", "--listen",
            QStringLiteral("127.0.0.1:%1").arg(busy.port()), "--db", busy.databasePath(), "--cert",
            busy.path("pki/cert.pem"), "--key", busy.path("pki/key.pem") });
        QVERIFY2(second.exitCode == 1
                && second.standardError.contains(
                    ": port " + QByteArray::number(busy.port()) + " is in use by another program"),
            second.standardError.constData());
    }
};

QTEST_GUILESS_MAIN(tst_ReferenceService)
#include "tst_ReferenceService.moc"
