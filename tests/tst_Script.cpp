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
        calls.append("activate " + applicationName);
        return true;
    }
    QVariant duplicateItem(const QString& itemPath, const QString&, QString*) override
    {
        calls.append("duplicate " + itemPath);
        return true;
    }

    QStringList calls;
};

// Runs the file manager's duplicate; the copy's path, or null with why.
QVariant duplicate(const QString& item, const QString& folder, QString* why)
{
    return Script(QStringLiteral("property y : POSIX file \"%1\" as alias\ntell application "
                                 "\"Finder\"\nset x to POSIX file \"%2\" as alias\nduplicate y "
                                 "to x\nend tell")
                      .arg(ProcessHelpers::escapedForScriptString(item),
                          ProcessHelpers::escapedForScriptString(folder)))
        .executeAndReturnError(why);
}

mode_t modeOf(const QString& path)
{
    struct stat info = {};
    ::lstat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 07777;
}

bool setMode(const QString& path, mode_t mode)
{
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

bool writeFile(const QString& path, const QByteArray& content, mode_t mode)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return false;
    file.close();
    return setMode(path, mode);
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList entries(const QString& folder)
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

    void layoutIsFreeAndOtherTextIsASyntaxErrorThatNeverRuns()
    {
        for (const char* source :
            { "  tell\t application   \"A\" \n\t\t activate \t\n  end   tell  ",
                "\n\ntell application \"A\"\n\n\n activate\n\nend tell\n\n",
                "tell application \"A\"\r\n\t activate\r\nend tell\r\n" }) {
            QString why;
            const auto compiled = ScriptCompiler::compile(source, &why);
            QVERIFY2(compiled, qPrintable(source + (": " + why)));
            QCOMPARE(std::get<ActivateApplication>(*compiled).applicationName, "A");
        }
        const auto escapes = ScriptCompiler::compile(
            "tell application \"q\\\"b\\\\n\\n\\t\"\n activate\nend tell", nullptr);
        QVERIFY(escapes);
        QCOMPARE(std::get<ActivateApplication>(*escapes).applicationName, "q\"b\\n\n\t");

        const QString activation = ProcessHelpers::activationScriptSource("A");
        const QString copy = ProcessHelpers::applicationCopyScriptSource("/a/b");
        RecordingScriptingService service;
        ScriptingService::setCurrent(&service);
        for (const QString& source : { QString(), QString("do shell script \"rm -rf ~\""),
                 QString("tell application \"A\"\n\t activate"),
                 QString("tell application \"A\" activate end tell"),
                 QString("tell application \"A\"\n activate\n activate\nend tell"),
                 activation + "\n" + activation, activation + " quit",
                 QString(activation).replace("activate", "quit"),
                 QString(activation).replace("\"A\"", "\"\\q\""),
                 QString(activation).replace("\"A\"", "A"), QString(activation).toUpper(),
                 "-- hello\n" + activation, QString(copy).replace("\"Finder\"", "\"Files\""),
                 QString(copy).replace("duplicate y to x", "duplicate y to z"),
                 QString(copy).replace("set x to", "set to to"),
                 QString(copy).replace("\" as alias\n", "\"\n"),
                 QString(copy).replace("duplicate y to x", "duplicate y to x\nactivate") }) {
            QString why;
            QVERIFY2(Script(source).executeAndReturnError(&why).isNull(), qPrintable(source));
            QVERIFY2(why.startsWith("Syntax error: "), qPrintable(source + ": " + why));
            QVERIFY(!Script(source).compileAndReturnError(nullptr));
        }
        QCOMPARE(service.calls, QStringList());
    }

    void duplicateCopiesFilesAndTreesWithTheirModes()
    {
        QTemporaryDir dir;
        const QString app = dir.filePath("from/tarvenDESK");
        QVERIFY(QDir().mkpath(app + "/bin") && QDir().mkpath(app + "/share/empty")
            && QDir().mkpath(dir.filePath("to")));
        const QString item = dir.filePath("from/agent \"x\".desktop");
        QVERIFY(writeFile(item, "[Desktop Entry]\n", 0640));
        QVERIFY(writeFile(app + "/bin/TarvenDESK",
            "\x7f"
            "ELF",
            0755));
        QVERIFY(writeFile(app + "/share/readme", "text", 0444));
        QVERIFY(QFile::link("bin/TarvenDESK", app + "/current") && setMode(app + "/share", 0555));

        QString why;
        const QVariant copied = duplicate(item, dir.filePath("to/"), &why);
        QVERIFY2(!copied.isNull(), qPrintable(why));
        QCOMPARE(copied.toString(), dir.filePath("to/agent \"x\".desktop"));
        QCOMPARE(contentOf(copied.toString()), QByteArray("[Desktop Entry]\n"));
        QCOMPARE(modeOf(copied.toString()), mode_t(0640));
        QCOMPARE(QFileInfo(copied.toString()).lastModified(), QFileInfo(item).lastModified());

        QVERIFY2(!duplicate(app, dir.filePath("to"), &why).isNull(), qPrintable(why));
        QCOMPARE(
            entries(dir.filePath("to")), (QStringList { "agent \"x\".desktop", "tarvenDESK" }));
        const QString copy = dir.filePath("to/tarvenDESK");
        QCOMPARE(contentOf(copy + "/bin/TarvenDESK"),
            QByteArray("\x7f"
                       "ELF"));
        QCOMPARE(modeOf(copy + "/bin/TarvenDESK"), mode_t(0755));
        QCOMPARE(modeOf(copy + "/share/readme"), mode_t(0444));
        QCOMPARE(modeOf(copy + "/share"), mode_t(0555));
        QVERIFY(QFileInfo(copy + "/share/empty").isDir());
        char link[64] = {};
        QVERIFY(::readlink(QFile::encodeName(copy + "/current").constData(), link, sizeof link - 1)
            > 0);
        QCOMPARE(QByteArray(link), QByteArray("bin/TarvenDESK"));
        // Lets the temporary folder be removed.
        QVERIFY(setMode(app + "/share", 0755) && setMode(copy + "/share", 0755));
    }

    void duplicateRefusesAndLeavesThingsAsTheyWere_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("reason");
        const auto row = [](const char* name, QString item, QString folder, QString reason) {
            QTest::newRow(name) << item << folder << reason;
        };
        row("folder missing", "from/item", "nowhere", "The folder");
        row("folder is a file", "from/item", "from/item", "The folder");
        row("item missing", "from/none", "to", "The item");
        row("name taken", "from/item", "taken", "already exists");
        row("name taken by a dangling link", "from/item", "dangling", "already exists");
        row("into itself", "from", "from/sub", "into itself");
        // A named pipe is no file a copy can hold, for root neither.
        row("a part cannot be copied", "from", "to", "couldn’t be copied");
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
        if (reason.contains("copied"))
            QVERIFY(::mkfifo(QFile::encodeName(dir.filePath("from/pipe")).constData(), 0644) == 0);
        const QStringList before = entries(dir.filePath(folder));
        QString why;
        QVERIFY(duplicate(dir.filePath(item), dir.filePath(folder), &why).isNull());
        QVERIFY2(why.contains(reason), qPrintable(why));
        QCOMPARE(entries(dir.filePath(folder)), before);
        QCOMPARE(contentOf(dir.filePath("taken/item")), QByteArray("old"));
        QCOMPARE(modeOf(dir.filePath("taken/item")), mode_t(0600));
    }
};

QTEST_GUILESS_MAIN(tst_Script)
#include "tst_Script.moc"
