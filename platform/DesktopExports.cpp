#include "platform/DesktopExports.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const ExportedFolders[] = { "applications", "dbus-1/services", "icons" };

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

bool linkFile(const QString& target, const QString& link)
{
    const QByteArray staged
        = QFile::encodeName(QFileInfo(link).path() + QStringLiteral("/.")
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
    const QString share = QDir::cleanPath(bundlePath) + QStringLiteral("/share");
    const QString data = QDir::cleanPath(dataFolder);
    for (const char* folder : ExportedFolders) {
        QDirIterator files(share + u'/' + QLatin1String(folder), QDir::Files | QDir::System,
            QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString file = files.next();
            const QString relative = file.mid(share.size() + 1);
            const QString link = data + u'/' + relative;
            errno = 0;
            if (makeFolders(data, QFileInfo(relative).path()) && linkFile(file, link))
                continue;
            const int code = errno;
            return reportError(error,
                errorWithDescription(ErrorDomain, code,
                    QStringLiteral("The bundle’s %1 couldn’t be linked into %2: %3.")
                        .arg(quoted(relative), quoted(data),
                            QString::fromLocal8Bit(std::strerror(code)))));
        }
    }
    return true;
}

} // namespace DesktopExports
