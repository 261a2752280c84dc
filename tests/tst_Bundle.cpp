// A program's data folder beside its executable, and its images by name.

#include "platform/Bundle.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class tst_Bundle : public QObject
{
    Q_OBJECT

private slots:
    void mainBundleIsTheProgramsFolderUnderShare()
    {
        const QString share = QDir::cleanPath(TARVENDESK_BIN_DIR "/../share/tarvendesk/");
        QCOMPARE(Bundle::mainBundle().resourcePath(), share + "/tst_Bundle");
        Bundle::setMainProgramName("installer");
        QCOMPARE(Bundle::mainBundle().resourcePath(), share + "/installer");
        QCOMPARE(Bundle::bundleForProgram("TarvenDESK").resourcePath(), share + "/TarvenDESK");
        Bundle::setMainProgramName({});
        QCOMPARE(Bundle::mainBundle().resourcePath(), share + "/tst_Bundle");
    }

    void pathForResourceFindsFilesAndFoldersInsideOnly()
    {
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath("program/TarvenDeskChecker.app/Contents"));
        QFile agent(root.filePath("program/org.tarvendesk.checker.desktop"));
        QFile outside(root.filePath("secret.txt"));
        QVERIFY(agent.open(QIODevice::WriteOnly) && outside.open(QIODevice::WriteOnly));

        const Bundle bundle(root.filePath("program"));
        QCOMPARE(bundle.pathForResource("org.tarvendesk.checker", "desktop"), agent.fileName());
        QCOMPARE(bundle.pathForResource("org.tarvendesk.checker.desktop", {}), agent.fileName());
        QCOMPARE(bundle.pathForResource("TarvenDeskChecker", "app"),
            root.filePath("program/TarvenDeskChecker.app"));

        QVERIFY(bundle.pathForResource("missing", "png").isNull());
        QVERIFY(bundle.pathForResource({}, "desktop").isNull());
        QVERIFY(bundle.pathForResource("../secret", "txt").isNull());
        QVERIFY(bundle.pathForResource("TarvenDeskChecker.app/../../secret", "txt").isNull());
        QVERIFY(Bundle(root.filePath("no-such-program")).pathForResource("anything", {}).isNull());
    }

    void imageNamedTakesTheResourceAndItsDoubleSizeOrNothing()
    {
        // The two files differ in colour: red at 16 pixels, blue at 32.
        const QIcon image = Bundle::imageNamed("TestImage.png");
        QVERIFY(!image.isNull());
        const QImage single = image.pixmap(QSize(16, 16), 1.0).toImage();
        const QImage doubled = image.pixmap(QSize(16, 16), 2.0).toImage();
        QCOMPARE(single.size(), QSize(16, 16));
        QCOMPARE(QColor(single.pixel(8, 8)), QColor(200, 40, 40));
        QCOMPARE(doubled.size(), QSize(32, 32));
        QCOMPARE(QColor(doubled.pixel(16, 16)), QColor(40, 40, 200));
        QVERIFY(Bundle::imageNamed("StatusIcon.png").isNull());
        QVERIFY(Bundle::imageNamed({}).isNull());
        QVERIFY(Bundle::imageNamed("../etc/passwd").isNull());
    }
};

QTEST_MAIN(tst_Bundle)
#include "tst_Bundle.moc"
