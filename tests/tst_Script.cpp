// Scripts: which texts compile, that nothing else ever runs, and the file
// manager's duplicate carried out on real files.

#include "common/ProcessHelpers.h"
#include "platform/Script.h"
#include "platform/ScriptCompiler.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Stands in for the desktop where a script must not run at all.
class RecordingScriptingService : public ScriptingService
{
public:
    QVariant activateApplication(const QString& applicationName, QString*) override
    {
        calls.append(QStringLiteral("activate ") + applicationName);
        return true;
    }
    QVariant duplicateItem(const QString& itemPath, const QString& folderPath, QString*) override
    {
        calls.append(QStringLiteral("duplicate %1 to %2").arg(itemPath, folderPath));
        return true;
    }

    QStringList calls;
};

QString duplicateScript(const QString& item, const QString& folder)
{
    const QString indent(24, QLatin1Char(' '));
    return QStringLiteral("property y : POSIX file \"%1\" as alias\n%3tell application \"Finder\"\n"
                          "%3set x to POSIX file \"%2\" as alias\n%3duplicate y to x\n%3end tell")
        .arg(ProcessHelpers::escapedForScriptString(item),
            ProcessHelpers::escapedForScriptString(folder), indent);
}

mode_t modeOf(const QString& path)
{
    struct stat info = {};
    ::lstat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 07777;
}

bool writeFile(const QString& path, const QByteArray& content, mode_t mode)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return false;
    file.close();
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray linkText(const QString& path)
{
    char text[256] = {};
    const ssize_t length = ::readlink(QFile::encodeName(path).constData(), text, sizeof text);
    return length > 0 ? QByteArray(text, int(length)) : QByteArray();
}

QStringList hiddenEntries(const QString& folder)
{
    return QDir(folder).entryList(
        QDir::Hidden | QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
}

} // namespace

