// The notifier's tray item on an X display without any tray, and a StatusNotifierItem host
// (the benchmarks' own) coming up later in the session: the item must then register with it,
// and give it the symbolic image to recolour. An XEmbed tray, which draws icons as they are,
// gets the coloured image.

#include "../bench/TrayHost.h"
#include "platform/StatusItem.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <xcb/xcb.h>

class tst_StatusItemHost : public QObject
{
    Q_OBJECT

private slots:
    void theItemRegistersWithAHostThatComesLater()
    {
        QProcess notifier; // nothing stored: it checks nothing
        notifier.setProcessChannelMode(QProcess::MergedChannels);
        notifier.start(TARVENDESK_BIN_DIR "/tarvenDESKStatusBar");
        QByteArray output;
        QTRY_VERIFY2_WITH_TIMEOUT(
            (output += notifier.readAll()).contains("No tray host"), output.constData(), 60000);
        TrayHost host;
        QVERIFY2(host.isRegistered(), "another tray host is on the bus");
        QSignalSpy registered(&host, &TrayHost::itemRegistered);
        QVERIFY(registered.wait(60000));
        QCOMPARE(registered.first().at(1).toLongLong(), notifier.processId());
        // It is given the grey symbolic image, without the coloured one's orange (ARGB, in
        // network order). Not asked blocking: the item registers again with this process's host.
        const auto greyOnly = [service = registered.first().at(0).toString()] {
            QDBusMessage get = QDBusMessage::createMethodCall(
                service, "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get");
            get << "org.kde.StatusNotifierItem"
                << "IconPixmap";
            const QDBusPendingReply<QDBusVariant> reply
                = QDBusConnection::sessionBus().asyncCall(get);
            if (!QTest::qWaitFor([&] { return reply.isFinished(); }, 30000) || !reply.isValid())
                return false;
            const QDBusArgument pixmaps = reply.value().variant().value<QDBusArgument>();
            bool grey = false, coloured = false;
            pixmaps.beginArray();
            while (!pixmaps.atEnd()) {
                int width = 0, height = 0;
                QByteArray pixels;
                pixmaps.beginStructure();
                pixmaps >> width >> height >> pixels;
                pixmaps.endStructure();
                (pixels.contains(QByteArray::fromHex("fff39c1f")) ? coloured : grey) = true;
            }
            pixmaps.endArray();
            return grey && !coloured;
        };
        QTRY_VERIFY_WITH_TIMEOUT(greyOnly(), 30000);
        notifier.kill();
        notifier.waitForFinished();
    }

    // This process's first tray item, with the tray selection held by a window of the test's
    // own, as an XEmbed tray holds it, and no StatusNotifierItem host on the bus.
    void anXEmbedTrayIsGivenTheColouredImage()
    {
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        QVERIFY(x11);
        xcb_connection_t* connection = x11->connection();
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        const xcb_window_t tray = xcb_generate_id(connection);
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, tray, screen->root, 0, 0, 1, 1, 0,
            XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        const char selection[] = "_NET_SYSTEM_TRAY_S0";
        xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(connection,
            xcb_intern_atom(connection, false, sizeof selection - 1, selection), nullptr);
        QVERIFY(atom);
        xcb_set_selection_owner(connection, tray, atom->atom, XCB_CURRENT_TIME);
        std::free(atom);
        xcb_flush(connection);

        QPixmap coloured(16, 16), symbolic(16, 16);
        coloured.fill(Qt::darkCyan);
        symbolic.fill(Qt::gray);
        const std::unique_ptr<StatusItem> item
            = StatusItem::statusItemWithLength(StatusItem::VariableStatusItemLength);
        item->setImage(QIcon(coloured));
        item->setSymbolicImage(QIcon(symbolic));
        item->setVisible(true);
        QTRY_VERIFY(!item->shownImage().isNull());
        QCOMPARE(
            item->shownImage().pixmap(16, 16).toImage().pixelColor(8, 8), QColor(Qt::darkCyan));
        item->setVisible(false);
        xcb_destroy_window(connection, tray);
        xcb_flush(connection);
    }
};

QTEST_MAIN(tst_StatusItemHost)
#include "tst_StatusItemHost.moc"
