// Notifications to a recording notification service on the tests' bus.

#include "platform/UserNotificationCenter.h"
#include "support/NotificationRecorder.h"

#include <QGuiApplication>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString countsText = QStringLiteral("Expiring : 2, Critical :0, Expired : 5");

} // namespace

class tst_UserNotificationCenter : public QObject
{
    Q_OBJECT

    std::unique_ptr<NotificationRecorder> m_recorder;

private slots:
    void initTestCase()
    {
        QGuiApplication::setApplicationDisplayName(QStringLiteral("tarvenDESK Status Bar"));
        QGuiApplication::setDesktopFileName(QStringLiteral("org.tarvendesk.tarvenDESKStatusBar"));
        m_recorder = std::make_unique<NotificationRecorder>();
        QVERIFY2(m_recorder->waitUntilRegistered(),
            "the recorder never got the notification service's name");
    }

    void init()
    {
        m_recorder->clear();
        m_recorder->setInhibited(false);
    }

    // Each notification takes the place of the last one still shown; a click
    // on the one shown is reported.
    void notificationCarriesTheProgramAndTheTexts()
    {
        m_recorder->setCapabilities({ "body", "sound" });
        UserNotificationCenter* center = UserNotificationCenter::defaultUserNotificationCenter();
        QSignalSpy delivered(center, &UserNotificationCenter::didDeliverNotification);
        const UserNotification notification { "tarvenDESK!", countsText,
            UserNotificationDefaultSoundName };

        center->deliverNotification(notification);
        QVERIFY2(m_recorder->notifications().isEmpty(), "delivery waited for the service");
        QVERIFY(delivered.wait(60000));

        QCOMPARE(m_recorder->notifications().size(), 1);
        const RecordedNotification shown = m_recorder->notifications().first();
        QCOMPARE(shown.appName, QStringLiteral("tarvenDESK Status Bar"));
        QCOMPARE(shown.replacesId, 0u);
        QCOMPARE(shown.appIcon, QStringLiteral("org.tarvendesk.tarvenDESKStatusBar"));
        QCOMPARE(shown.summary, QStringLiteral("tarvenDESK!"));
        QCOMPARE(shown.body, countsText);
        QCOMPARE(shown.actions, QStringList());
        QCOMPARE(shown.hints,
            (QVariantMap { { "desktop-entry", "org.tarvendesk.tarvenDESKStatusBar" },
                { "sound-name", "message-new-instant" },
                { "urgency", QVariant::fromValue(uchar(1)) } }));
        QCOMPARE(shown.expireTimeout, -1);
        QCOMPARE(delivered.first().first().value<UserNotification>(), notification);

        const uint id = m_recorder->notifications().size();
        center->deliverNotification(notification);
        QVERIFY(delivered.wait(60000));
        QCOMPARE(m_recorder->notifications().last().replacesId, id);

        QSignalSpy activated(center, &UserNotificationCenter::didActivateNotification);
        m_recorder->click(id + 1); // not ours
        m_recorder->click(id);
        QVERIFY(activated.wait(60000));
        QCOMPARE(activated.size(), 1);
        // The bus hands the centre the server's signal before its answers to later calls.
        m_recorder->close(id);
        center->deliverNotification(notification);
        QVERIFY(delivered.wait(60000));
        QCOMPARE(m_recorder->notifications().last().replacesId, 0u);
    }

    void bodyAndSoundSuitTheServer_data()
    {
        QTest::addColumn<QStringList>("capabilities");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("soundName");
        QTest::addColumn<QString>("body");
        QTest::addColumn<bool>("playedHere");
        QTest::addColumn<bool>("doNotDisturb");
        const QString sound = UserNotificationDefaultSoundName;
        const QString markup = QStringLiteral("Expiring : <b>2</b>, a & b > c, \"quoted\" 'x'");
        QTest::newRow("no sound capability: played here")
            << QStringList { "body" } << countsText << sound << countsText << true << false;
        QTest::newRow("no sound capability, do-not-disturb: silent")
            << QStringList { "body" } << countsText << sound << countsText << false << true;
        QTest::newRow("server plays it")
            << QStringList { "body", "sound" } << countsText << sound << countsText << false << false;
        QTest::newRow("silent notification")
            << QStringList { "body" } << countsText << QString() << countsText << false << false;
        QTest::newRow("markup server: escaped")
            << QStringList { "body", "body-markup", "sound" } << markup << sound
            << QStringLiteral("Expiring : &lt;b&gt;2&lt;/b&gt;, a &amp; b &gt; c, \"quoted\" 'x'")
            << false << false;
        QTest::newRow("plain server: as it is")
            << QStringList { "body", "sound" } << markup << sound << markup << false << false;
    }

    void bodyAndSoundSuitTheServer()
    {
        QFETCH(QStringList, capabilities);
        QFETCH(QString, text);
        QFETCH(QString, soundName);
        QFETCH(QString, body);
        QFETCH(bool, playedHere);
        QFETCH(bool, doNotDisturb);
        m_recorder->setCapabilities(capabilities);
        m_recorder->setInhibited(doNotDisturb);
        UserNotificationCenter center(QDBusConnection::sessionBus());
        QSignalSpy delivered(&center, &UserNotificationCenter::didDeliverNotification);
        QSignalSpy played(&center, &UserNotificationCenter::didPlayEventSound);

        center.deliverNotification({ "tarvenDESK!", text, soundName });
        QVERIFY(delivered.wait(60000));
        const RecordedNotification shown = m_recorder->notifications().first();
        QCOMPARE(shown.body, body);
        QCOMPARE(shown.hints.value("sound-name").toString(), soundName);
        QCOMPARE(shown.hints.contains("sound-name"), !soundName.isEmpty());
        QCOMPARE(played.size(), playedHere ? 1 : 0);
        if (playedHere)
            QCOMPARE(played.first().first().toString(), QStringLiteral("message-new-instant"));
    }
};

QTEST_MAIN(tst_UserNotificationCenter)
#include "tst_UserNotificationCenter.moc"
