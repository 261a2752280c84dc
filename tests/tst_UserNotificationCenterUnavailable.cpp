// Notifications on a desktop without a notification service at all.

#include "platform/UserNotificationCenter.h"

#include <QSignalSpy>
#include <QTest>

class tst_UserNotificationCenterUnavailable : public QObject
{
    Q_OBJECT

private slots:
    void notificationIsDroppedWithoutBlockingOrSound()
    {
        UserNotificationCenter center(QDBusConnection::sessionBus());
        UserNotificationCenter unconnected(QDBusConnection(QStringLiteral("not-connected")));
        QSignalSpy dropped(&center, &UserNotificationCenter::didDropNotification);
        QSignalSpy droppedUnconnected(&unconnected, &UserNotificationCenter::didDropNotification);
        QSignalSpy delivered(&center, &UserNotificationCenter::didDeliverNotification);
        QSignalSpy played(&center, &UserNotificationCenter::didPlayEventSound);
        const UserNotification notification { "tarvenDESK!",
            "Expiring : 1, Critical :2, Expired : 3", UserNotificationDefaultSoundName };

        center.deliverNotification(notification);
        center.deliverNotification(notification);
        unconnected.deliverNotification(notification);
        QVERIFY2(dropped.isEmpty(), "delivery waited for the bus");
        QTRY_COMPARE_WITH_TIMEOUT(dropped.size(), 2, 60000);
        QTRY_COMPARE_WITH_TIMEOUT(droppedUnconnected.size(), 1, 60000);
        QCOMPARE(dropped.first().first().value<UserNotification>(), notification);
        QVERIFY(delivered.isEmpty());
        QVERIFY2(played.isEmpty(), "a sound without a notification");
    }
};

QTEST_GUILESS_MAIN(tst_UserNotificationCenterUnavailable)
#include "tst_UserNotificationCenterUnavailable.moc"
