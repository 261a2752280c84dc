// tarvendesk-duplicate ITEM FOLDER
//
// Copies ITEM into FOLDER as the file manager's duplicate does. pkexec runs it
// with administrator rights for a program whose user may not write to the
// folder, so it trusts nothing it is given: both paths must be absolute, and
// the folder must be one of the two system folders the suite installs into.
// Prints the copy's path; on failure the reason on standard error, with
// status 1, or status 2 for arguments it refuses.

#include "platform/FileDuplication.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <cstdio>

namespace {

// The system autostart and applications folders of the installer's scripts.
const QStringList SystemFolders = { QStringLiteral("/etc/xdg/autostart"), QStringLiteral("/opt") };

int refuse(const QString& reason)
{
    std::fprintf(stderr, "%s\n", reason.toUtf8().constData());
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return refuse(QStringLiteral("usage: tarvendesk-duplicate ITEM FOLDER"));
    const QString item = QFile::decodeName(argv[1]);
    const QString folder = QFile::decodeName(argv[2]);
    if (!QDir::isAbsolutePath(item) || !QDir::isAbsolutePath(folder))
        return refuse(QStringLiteral("The item and the folder must be given as absolute paths."));
    if (!SystemFolders.contains(QDir::cleanPath(folder)))
        return refuse(
            QStringLiteral("The folder “%1” is none the suite installs into; only “%2” are.")
                .arg(folder, SystemFolders.join(QStringLiteral("” and “"))));

    QString reason;
    const QString copy = FileDuplication::duplicateItem(item, folder, &reason);
    if (copy.isNull()) {
        std::fprintf(stderr, "%s\n", reason.toUtf8().constData());
        return 1;
    }
    std::printf("%s\n", copy.toUtf8().constData());
    return 0;
}
