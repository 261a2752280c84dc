#include "platform/NetworkTrust.h"

#include <QSslConfiguration>
#include <QThreadPool>

#include <future>
#include <memory>

namespace {

// Reading the system's authorities parses a few hundred certificates, which
// takes long enough to hold up a window; it runs on a worker from the first
// addition, and the result is joined with the added ones only when the first
// connection needs the configuration. Touched from the main thread only.
struct PendingTrust
{
    bool pending = false;
    QList<QSslCertificate> base;
    std::shared_future<QList<QSslCertificate>> system;
    QList<QSslCertificate> added;
};

PendingTrust& pendingTrust()
{
    static PendingTrust trust;
    return trust;
}

std::shared_future<QList<QSslCertificate>> readSystemCertificates()
{
    auto promise = std::make_shared<std::promise<QList<QSslCertificate>>>();
    std::shared_future<QList<QSslCertificate>> result = promise->get_future().share();
    // The global pool is waited for when the application ends, so a program
    // that quits before its first request does not leave the worker behind.
    QThreadPool::globalInstance()->start([promise] {
        try {
            promise->set_value(QSslConfiguration::systemCaCertificates());
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
        // Setting authorities turns off Qt's loading of the system's on demand,
        // so the system's are named explicitly, together with those set before.
        trust.base = QSslConfiguration::defaultConfiguration().caCertificates();
        if (trust.base.isEmpty())
            trust.system = readSystemCertificates();
    }
    trust.added.append(certificates);
}

void NetworkTrust::applyTrustedCertificates()
{
    PendingTrust& trust = pendingTrust();
    if (!trust.pending)
        return;
    QList<QSslCertificate> trusted = trust.system.valid() ? trust.system.get() : trust.base;
    for (const QSslCertificate& certificate : std::as_const(trust.added)) {
        if (!trusted.contains(certificate))
            trusted.append(certificate);
    }
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setCaCertificates(trusted);
    QSslConfiguration::setDefaultConfiguration(configuration);
    trust = PendingTrust();
}
