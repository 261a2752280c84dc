#include "platform/NetworkTrust.h"

#include <QSslConfiguration>

void NetworkTrust::addTrustedCertificates(const QList<QSslCertificate>& certificates)
{
    if (certificates.isEmpty())
        return;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    // Setting authorities turns off Qt's loading of the system's on demand, so
    // the system's are named explicitly, together with those added before.
    QList<QSslCertificate> trusted = configuration.caCertificates();
    if (trusted.isEmpty())
        trusted = QSslConfiguration::systemCaCertificates();
    for (const QSslCertificate& certificate : certificates) {
        if (!trusted.contains(certificate))
            trusted.append(certificate);
    }
    configuration.setCaCertificates(trusted);
    QSslConfiguration::setDefaultConfiguration(configuration);
}
