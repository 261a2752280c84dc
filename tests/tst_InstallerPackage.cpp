// What the suite installs: the installer's bundle, valid for the desktop and
// running from wherever it is copied. The Debian package is checked by the
// test command (scripts/lib/check-package.sh), which builds it.

#include "common/ProcessHelpers.h"
#include "platform/FileDuplication.h"
#include "programs/ProbeProcess.h"
#include "support/BusPrograms.h"

#include <QDirIterator>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString Build = QStringLiteral(TARVENDESK_BIN_DIR "/..");
const QString Data = Build + QStringLiteral("/share/tarvendesk/installer");
const QString Checker = QStringLiteral("org.tarvendesk.TarvenDeskChecker.desktop");
const QStringList Programs
    = QStringLiteral(TARVENDESK_SUITE_PROGRAMS).split(u' ', Qt::SkipEmptyParts);
const bool NotifierBuilt = Programs.contains(QStringLiteral("tarvenDESKStatusBar"));

QString run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    process.waitForFinished(240000);
    return QString::fromUtf8(process.readAll());
}

QString execOf(const QString& entry)
{
    QFile file(entry);
    file.open(QIODevice::ReadOnly);
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith("Exec="))
            return QString::fromUtf8(line.mid(5));
    return QStringLiteral("(no Exec in %1)").arg(entry);
}

// What is wrong with the suite's programs in root + prefix, whose desktop
// entries and services must start them from `bin`; desktop-file-validate's
// complaints about every entry under root included.
QString faultsUnder(const QString& root, const QString& prefix, const QString& bin)
{
    QString faults;
    for (const QString& program : Programs) {
        const QString id = QStringLiteral("org.tarvendesk.") + program;
        const QFile::Permissions everyone = QFile::ReadOther | QFile::ExeOther | QFile::ExeGroup;
        if ((QFileInfo(root + prefix + "/bin/" + program).permissions() & everyone) != everyone)
            faults += program + " is not there for everyone to run\n";
        for (const QString& file : { "/share/applications/" + id + ".desktop",
                 "/share/dbus-1/services/" + id + ".service" })
            if (execOf(root + prefix + file) != u'"' + bin + program + u'"')
                faults += file + " starts " + execOf(root + prefix + file) + u'\n';
        const QString icons = root + prefix + "/share/icons/hicolor/";
        if (QImageReader(icons + "128x128/apps/" + id + ".png").size() != QSize(128, 128)
            || QImageReader(icons + "scalable/apps/" + id + ".svg").size().isEmpty())
            faults += id + " has no icon\n";
    }
    for (QDirIterator it(root, { "*.desktop" }, QDir::Files, QDirIterator::Subdirectories);
         it.hasNext();)
        faults += run("desktop-file-validate", { it.next() });
    return faults;
}

} // namespace

class tst_InstallerPackage : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QVERIFY(BusPrograms::endProgramHolding(StatusBarBundleIdentifier)); }

    void bundleHoldsTheSuiteForTheSystemApplicationsFolder()
    {
        const QString bundle = Data + QStringLiteral("/tarvenDESK.app");
        QCOMPARE(faultsUnder(bundle, "", "/opt/tarvenDESK.app/bin/"), QString());
        QCOMPARE(QFileInfo::exists(bundle + "/share/applications/" + Checker), NotifierBuilt);
        QCOMPARE(execOf(Data + u'/' + Checker), "\"/opt/tarvenDESK.app/bin/tarvenDESKStatusBar\"");
        QCOMPARE(run("desktop-file-validate", { Data + u'/' + Checker }), QString());
    }

    void copiedBundleStartsItsNotifierFromThere()
    {
        if (!NotifierBuilt)
            QSKIP("This build has no notifier.");
        QTemporaryDir scratch;
        QString why;
        QVERIFY2(!FileDuplication::duplicateItem(Data + "/tarvenDESK.app", scratch.path(), &why)
                      .isNull(),
            qPrintable(why));
        const QString notifier = scratch.filePath("tarvenDESK.app/bin/tarvenDESKStatusBar");
        QVERIFY(QProcess::startDetached(notifier, {}));
        QTRY_COMPARE_WITH_TIMEOUT(
            QFile::symLinkTarget(
                QStringLiteral("/proc/%1/exe").arg(ownerPid(StatusBarBundleIdentifier))),
            notifier, 30000);
    }
};

QTEST_GUILESS_MAIN(tst_InstallerPackage)
#include "tst_InstallerPackage.moc"
