// A program's data folder beside its executable, and its images by name.

#include "platform/Bundle.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

class tst_Bundle : public QObject
{
    Q_OBJECT

private slots:
    void aProgramsFolderIsUnderShareAndFindsWhatIsInsideItOnly()
    {
        const QString share = QDir::cleanPath(TARVENDESK_BIN_DIR "/../share/tarvendesk/");
        QCOMPARE(Bundle::mainBundle().resourcePath(), share + "/tst_Bundle");
        Bundle::setMainProgramName("installer");
        QCOMPARE(Bundle::mainBundle().resourcePath(), share + "/installer");
        QCOMPARE(Bundle::bundleForProgram("TarvenDESK").resourcePath(), share + "/TarvenDESK");

        QTemporaryDir root;
        const QString entry = root.filePath("program/a.desktop");
        QVERIFY(QDir(root.path()).mkpath("program/A.app"));
        QVERIFY(QFile(entry).open(QIODevice::WriteOnly));
        QVERIFY(QFile(root.filePath("secret.txt")).open(QIODevice::WriteOnly));
        const Bundle bundle(root.filePath("program"));
        QCOMPARE(bundle.pathForResource("a", "desktop"), entry);
        QCOMPARE(bundle.pathForResource("a.desktop", {}), entry);
        QCOMPARE(bundle.pathForResource("A", "app"), root.filePath("program/A.app"));
        for (const auto& [name, type] : { std::pair<QString, QString> { "missing", "png" },
                 { {}, "desktop" }, { "../secret", "txt" }, { "A.app/../../secret", "txt" } })
            QVERIFY2(bundle.pathForResource(name, type).isNull(), qPrintable(name));
    }

    void imageNamedTakesTheResourceAndItsDoubleSizeOrNothing()
    {
        // The two files differ in colour: red at 16 pixels, blue at 32; a
        // pixmap of the wrong one is the wrong colour at its centre.
        const QIcon image = Bundle::imageNamed("TestImage.png");
        for (const auto& [scale, size, colour] :
            { std::tuple { 1.0, 16, QColor(200, 40, 40) }, { 2.0, 32, QColor(40, 40, 200) } })
            QCOMPARE(QColor(image.pixmap(QSize(16, 16), scale).toImage().pixel(size / 2, size / 2)),
                colour);
        for (const char* missing : { "StatusIcon.png", "", "../etc/passwd" })
            QVERIFY2(Bundle::imageNamed(missing).isNull(), missing);
    }
};

QTEST_MAIN(tst_Bundle)
#include "tst_Bundle.moc"
