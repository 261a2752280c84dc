// The tray item on the offscreen display, which has no tray host: the
// program goes on with its menu and image (tst_StatusItemHost has a host).

#include "platform/StatusItem.h"

#include <QApplication>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTest>

namespace {

QIcon filledIcon(Qt::GlobalColor color)
{
    QPixmap pixmap(22, 22);
    pixmap.fill(color);
    return QIcon(pixmap);
}

} // namespace

class tst_StatusItem : public QObject
{
    Q_OBJECT

private slots:
    void withoutTrayHostTheItemKeepsItsMenuAndImage()
    {
        QMenu menu;
        menu.addAction("Check now");
        const auto item = StatusItem::statusItemWithLength(StatusItem::VariableStatusItemLength);
        item->setMenu(&menu);
        item->setImage(filledIcon(Qt::red));
        item->setHighlightMode(true);
        QCoreApplication::processEvents();

        QCOMPARE(item->menu(), &menu);
        QVERIFY(!item->image().isNull());
        QVERIFY(item->highlightMode());
        QVERIFY2(!item->isVisible(), "shown without a tray host");
        QVERIFY2(!item->findChild<QSystemTrayIcon*>(), "a tray icon was made for no host");
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
};

QTEST_MAIN(tst_StatusItem)
#include "tst_StatusItem.moc"
