#include "platform/DesktopExports.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The suite's own names, the only ones linked, whatever else a bundle holds:
// a file of another name, such as another program's bus service, would be
// run for every user of the machine.
const char* const ExportedFiles[] = {
    "applications/org.tarvendesk.TarvenDESK.desktop",
    "applications/org.tarvendesk.tarvenDESKStatusBar.desktop",
    // The checker's entry, by which the notifier is started as
    // "TarvenDeskChecker.app".
    "applications/org.tarvendesk.TarvenDeskChecker.desktop",
    "dbus-1/services/org.tarvendesk.TarvenDESK.service",
    "dbus-1/services/org.tarvendesk.tarvenDESKStatusBar.service",
    "icons/hicolor/128x128/apps/org.tarvendesk.TarvenDESK.png",
    "icons/hicolor/128x128/apps/org.tarvendesk.tarvenDESKStatusBar.png",
    "icons/hicolor/scalable/apps/org.tarvendesk.TarvenDESK.svg",
    "icons/hicolor/scalable/apps/org.tarvendesk.tarvenDESKStatusBar.svg",
    "icons/hicolor/symbolic/apps/tarvendesk-status-symbolic.svg",
};

QString quoted(const QString& text)
{
    return QStringLiteral("“%1”").arg(text);
}

// Made with modes of their own: the tool runs with whatever umask its
// caller had, and every user's desktop reads these folders.
bool makeFolders(const QString& base, const QString& relative)
{
    QString path = base;
    for (const QString& part : relative.split(u'/', Qt::SkipEmptyParts)) {
        path += u'/' + part;
        if (::mkdir(QFile::encodeName(path).constData(), 0755) == 0)
            ::chmod(QFile::encodeName(path).constData(), 0755);
        else if (errno != EEXIST || !QFileInfo(path).isDir()) {
            if (errno == EEXIST)
                errno = ENOTDIR;
            return false;
        }
    }
    return true;
}

// Only nothing, or a link into the bundle left by an earlier installation,
// may be replaced: a file of another vendor's under the same name is theirs.
bool mayReplace(const QString& link, const QString& bundle)
{
    struct stat info = {};
    if (::lstat(QFile::encodeName(link).constData(), &info) != 0)
        return errno == ENOENT;
    if (S_ISLNK(info.st_mode)
        && QDir::cleanPath(QFile::symLinkTarget(link)).startsWith(bundle + u'/'))
        return true;
    errno = EEXIST;
    return false;
}

bool linkFile(const QString& target, const QString& link)
{
    const QByteArray staged = QFile::encodeName(QFileInfo(link).path() + QStringLiteral("/.")
        + QFileInfo(link).fileName() + QStringLiteral(".tarvendesk-link"));
    ::unlink(staged.constData());
    if (::symlink(QFile::encodeName(target).constData(), staged.constData()) != 0)
        return false;
    if (::rename(staged.constData(), QFile::encodeName(link).constData()) == 0)
        return true;
    const int error = errno;
    ::unlink(staged.constData());
    errno = error;
    return false;
}

} // namespace

namespace DesktopExports {

bool exportBundle(const QString& bundlePath, const QString& dataFolder, Error* error)
{
    const QString bundle = QDir::cleanPath(bundlePath);
    const QString share = bundle + QStringLiteral("/share");
    const QString data = QDir::cleanPath(dataFolder);
    for (const char* name : ExportedFiles) {
        const QString relative = QLatin1String(name);
        const QString file = share + u'/' + relative;
        struct stat info = {};
        // A bundle built without a program has none of its files.
        if (::lstat(QFile::encodeName(file).constData(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        const QString link = data + u'/' + relative;
        errno = 0;
        if (makeFolders(data, QFileInfo(relative).path()) && mayReplace(link, bundle)
            && linkFile(file, link))
            continue;
        const int code = errno;
        return reportError(error,
            errorWithDescription(ErrorDomain, code,
                code == EEXIST
                    ? QStringLiteral("The bundle’s %1 couldn’t be linked into %2: another "
                                     "file of that name is in the way.")
                          .arg(quoted(relative), quoted(data))
                    : QStringLiteral("The bundle’s %1 couldn’t be linked into %2: %3.")
                          .arg(quoted(relative), quoted(data),
                              QString::fromLocal8Bit(std::strerror(code)))));
    }
    return true;
}

} // namespace DesktopExports
