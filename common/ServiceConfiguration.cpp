#include "common/ServiceConfiguration.h"

#include "common/SeverityCountRequest.h"
#include "platform/Logging.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>

namespace {

const QString ConfigFile = QStringLiteral("tarvenDESK/tarvenDESK.conf");

// The credentials travel only over verified TLS, so anything but a plain
// https URL to a host is refused.
bool isServiceURL(const QUrl& url)
{
    return url.isValid() && url.scheme() == u"https" && !url.host().isEmpty() && !url.hasQuery()
        && !url.hasFragment() && url.userInfo().isEmpty();
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
            QFile file(ca);
            const QByteArray certificates = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
            if (certificates.contains("-----BEGIN CERTIFICATE-----")) {
                configuration.certificates = certificates;
                caSet = true;
            } else {
                qCWarning(lcExchange).noquote()
                    << path << ": Service/CA" << ca << "is no readable PEM certificate file; ignored";
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
