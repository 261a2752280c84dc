// The tray item on an X display without any tray, and a StatusNotifierItem
// host coming up later in the session: the item must then register with it.

#include "platform/StatusItem.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMenu>
#include <QMutex>
#include <QPixmap>
#include <QRegularExpression>
#include <QSystemTrayIcon>
#include <QTest>
#include <QThread>

namespace {

// The watcher half of a tray host. It runs on a thread of its own: Qt reads
// its properties with blocking calls from the main thread.
class StatusNotifierWatcher : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

public:
    bool isHostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const
    {
        QMutexLocker lock(&m_mutex);
        return m_items;
    }

public slots:
    void RegisterStatusNotifierItem(const QString& service)
    {
        QMutexLocker lock(&m_mutex);
        m_items << service;
    }
    void RegisterStatusNotifierHost(const QString&) { }

    void registerOnBus()
    {
        QDBusConnection bus
            = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "tray-host");
        bus.registerObject("/StatusNotifierWatcher", this, QDBusConnection::ExportAllContents);
        bus.interface()->registerService(
            "org.kde.StatusNotifierWatcher", QDBusConnectionInterface::QueueService);
    }
    // Also ends the watcher, in its own thread as the bus connection wants.
    void leaveBus()
    {
        QDBusConnection("tray-host").unregisterObject("/StatusNotifierWatcher");
        QDBusConnection::disconnectFromBus("tray-host");
        delete this;
    }

private:
    mutable QMutex m_mutex;
    QStringList m_items;
};

} // namespace

class tst_StatusItemHost : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (QGuiApplication::platformName() != "xcb")
            QSKIP("needs an X display");
    }

    void menuMayGoBeforeTheItem()
    {
        const auto item = StatusItem::statusItemWithLength(0);
        {
            QMenu menu;
            item->setMenu(&menu);
        }
        QCOMPARE(item->menu(), nullptr);
        item->setImage(QIcon());
        QCoreApplication::processEvents();
    }

    void itemRegistersWithAHostThatComesLater()
    {
        const auto item = StatusItem::statusItemWithLength(StatusItem::VariableStatusItemLength);
        QPixmap pixmap(22, 22);
        pixmap.fill(Qt::red);
        item->setImage(QIcon(pixmap));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^No tray host"));
        QCoreApplication::processEvents();
        QVERIFY2(!item->isVisible(), "visible with no tray at all");
        QVERIFY2(!item->findChild<QSystemTrayIcon*>(), "a tray icon was made for no host");

        QThread hostThread;
        auto* watcher = new StatusNotifierWatcher;
        watcher->moveToThread(&hostThread);
        hostThread.start();
        QMetaObject::invokeMethod(watcher, &StatusNotifierWatcher::registerOnBus);

        QTRY_COMPARE_WITH_TIMEOUT(watcher->items().size(), 1, 120000);
        QVERIFY(item->isVisible());

        QMetaObject::invokeMethod(
            watcher, &StatusNotifierWatcher::leaveBus, Qt::BlockingQueuedConnection);
        hostThread.quit();
        hostThread.wait();
    }
};

QTEST_MAIN(tst_StatusItemHost)
#include "tst_StatusItemHost.moc"
