#include "common/ServiceConfiguration.h"

#include "common/SeverityCountRequest.h"
#include "platform/Logging.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString ConfigFile = QStringLiteral("tarvenDESK/tarvenDESK.conf");

// The credentials travel only over verified TLS, so anything but a plain
// https URL to a host is refused.
bool isServiceURL(const QUrl& url)
{
    return url.isValid() && url.scheme() == u"https" && !url.host().isEmpty() && !url.hasQuery()
        && !url.hasFragment() && url.userInfo().isEmpty();
}

// Far more than any bundle of authorities, or any settings file.
constexpr qint64 MaximumCertificatesSize = 1024 * 1024;
constexpr qint64 MaximumConfigurationSize = 1024 * 1024;

// The file's bytes, or why there are none. Only a regular file is read, and
// only up to the bound: a device would never end, a FIFO would hold the
// start for a writer, and a huge file would be read whole only to be
// ignored. Opened without blocking and checked once open, so that what
// passed the check is what is read.
std::optional<QByteArray> readCertificatesFile(const QString& path, QString* why)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return std::nullopt;
    }
    QFile file;
    struct stat info = {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)
        || !file.open(fd, QIODevice::ReadOnly, QFile::AutoCloseHandle)) {
        ::close(fd);
        *why = QStringLiteral("not a regular file");
        return std::nullopt;
    }
    // Read past the bound, so that a file that has grown since is seen to.
    QByteArray bytes = info.st_size > MaximumCertificatesSize
        ? QByteArray()
        : file.read(MaximumCertificatesSize + 1);
    if (info.st_size > MaximumCertificatesSize || bytes.size() > MaximumCertificatesSize) {
        *why = QStringLiteral("larger than %1 bytes").arg(MaximumCertificatesSize);
        return std::nullopt;
    }
    return bytes;
}

// INI values with a comma come back as a list.
QString textOf(const QVariant& value)
{
    return value.toStringList().join(u',');
}

} // namespace

ServiceConfiguration readServiceConfiguration(const QStringList& configFolders)
{
    ServiceConfiguration configuration { SeverityCountURL(), SeverityCountTrustedCertificates() };
    bool urlSet = false;
    bool caSet = false;
    for (const QString& folder : configFolders) {
        const QString path = QDir(folder).filePath(ConfigFile);
        if (urlSet && caSet)
            break;
        if (!QFileInfo(path).isFile())
            continue;
        if (QFileInfo(path).size() > MaximumConfigurationSize) {
            qCWarning(lcExchange).noquote() << path << "is larger than a settings file; ignored";
            continue;
        }
        QSettings settings(path, QSettings::IniFormat);
        if (settings.status() != QSettings::NoError) {
            qCWarning(lcExchange).noquote() << path << "cannot be read as a settings file; ignored";
            continue;
        }
        settings.beginGroup(QStringLiteral("Service"));
        if (!urlSet && settings.contains(QStringLiteral("URL"))) {
            const QString text = textOf(settings.value(QStringLiteral("URL"))).trimmed();
            const QUrl url(text, QUrl::StrictMode);
            if (isServiceURL(url)) {
                configuration.url = url;
                urlSet = true;
            } else {
                qCWarning(lcExchange).noquote()
                    << path << ": Service/URL" << url.toDisplayString(QUrl::RemoveUserInfo)
                    << "is not an https URL of a host without query or fragment; ignored";
            }
        }
        if (!caSet && settings.contains(QStringLiteral("CA"))) {
            const QString ca = QFileInfo(path).dir().filePath(
                textOf(settings.value(QStringLiteral("CA"))).trimmed());
            QString why;
            const std::optional<QByteArray> certificates = readCertificatesFile(ca, &why);
            if (certificates && certificates->contains("-----BEGIN CERTIFICATE-----")) {
                configuration.certificates = *certificates;
                caSet = true;
            } else {
                qCWarning(lcExchange).noquote()
                    << path << ": Service/CA" << ca
                    << (why.isEmpty() ? QStringLiteral("holds no PEM certificate; ignored")
                                      : QStringLiteral("can’t be read (%1); ignored").arg(why));
            }
        }
    }
    return configuration;
}

ServiceConfiguration readServiceConfiguration()
{
    return readServiceConfiguration(
        QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation));
}