class tst_Script : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { ScriptingService::setCurrent(nullptr); }

    void layoutIsFree_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("name");
        QTest::newRow("one space") << "tell application \"A\"\nactivate\nend tell"
                                   << "A";
        QTest::newRow("blanks and tabs")
            << "  tell\t application   \"A\" \n\t\t activate \t\n  end   tell  "
            << "A";
        QTest::newRow("blank lines") << "\n\ntell application \"A\"\n\n\n activate\n\nend tell\n\n"
                                     << "A";
        QTest::newRow("CR LF") << "tell application \"A\"\r\n\t activate\r\nend tell\r\n"
                               << "A";
        QTest::newRow("escapes") << "tell application \"q\\\"b\\\\n\\n\\t\"\n activate\nend tell"
                                 << "q\"b\\n\n\t";
    }

    void layoutIsFree()
    {
        QFETCH(QString, source);
        QFETCH(QString, name);
        QString why;
        const auto compiled = ScriptCompiler::compile(source, &why);
        QVERIFY2(compiled, qPrintable(why));
        QCOMPARE(std::get<ActivateApplication>(*compiled).applicationName, name);
    }

    void otherTextIsASyntaxErrorAndNeverRuns_data()
    {
        QTest::addColumn<QString>("source");
        const QString copy = ProcessHelpers::applicationCopyScriptSource("/a/b");
        QTest::newRow("empty") << "";
        QTest::newRow("shell") << "do shell script \"rm -rf ~\"";
        QTest::newRow("no end") << "tell application \"A\"\n\t activate";
        QTest::newRow("one line") << "tell application \"A\" activate end tell";
        QTest::newRow("end without tell") << "tell application \"A\"\n\t activate\nend";
        QTest::newRow("two activations")
            << "tell application \"A\"\n activate\n activate\nend tell";
        QTest::newRow("second block") << ProcessHelpers::activationScriptSource("A") + "\n"
                + ProcessHelpers::activationScriptSource("B");
        QTest::newRow("text after end") << ProcessHelpers::activationScriptSource("A") + " quit";
        QTest::newRow("quit") << "tell application \"A\"\n quit\nend tell";
        QTest::newRow("unclosed string") << "tell application \"A\n activate\nend tell";
        QTest::newRow("unknown escape") << "tell application \"\\q\"\n activate\nend tell";
        QTest::newRow("comment") << "-- hello\ntell application \"A\"\n activate\nend tell";
        QTest::newRow("name not a string") << "tell application A\n activate\nend tell";
        QTest::newRow("upper case keyword") << "TELL application \"A\"\n activate\nend tell";
        QTest::newRow("duplicate elsewhere") << QString(copy).replace("\"Finder\"", "\"Files\"");
        QTest::newRow("undefined variable")
            << QString(copy).replace("duplicate y to x", "duplicate y to z");
        QTest::newRow("keyword as variable") << QString(copy).replace("set x to", "set to to");
        QTest::newRow("no alias") << QString(copy).replace("\" as alias\n", "\"\n");
        QTest::newRow("copy and activate")
            << QString(copy).replace("duplicate y to x", "duplicate y to x\nactivate");
    }

    void otherTextIsASyntaxErrorAndNeverRuns()
    {
        QFETCH(QString, source);
        RecordingScriptingService service;
        ScriptingService::setCurrent(&service);
        QString why;
        const QVariant result = Script(source).executeAndReturnError(&why);
        QVERIFY(result.isNull());
        QVERIFY2(why.startsWith(QLatin1String("Syntax error: ")), qPrintable(why));
        QVERIFY2(service.calls.isEmpty(), qPrintable(service.calls.join(", ")));
        QVERIFY(!Script(source).compileAndReturnError(nullptr));
    }

    void duplicateCopiesAFileWithItsMode()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("from") && QDir(dir.path()).mkpath("to"));
        const QString item = dir.filePath("from/agent \"x\".desktop");
        QVERIFY(writeFile(item, "[Desktop Entry]\n", 0640));
        QString why;
        const QVariant copy
            = Script(duplicateScript(item, dir.filePath("to/"))).executeAndReturnError(&why);
        QVERIFY2(!copy.isNull(), qPrintable(why));
        const QString copied = dir.filePath("to/agent \"x\".desktop");
        QCOMPARE(copy.toString(), copied);
        QCOMPARE(contentOf(copied), QByteArray("[Desktop Entry]\n"));
        QCOMPARE(modeOf(copied), mode_t(0640));
        QCOMPARE(QFileInfo(copied).lastModified(), QFileInfo(item).lastModified());
        QCOMPARE(hiddenEntries(dir.filePath("to")), QStringList { "agent \"x\".desktop" });
    }

    void duplicateCopiesATreeWithItsModes()
    {
        QTemporaryDir dir;
        const QString app = dir.filePath("from/tarvenDESK");
        QVERIFY(QDir().mkpath(app + "/bin") && QDir().mkpath(app + "/share/empty")
            && QDir().mkpath(dir.filePath("to")));
        QVERIFY(writeFile(app + "/bin/TarvenDESK",
            "\x7f"
            "ELF",
            0755));
        QVERIFY(writeFile(app + "/share/readme", "text", 0444));
        QVERIFY(QFile::link("bin/TarvenDESK", app + "/current"));
        QVERIFY(::chmod(QFile::encodeName(app + "/share").constData(), 0555) == 0);
        QString why;
        QVERIFY2(
            !Script(duplicateScript(app, dir.filePath("to"))).executeAndReturnError(&why).isNull(),
            qPrintable(why));
        const QString copy = dir.filePath("to/tarvenDESK");
        QCOMPARE(contentOf(copy + "/bin/TarvenDESK"),
            QByteArray("\x7f"
                       "ELF"));
        QCOMPARE(modeOf(copy + "/bin/TarvenDESK"), mode_t(0755));
        QCOMPARE(modeOf(copy + "/share/readme"), mode_t(0444));
        QCOMPARE(modeOf(copy + "/share"), mode_t(0555));
        QVERIFY(QFileInfo(copy + "/share/empty").isDir());
        QCOMPARE(linkText(copy + "/current"), QByteArray("bin/TarvenDESK"));
        // Lets the temporary folder be removed.
        ::chmod(QFile::encodeName(app + "/share").constData(), 0755);
        ::chmod(QFile::encodeName(copy + "/share").constData(), 0755);
    }

    void duplicateRefusesAndLeavesThingsAsTheyWere_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("reason");
        QTest::newRow("folder missing") << "from/item"
                                        << "nowhere"
                                        << "The folder";
        QTest::newRow("folder is a file") << "from/item"
                                          << "from/item"
                                          << "The folder";
        QTest::newRow("item missing") << "from/none"
                                      << "to"
                                      << "The item";
        QTest::newRow("name taken") << "from/item"
                                    << "taken"
                                    << "already exists";
        QTest::newRow("name taken by a dangling link") << "from/item"
                                                       << "dangling"
                                                       << "already exists";
        QTest::newRow("into itself") << "from"
                                     << "from/sub"
                                     << "into itself";
    }

    void duplicateRefusesAndLeavesThingsAsTheyWere()
    {
        QFETCH(QString, item);
        QFETCH(QString, folder);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        for (const char* path : { "from/sub", "to", "taken", "dangling" })
            QVERIFY(QDir(dir.path()).mkpath(path));
        QVERIFY(writeFile(dir.filePath("from/item"), "new", 0644));
        QVERIFY(writeFile(dir.filePath("taken/item"), "old", 0600));
        QVERIFY(QFile::link(dir.filePath("missing"), dir.filePath("dangling/item")));
        const QStringList before = hiddenEntries(dir.filePath(folder));
        QString why;
        QVERIFY(Script(duplicateScript(dir.filePath(item), dir.filePath(folder)))
                    .executeAndReturnError(&why)
                    .isNull());
        QVERIFY2(why.contains(reason), qPrintable(why));
        QCOMPARE(hiddenEntries(dir.filePath(folder)), before);
        QCOMPARE(contentOf(dir.filePath("taken/item")), QByteArray("old"));
        QCOMPARE(modeOf(dir.filePath("taken/item")), mode_t(0600));
    }

    void aFailedCopyLeavesNothingBehind()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("from/tree/a") && QDir(dir.path()).mkpath("to"));
        QVERIFY(writeFile(dir.filePath("from/tree/a/file"), "a", 0644));
        // A named pipe is no file a copy can hold, for root neither.
        QVERIFY(::mkfifo(QFile::encodeName(dir.filePath("from/tree/pipe")).constData(), 0644) == 0);
        QString why;
        QVERIFY(Script(duplicateScript(dir.filePath("from/tree"), dir.filePath("to")))
                    .executeAndReturnError(&why)
                    .isNull());
        QVERIFY2(why.contains("couldn’t be copied"), qPrintable(why));
        QCOMPARE(hiddenEntries(dir.filePath("to")), QStringList());
    }
};

QTEST_GUILESS_MAIN(tst_Script)
#include "tst_Script.moc"
