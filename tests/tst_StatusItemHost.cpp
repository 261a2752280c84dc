// The tray item on an X display without any tray, and a StatusNotifierItem
// host coming up later in the session: the item must then register with it,
// with its menu.

#include "platform/StatusItem.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QMenu>
#include <QMutex>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
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

// What a host asks of an item, asked from another process, as a host does.
QString dbusSend(const QStringList& arguments)
{
    QProcess process;
    QSignalSpy finished(&process, &QProcess::finished);
    process.start("dbus-send", QStringList { "--session", "--print-reply" } + arguments);
    return finished.wait(60000) ? QString::fromUtf8(process.readAllStandardOutput()) : QString();
}

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
        QMenu menu;
        menu.addAction("Check now");
        menu.addAction("Sign Out");
        const auto item = StatusItem::statusItemWithLength(StatusItem::VariableStatusItemLength);
        item->setMenu(&menu);
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
        const QString itemService = watcher->items().first();
        const QString menuPath = dbusSend(
            { "--dest=" + itemService, "/StatusNotifierItem", "org.freedesktop.DBus.Properties.Get",
                "string:org.kde.StatusNotifierItem", "string:Menu" })
                                     .section('"', 1, 1);
        QVERIFY2(menuPath.startsWith('/'), "the item has no menu");
        const QString layout = dbusSend({ "--dest=" + itemService, menuPath,
            "com.canonical.dbusmenu.GetLayout", "int32:0", "int32:-1", "array:string:" });
        QVERIFY2(layout.contains("\"Check now\"") && layout.contains("\"Sign Out\""),
            qPrintable(layout));

        QMetaObject::invokeMethod(
            watcher, &StatusNotifierWatcher::leaveBus, Qt::BlockingQueuedConnection);
        hostThread.quit();
        hostThread.wait();
    }
};

QTEST_MAIN(tst_StatusItemHost)
#include "tst_StatusItemHost.moc"
