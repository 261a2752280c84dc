#include "platform/FileDuplication.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct CopyError
{
    std::string path;
    int error;
};

// What went wrong in a copy, if anything.
using Failure = std::optional<CopyError>;

// Everything below works on descriptors relative to open folders, so a path
// that changes under the copy cannot redirect it.
class FileDescriptor
{
public:
    explicit FileDescriptor(int fd = -1)
        : m_fd(fd)
    {
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }

private:
    int m_fd;
};

constexpr mode_t PermissionBits = 07777 & ~mode_t(S_ISUID | S_ISGID);
// What a copy for all users keeps: nobody but its owner, root, may change it.
constexpr mode_t ForAllUsersBits = PermissionBits & ~mode_t(S_IWGRP | S_IWOTH | S_ISVTX);

// A source entry that could have been changed by someone other than root;
// its reason is worded apart from the errno values.
constexpr int NotRootsAlone = -1;

using FileDuplication::Copy;

bool isRootsAlone(const struct stat& info)
{
    return info.st_uid == 0 && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// The copy's owner and permissions, from the item's.
bool setMode(int fd, const struct stat& source, Copy copy)
{
    if (copy == Copy::AsItIs)
        return ::fchmod(fd, source.st_mode & PermissionBits) == 0;
    return ::fchown(fd, 0, 0) == 0 && ::fchmod(fd, source.st_mode & ForAllUsersBits) == 0;
}

void keepTimes(int fd, const struct stat& source)
{
    const struct timespec times[2] = { source.st_atim, source.st_mtim };
    ::futimens(fd, times);
}

Failure copyFile(int sourceDir, const char* sourceName, int targetDir, const char* targetName,
    const struct stat& info, Copy copy)
{
    // Non-blocking, and checked once open: what was a file a moment ago may
    // be a FIFO now, and reading one would wait for a writer for good.
    FileDescriptor source(
        ::openat(sourceDir, sourceName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!source.isValid())
        return CopyError { sourceName, errno };
    struct stat opened = {};
    if (::fstat(source.get(), &opened) != 0)
        return CopyError { sourceName, errno };
    if (!S_ISREG(opened.st_mode))
        return CopyError { sourceName, ENOTSUP };
    if (copy == Copy::ForAllUsers && opened.st_uid != 0)
        return CopyError { sourceName, NotRootsAlone };
    FileDescriptor target(::openat(
        targetDir, targetName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!target.isValid())
        return CopyError { targetName, errno };
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(source.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return CopyError { sourceName, errno };
        if (got == 0)
            break;
        for (ssize_t written = 0; written < got;) {
            const ssize_t put = ::write(target.get(), buffer + written, size_t(got - written));
            if (put < 0 && errno == EINTR)
                continue;
            if (put < 0)
                return CopyError { targetName, errno };
            written += put;
        }
    }
    if (!setMode(target.get(), info, copy))
        return CopyError { targetName, errno };
    keepTimes(target.get(), info);
    return {};
}

Failure copyEntry(
    int sourceDir, const char* sourceName, int targetDir, const char* targetName, Copy copy);

Failure copyFolder(int sourceDir, const char* sourceName, int targetDir, const char* targetName,
    const struct stat& info, Copy copy)
{
    FileDescriptor source(::openat(
        sourceDir, sourceName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!source.isValid())
        return CopyError { sourceName, errno };
    struct stat opened = {};
    if (copy == Copy::ForAllUsers && (::fstat(source.get(), &opened) != 0 || opened.st_uid != 0))
        return CopyError { sourceName, NotRootsAlone };
    if (::mkdirat(targetDir, targetName, 0700) != 0)
        return CopyError { targetName, errno };
    FileDescriptor target(
        ::openat(targetDir, targetName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!target.isValid())
        return CopyError { targetName, errno };

    // fdopendir takes over the descriptor it is given.
    const int listing = ::dup(source.get());
    std::unique_ptr<DIR, int (*)(DIR*)> entries(
        listing >= 0 ? ::fdopendir(listing) : nullptr, ::closedir);
    if (!entries) {
        const int error = errno;
        if (listing >= 0)
            ::close(listing);
        return CopyError { sourceName, error };
    }
    while (const dirent* entry = ::readdir(entries.get())) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        if (Failure failure
            = copyEntry(source.get(), entry->d_name, target.get(), entry->d_name, copy))
            return failure;
    }
    // Last, so that a folder without write permission can still be filled.
    if (!setMode(target.get(), info, copy))
        return CopyError { targetName, errno };
    keepTimes(target.get(), info);
    return {};
}

Failure copyEntry(
    int sourceDir, const char* sourceName, int targetDir, const char* targetName, Copy copy)
{
    struct stat info = {};
    if (::fstatat(sourceDir, sourceName, &info, AT_SYMLINK_NOFOLLOW) != 0)
        return CopyError { sourceName, errno };
    // Whatever a user has made is theirs, wherever they could put it.
    if (copy == Copy::ForAllUsers && info.st_uid != 0)
        return CopyError { sourceName, NotRootsAlone };
    // Files and folders only: a link could lead the copy anywhere, and a
    // device or FIFO is nothing to install.
    if (S_ISREG(info.st_mode))
        return copyFile(sourceDir, sourceName, targetDir, targetName, info, copy);
    if (S_ISDIR(info.st_mode))
        return copyFolder(sourceDir, sourceName, targetDir, targetName, info, copy);
    return CopyError { sourceName, ENOTSUP };
}

void removeEntry(int dir, const char* name)
{
    if (::unlinkat(dir, name, 0) == 0 || errno != EISDIR)
        return;
    FileDescriptor folder(::openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder.isValid()) {
        // A copied folder may be read-only; its owner may open it up again.
        ::fchmod(folder.get(), 0700);
        const int listing = ::dup(folder.get());
        std::unique_ptr<DIR, int (*)(DIR*)> entries(
            listing >= 0 ? ::fdopendir(listing) : nullptr, ::closedir);
        if (!entries && listing >= 0)
            ::close(listing);
        while (entries) {
            const dirent* entry = ::readdir(entries.get());
            if (!entry)
                break;
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                removeEntry(folder.get(), entry->d_name);
        }
    }
    ::unlinkat(dir, name, AT_REMOVEDIR);
}

// The folder at an absolute path, opened one name at a time without following
// a symbolic link anywhere on the way.
int openFolderWithoutLinks(const QString& absolutePath)
{
    int fd = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (const QString& part : absolutePath.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (fd < 0)
            break;
        const int next = ::openat(fd, QFile::encodeName(part).constData(),
            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        const int error = errno;
        ::close(fd);
        fd = next;
        errno = error;
    }
    return fd;
}

QString fail(Error* error, int code, const QString& description)
{
    reportError(error, errorWithDescription(FileDuplication::ErrorDomain, code, description));
    return {};
}

QString quoted(const QString& text)
{
    return QStringLiteral("“%1”").arg(text);
}

} // namespace

namespace FileDuplication {

QString duplicateItem(const QString& itemPath, const QString& folderPath, Error* error, Copy copy)
{
    const QString item = QFileInfo(QDir::cleanPath(itemPath)).absoluteFilePath();
    const QString folder = QDir::cleanPath(folderPath);
    const QString name = QFileInfo(item).fileName();
    const QByteArray sourceName = QFile::encodeName(name);
    const QByteArray& targetName = sourceName;

    FileDescriptor target(folderPath.isEmpty()
            ? -1
            : ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!target.isValid())
        return fail(
            error, ENOENT, QStringLiteral("The folder %1 can’t be found.").arg(quoted(folderPath)));
    FileDescriptor sourceDir(openFolderWithoutLinks(QFileInfo(item).path()));
    const int sourceDirError = errno;
    struct stat info = {};
    if (itemPath.isEmpty() || name.isEmpty() || name == QLatin1String("..")
        || (!sourceDir.isValid() && sourceDirError == ENOENT)
        || (sourceDir.isValid()
            && ::fstatat(sourceDir.get(), sourceName.constData(), &info, AT_SYMLINK_NOFOLLOW) != 0))
        return fail(
            error, ENOENT, QStringLiteral("The item %1 can’t be found.").arg(quoted(itemPath)));
    if (!sourceDir.isValid())
        return fail(error, sourceDirError,
            QStringLiteral("The item %1 couldn’t be copied: %2.")
                .arg(quoted(itemPath),
                    sourceDirError == ELOOP || sourceDirError == ENOTDIR
                        ? QStringLiteral("its path goes through a symbolic link")
                        : QString::fromLocal8Bit(std::strerror(sourceDirError))));

    // The item's folder and the item are checked as they were opened, so that
    // a folder swapped in after the check is never the one read.
    struct stat sourceDirInfo = {};
    if (copy == Copy::ForAllUsers
        && (::fstat(sourceDir.get(), &sourceDirInfo) != 0 || !isRootsAlone(sourceDirInfo)
            || !isRootsAlone(info)))
        return fail(error, EPERM,
            QStringLiteral("The item %1 isn’t copied for all users: it and its folder must "
                           "belong to root and be writable by root alone.")
                .arg(quoted(itemPath)));

    const QString copyPath = QDir(folder).filePath(name);
    if (S_ISDIR(info.st_mode)) {
        const QString canonicalItem = QFileInfo(item).canonicalFilePath();
        const QString canonicalFolder = QFileInfo(folder).canonicalFilePath();
        if (canonicalFolder == canonicalItem
            || canonicalFolder.startsWith(canonicalItem + QLatin1Char('/')))
            return fail(error, EINVAL,
                QStringLiteral("The folder %1 can’t be copied into itself.").arg(quoted(itemPath)));
    }

    // A staging folder of its own, so that nothing of anyone else's is ever
    // touched, also when the copy fails half-way.
    QByteArray stagingTemplate = QFile::encodeName(folder) + "/.tarvendesk-copy-XXXXXX";
    if (!::mkdtemp(stagingTemplate.data())) {
        const int code = errno;
        return fail(error, code,
            QStringLiteral("The item %1 couldn’t be copied: %2.")
                .arg(quoted(itemPath), QString::fromLocal8Bit(std::strerror(code))));
    }
    const QByteArray stagingName = stagingTemplate.mid(stagingTemplate.lastIndexOf('/') + 1);
    FileDescriptor staging(::openat(
        target.get(), stagingName.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    Failure failure = staging.isValid() ? copyEntry(sourceDir.get(), sourceName.constData(),
                          staging.get(), targetName.constData(), copy)
                                        : CopyError { stagingName.toStdString(), errno };
    // An earlier copy is swapped out in one step, so that the folder always
    // holds one whole copy; the old one goes with the staging folder.
    if (!failure
        && ::renameat2(staging.get(), targetName.constData(), target.get(), targetName.constData(),
               RENAME_NOREPLACE)
            != 0
        && (errno != EEXIST
            || ::renameat2(staging.get(), targetName.constData(), target.get(),
                   targetName.constData(), RENAME_EXCHANGE)
                != 0))
        failure = CopyError { {}, errno };
    removeEntry(target.get(), stagingName.constData());
    if (failure) {
        const int code = failure->error;
        const std::string& failedPath = failure->path;
        const QString reason = code == ENOTSUP ? QStringLiteral("it is neither a file nor a folder")
            : code == NotRootsAlone            ? QStringLiteral("what it holds must belong to root")
                                               : QString::fromLocal8Bit(std::strerror(code));
        return fail(error, code == NotRootsAlone ? EPERM : code,
            failedPath.empty()
                ? QStringLiteral("The item %1 couldn’t be copied: %2.")
                      .arg(quoted(itemPath), reason)
                : QStringLiteral("The item %1 couldn’t be copied: %2 (%3).")
                      .arg(quoted(itemPath), reason, QFile::decodeName(failedPath.c_str())));
    }
    return copyPath;
}

} // namespace FileDuplication
