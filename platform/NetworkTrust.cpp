#include "platform/NetworkTrust.h"

#include <QSslConfiguration>
#include <QThreadPool>

#include <future>
#include <memory>

namespace {

// Loading the TLS backend and reading the system's authorities take long
// enough to hold up a window or a tray item; both run on a worker from the
// first addition, and the result is joined with the added ones only when the
// first connection needs the configuration. Touched from the main thread only.
struct PendingTrust
{
    bool pending = false;
    std::shared_future<QList<QSslCertificate>> base;
    QList<QSslCertificate> added;
};

PendingTrust& pendingTrust()
{
    static PendingTrust trust;
    return trust;
}

// Where update-ca-certificates keeps every authority of the system in one
// file: one read instead of one per certificate and link in the folder.
const char systemBundle[] = "/etc/ssl/certs/ca-certificates.crt";

QList<QSslCertificate> systemCertificates()
{
    const QList<QSslCertificate> bundle
        = QSslCertificate::fromPath(QString::fromLatin1(systemBundle), QSsl::Pem);
    return bundle.isEmpty() ? QSslConfiguration::systemCaCertificates() : bundle;
}

// Setting authorities turns off Qt's loading of the system's on demand, so
// the system's are named explicitly, together with those set before.
std::shared_future<QList<QSslCertificate>> readBaseCertificates()
{
    auto promise = std::make_shared<std::promise<QList<QSslCertificate>>>();
    std::shared_future<QList<QSslCertificate>> result = promise->get_future().share();
    // The global pool is waited for when the application ends, so a program
    // that quits before its first request does not leave the worker behind.
    QThreadPool::globalInstance()->start([promise] {
        try {
            const QList<QSslCertificate> base = QSslConfiguration::defaultConfiguration().caCertificates();
            promise->set_value(base.isEmpty() ? systemCertificates() : base);
        } catch (...) {
            promise->set_exception(std::current_exception());
        }
    });
    return result;
}

} // namespace

void NetworkTrust::addTrustedCertificates(const QList<QSslCertificate>& certificates)
{
    if (certificates.isEmpty())
        return;
    PendingTrust& trust = pendingTrust();
    if (!trust.pending) {
        trust.pending = true;
        trust.base = readBaseCertificates();
    }
    trust.added.append(certificates);
}

void NetworkTrust::applyTrustedCertificates()
{
    PendingTrust& trust = pendingTrust();
    if (!trust.pending)
        return;
    QList<QSslCertificate> trusted = trust.base.get();
    for (const QSslCertificate& certificate : std::as_const(trust.added)) {
        if (!trusted.contains(certificate))
            trusted.append(certificate);
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setCaCertificates(trusted);
    QSslConfiguration::setDefaultConfiguration(configuration);
    trust = PendingTrust();
}
