// Notifications to a recording notification service on the tests' bus.

#include "platform/UserNotificationCenter.h"
#include "support/NotificationRecorder.h"

#include <QGuiApplication>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString countsText = QStringLiteral("Expiring : 2, Critical :0, Expired : 5");

UserNotification countsNotification()
{
    return { QStringLiteral("tarvenDESK!"), countsText, UserNotificationDefaultSoundName };
}

} // namespace

class tst_UserNotificationCenter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QGuiApplication::setApplicationDisplayName(QStringLiteral("tarvenDESK Status Bar"));
        QGuiApplication::setDesktopFileName(QStringLiteral("org.tarvendesk.tarvenDESKStatusBar"));
        m_recorder = std::make_unique<NotificationRecorder>();
        QVERIFY2(m_recorder->waitUntilRegistered(),
            "the recorder never got the notification service's name");
    }

    void init() { m_recorder->clear(); }

    void notificationCarriesTheProgramAndTheTexts()
    {
        m_recorder->setCapabilities({ "body", "sound" });
        UserNotificationCenter center(QDBusConnection::sessionBus());
        QSignalSpy delivered(&center, &UserNotificationCenter::didDeliverNotification);
        QSignalSpy played(&center, &UserNotificationCenter::didPlayEventSound);

        center.deliverNotification(countsNotification());
        QVERIFY2(m_recorder->notifications().isEmpty(), "delivery waited for the service");
        QVERIFY(delivered.wait(60000));

        QCOMPARE(m_recorder->notifications().size(), 1);
        const RecordedNotification notification = m_recorder->notifications().first();
        QCOMPARE(notification.appName, QStringLiteral("tarvenDESK Status Bar"));
        QCOMPARE(notification.replacesId, 0u);
        QCOMPARE(notification.appIcon, QStringLiteral("org.tarvendesk.tarvenDESKStatusBar"));
        QCOMPARE(notification.summary, QStringLiteral("tarvenDESK!"));
        QCOMPARE(notification.body, countsText);
        QCOMPARE(notification.actions, QStringList());
        const QVariantMap hints { { "desktop-entry", "org.tarvendesk.tarvenDESKStatusBar" },
            { "sound-name", "message-new-instant" } };
        QCOMPARE(notification.hints, hints);
        QCOMPARE(notification.expireTimeout, -1);
        QCOMPARE(delivered.first().first().value<UserNotification>(), countsNotification());
        QVERIFY2(played.isEmpty(), "a sound was played besides the service's own");
    }

    void serverWithoutSoundsHasTheSoundPlayedHere_data()
    {
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<QString>("soundName");
        QTest::addColumn<bool>("playedHere");
        QTest::newRow("no sound capability")
            << QStringList { "body" } << UserNotificationDefaultSoundName << true;
        QTest::newRow("server plays it")
            << QStringList { "body", "sound" } << UserNotificationDefaultSoundName << false;
        QTest::newRow("silent notification") << QStringList { "body" } << QString() << false;
    }

    void serverWithoutSoundsHasTheSoundPlayedHere()
    {
        QFETCH(QStringList, capabilities);
        QFETCH(QString, soundName);
        QFETCH(bool, playedHere);
        m_recorder->setCapabilities(capabilities);
        UserNotificationCenter center(QDBusConnection::sessionBus());
        QSignalSpy delivered(&center, &UserNotificationCenter::didDeliverNotification);
        QSignalSpy played(&center, &UserNotificationCenter::didPlayEventSound);

        center.deliverNotification({ "tarvenDESK!", countsText, soundName });
        QVERIFY(delivered.wait(60000));
        QCOMPARE(played.size(), playedHere ? 1 : 0);
        if (playedHere)
            QCOMPARE(played.first().first().toString(), QStringLiteral("message-new-instant"));
        const QVariantMap hints = m_recorder->notifications().first().hints;
        QCOMPARE(hints.value("sound-name").toString(), soundName);
        QCOMPARE(hints.contains("sound-name"), !soundName.isEmpty());
    }

    void bodyIsEscapedOnlyForServersThatReadMarkup_data()
    {
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("body");
        const QString text = QStringLiteral("Expiring : <b>2</b>, a & b > c, \"quoted\" 'x'");
        QTest::newRow("markup")
            << QStringList { "body", "body-markup" } << text
            << QStringLiteral("Expiring : &lt;b&gt;2&lt;/b&gt;, a &amp; b &gt; c, \"quoted\" 'x'");
        QTest::newRow("plain") << QStringList { "body" } << text << text;
        QTest::newRow("counts with markup")
            << QStringList { "body", "body-markup" } << countsText << countsText;
    }

    void bodyIsEscapedOnlyForServersThatReadMarkup()
    {
        QFETCH(QStringList, capabilities);
        QFETCH(QString, text);
        QFETCH(QString, body);
        m_recorder->setCapabilities(capabilities);
        UserNotificationCenter center(QDBusConnection::sessionBus());
        QSignalSpy delivered(&center, &UserNotificationCenter::didDeliverNotification);
        center.deliverNotification({ "tarvenDESK!", text, UserNotificationDefaultSoundName });
        QVERIFY(delivered.wait(60000));
        QCOMPARE(m_recorder->notifications().first().body, body);
        QCOMPARE(m_recorder->notifications().first().summary, QStringLiteral("tarvenDESK!"));
    }

    void defaultCenterIsOneOnTheSessionBus()
    {
        UserNotificationCenter* center = UserNotificationCenter::defaultUserNotificationCenter();
        QVERIFY(center);
        QCOMPARE(UserNotificationCenter::defaultUserNotificationCenter(), center);
        QSignalSpy delivered(center, &UserNotificationCenter::didDeliverNotification);
        center->deliverNotification(countsNotification());
        QVERIFY(delivered.wait(60000));
        QCOMPARE(m_recorder->notifications().size(), 1);
    }

private:
    std::unique_ptr<NotificationRecorder> m_recorder;
};

QTEST_MAIN(tst_UserNotificationCenter)
#include "tst_UserNotificationCenter.moc"
