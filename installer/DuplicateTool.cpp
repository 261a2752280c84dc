// tarvendesk-duplicate ITEM FOLDER
//
// Copies one of the two items of the installer's bundle into its system
// folder, as the file manager's duplicate does. pkexec runs it with
// administrator rights for a user who may not write to the folder, so it
// trusts nothing it is given: ITEM must be the checker's autostart entry or
// the suite's bundle, by name, in the installer data folder that was
// installed with this tool, and FOLDER the one system folder of that item.
// As root it copies only from a data folder that root alone may change, and
// the copy is root's alone, whatever modes the item had. The suite's own
// menu entries, services and icons in the bundle are then linked into the
// system data folder, in the same run: one authorisation for the whole.
// Prints the copy's path; on failure the reason on standard error, with
// status 1, or status 2 for arguments it refuses.

#include "common/UnknownOption.h"
#include "platform/DesktopExports.h"
#include "platform/FileDuplication.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <algorithm>
#include <cstdio>
#include <unistd.h>
#include <utility>

namespace {

// Each item of the bundle with the folder it goes to.
const QList<std::pair<QString, QString>> Items {
    { QStringLiteral("org.tarvendesk.TarvenDeskChecker.desktop"),
        QStringLiteral("/etc/xdg/autostart") },
    { QStringLiteral("tarvenDESK.app"), QStringLiteral("/opt") },
};

int refuse(const QString& reason)
{
    std::fprintf(stderr, "%s\n", reason.toUtf8().constData());
    return 2;
}

// Found from this tool's own file, never from the caller: a root-owned tool
// beside a root-owned data folder.
QString bundleFolder()
{
    const QString tool = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return QDir::cleanPath(
        QFileInfo(tool).path() + QStringLiteral("/../share/tarvendesk/installer"));
}

} // namespace

const char Usage[]
    = "Usage: tarvendesk-duplicate ITEM FOLDER\n"
      "       tarvendesk-duplicate --help | --version\n"
      "\n"
      "Copies one item of the installer's bundle into its system folder, for the\n"
      "installer through pkexec: the checker's autostart entry into /etc/xdg/autostart,\n"
      "or tarvenDESK.app into /opt with its menu entries, services and icons linked\n"
      "into /usr/local/share. Prints the copy's path.\n";

int main(int argc, char** argv)
{
    const QString first = argc > 1 ? QFile::decodeName(argv[1]) : QString();
    if (argc == 2 && (first == u"--help" || first == u"-h")) {
        std::fputs(Usage, stdout);
        return 0;
    }
    if (argc == 2 && (first == u"--version" || first == u"-v")) {
        std::fputs("tarvendesk-duplicate " TARVENDESK_VERSION "\n", stdout);
        return 0;
    }
    // Items and folders are absolute paths: a dash starts an option.
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] == '-') {
            std::fputs(qPrintable(unknownOptionText(QStringLiteral("tarvendesk-duplicate"),
                           QFile::decodeName(argv[i]).section(u'=', 0, 0))),
                stderr);
            return 2;
        }
    }
    if (argc != 3)
        return refuse(QStringLiteral("usage: tarvendesk-duplicate ITEM FOLDER (see --help)"));
    const QString item = QDir::cleanPath(QFile::decodeName(argv[1]));
    const QString folder = QDir::cleanPath(QFile::decodeName(argv[2]));
    const QString bundle = bundleFolder();
    const QString name = QFileInfo(item).fileName();
    const auto known = std::find_if(
        Items.begin(), Items.end(), [&](const auto& known) { return known.first == name; });
    if (known == Items.end() || item != bundle + u'/' + name)
        return refuse(QStringLiteral("“%1” is none of the installer’s items in “%2”.")
                          .arg(QFile::decodeName(argv[1]), bundle));
    if (folder != known->second)
        return refuse(QStringLiteral("“%1” goes into “%2” only.").arg(name, known->second));

    Error error;
    const QString copy = FileDuplication::duplicateItem(item, folder, &error,
        ::geteuid() == 0 ? FileDuplication::Copy::ForAllUsers : FileDuplication::Copy::AsItIs);
    if (copy.isNull()
        || (name == QLatin1String("tarvenDESK.app")
            && !DesktopExports::exportBundle(copy, DesktopExports::SystemDataFolder, &error))) {
        std::fprintf(stderr, "%s\n", error.localizedDescription().toUtf8().constData());
        return 1;
    }
    std::printf("%s\n", copy.toUtf8().constData());
    return 0;
}
