// Notifications to a recording notification service on a bus of the test's own, and to none
// once it has gone.

#include "platform/UserNotificationCenter.h"
#include "support/NotificationRecorder.h"

#include <QDBusConnectionInterface>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTest>

static const QString countsText = QStringLiteral("Expiring : 2, Critical :0, Expired : 5");
static const QString entry = QStringLiteral("org.tarvendesk.tarvenDESKStatusBar");

class tst_UserNotificationCenter : public QObject
{
    Q_OBJECT

    std::unique_ptr<NotificationRecorder> m_recorder
        = std::make_unique<NotificationRecorder>(QStringList { "body", "sound" });

private slots:
    void initTestCase()
    {
        QGuiApplication::setApplicationDisplayName(QStringLiteral("tarvenDESK Status Bar"));
        QGuiApplication::setDesktopFileName(entry);
        QVERIFY(m_recorder->waitUntilRegistered());
    }

    // Delivery does not wait for the service. Each notification takes the place of the last one
    // still shown; a click on the one shown is reported. Its body is shown as given, also by a
    // server that reads markup.
    void notificationCarriesTheProgramAndTakesTheLastOnesPlace()
    {
        const QString sound = UserNotificationDefaultSoundName;
        const QString markup = QStringLiteral("Expiring : <b>2</b>, a & b > c, \"quoted\" 'x'");
        UserNotificationCenter* center = UserNotificationCenter::defaultUserNotificationCenter();
        QSignalSpy delivered(center, &UserNotificationCenter::didDeliverNotification);
        QSignalSpy activated(center, &UserNotificationCenter::didActivateNotification);
        center->deliverNotification({ "tarvenDESK!", countsText, sound });
        QVERIFY(delivered.wait(60000));
        const QVariantMap hints { { "desktop-entry", entry }, { "sound-name", sound },
            { "urgency", QVariant::fromValue(uchar(1)) } };
        QCOMPARE(m_recorder->notifications,
            (QList<RecordedNotification> {
                { "tarvenDESK Status Bar", 0, entry, "tarvenDESK!", countsText, {}, hints, -1 } }));

        m_recorder->capabilities << "body-markup";
        center->deliverNotification({ "tarvenDESK!", markup, sound });
        QVERIFY(delivered.wait(60000));
        QCOMPARE(m_recorder->notifications.last().replacesId, 1u);
        QCOMPARE(m_recorder->notifications.last().body,
            "Expiring : &lt;b&gt;2&lt;/b&gt;, a &amp; b &gt; c, \"quoted\" 'x'");
        m_recorder->click(2); // not ours
        m_recorder->click(1);
        QVERIFY(activated.wait(60000));
        QCOMPARE(activated.size(), 1);
        // The bus hands the centre the server's signal before its answers to later calls.
        m_recorder->close(1);
        m_recorder->capabilities.removeLast();
        center->deliverNotification({ "tarvenDESK!", markup, sound });
        QVERIFY(delivered.wait(60000));
        QCOMPARE(m_recorder->notifications.last().replacesId, 0u);
        QCOMPARE(m_recorder->notifications.last().body, markup);
    }

    // A server that plays no sounds has the sound played here, unless the desktop's
    // do-not-disturb is on; one that plays sounds plays it.
    void theSoundIsPlayedHereOnlyForAServerWithoutSounds()
    {
        const QString sound = UserNotificationDefaultSoundName;
        for (const auto& [capabilities, doNotDisturb, playedHere] :
            { std::tuple { QStringList { "body" }, false, true },
                { QStringList { "body" }, true, false },
                { QStringList { "body", "sound" }, false, false } }) {
            m_recorder->capabilities = capabilities;
            m_recorder->inhibited = doNotDisturb;
            UserNotificationCenter center(QDBusConnection::sessionBus());
            QSignalSpy delivered(&center, &UserNotificationCenter::didDeliverNotification);
            QSignalSpy played(&center, &UserNotificationCenter::didPlayEventSound);
            center.deliverNotification({ "tarvenDESK!", countsText, sound });
            QVERIFY(delivered.wait(60000));
            QVERIFY2(QList<QVariantList>(played)
                    == (playedHere ? QList<QVariantList> { { sound } } : QList<QVariantList>()),
                qPrintable(capabilities.join(' ') + (doNotDisturb ? ", do-not-disturb" : "")));
        }
    }

    // With no service on the bus, or no bus, a notification is dropped without waiting for
    // either, and without a sound.
    void withoutTheServiceTheNotificationIsDroppedSilently()
    {
        m_recorder.reset();
        QTRY_VERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(
            "org.freedesktop.Notifications"));
        UserNotificationCenter center(QDBusConnection::sessionBus());
        UserNotificationCenter unconnected(QDBusConnection(QStringLiteral("not-connected")));
        QSignalSpy dropped(&center, &UserNotificationCenter::didDropNotification);
        QSignalSpy droppedUnconnected(&unconnected, &UserNotificationCenter::didDropNotification);
        QSignalSpy played(&center, &UserNotificationCenter::didPlayEventSound);
        const UserNotification notification { "", countsText, UserNotificationDefaultSoundName };
        center.deliverNotification(notification);
        unconnected.deliverNotification(notification);
        QVERIFY2(dropped.isEmpty() && droppedUnconnected.isEmpty(), "delivery waited for the bus");
        QTRY_VERIFY_WITH_TIMEOUT(dropped.size() == 1 && droppedUnconnected.size() == 1, 60000);
        QVERIFY2(played.isEmpty(), "a sound without a notification");
    }
};

QTEST_MAIN(tst_UserNotificationCenter)
#include "tst_UserNotificationCenter.moc"
