#include "platform/NetworkTrust.h"

#include "platform/Logging.h"

#include <QNetworkReply>
#include <QSslConfiguration>
#include <QSslSocket>
#include <memory>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

namespace {

struct AddedCertificates
{
    QList<QSslCertificate> certificates;
    QList<QByteArray> unread;
};

AddedCertificates& added()
{
    static AddedCertificates added;
    return added;
}

void add(QList<QSslCertificate>& list, const QList<QSslCertificate>& certificates)
{
    for (const QSslCertificate& certificate : certificates) {
        if (!certificate.isNull() && !list.contains(certificate))
            list.append(certificate);
    }
}

const QList<QSslCertificate>& addedCertificates()
{
    AddedCertificates& trust = added();
    for (const QByteArray& pem : std::as_const(trust.unread)) {
        const QList<QSslCertificate> certificates = QSslCertificate::fromData(pem, QSsl::Pem);
        if (certificates.isEmpty())
            qCWarning(lcExchange) << "An added authority's text holds no PEM certificate; ignored";
        add(trust.certificates, certificates);
    }
    trust.unread.clear();
    return trust.certificates;
}

template <typename T, void (*Free)(T*)> struct Freeing
{
    void operator()(T* object) const { Free(object); }
};
using Store = std::unique_ptr<X509_STORE, Freeing<X509_STORE, X509_STORE_free>>;
using StoreContext = std::unique_ptr<X509_STORE_CTX, Freeing<X509_STORE_CTX, X509_STORE_CTX_free>>;

void freeStack(STACK_OF(X509) * stack)
{
    // The certificates stay the QSslCertificates' own.
    sk_X509_free(stack);
}
using Stack = std::unique_ptr<STACK_OF(X509), Freeing<STACK_OF(X509), freeStack>>;

X509* handleOf(const QSslCertificate& certificate)
{
    return static_cast<X509*>(certificate.handle());
}

} // namespace

void NetworkTrust::addTrustedCertificates(const QList<QSslCertificate>& certificates)
{
    add(added().certificates, certificates);
}

void NetworkTrust::addTrustedCertificates(const QByteArray& pem)
{
    if (!pem.isEmpty())
        added().unread.append(pem);
}

bool NetworkTrust::isTrustedByAddedCertificates(
    const QList<QSslCertificate>& chain, const QString& host)
{
    const QList<QSslCertificate>& authorities = addedCertificates();
    if (authorities.isEmpty() || chain.isEmpty() || chain.first().isNull() || host.isEmpty())
        return false;
    // The handles are OpenSSL's only under Qt's OpenSSL backend.
    if (QSslSocket::activeBackend() != QStringLiteral("openssl")) {
        qCWarning(lcExchange) << "The added authorities need Qt's OpenSSL backend, not"
                              << QSslSocket::activeBackend();
        return false;
    }
    const Store store(X509_STORE_new());
    const Stack intermediates(sk_X509_new_null());
    const StoreContext context(X509_STORE_CTX_new());
    if (!store || !intermediates || !context)
        return false;
    for (const QSslCertificate& authority : authorities)
        X509_STORE_add_cert(store.get(), handleOf(authority));
    for (qsizetype i = 1; i < chain.size(); ++i) {
        if (!chain[i].isNull())
            sk_X509_push(intermediates.get(), handleOf(chain[i]));
    }
    if (X509_STORE_CTX_init(
            context.get(), store.get(), handleOf(chain.first()), intermediates.get())
        != 1)
        return false;
    X509_VERIFY_PARAM* parameters = X509_STORE_CTX_get0_param(context.get());
    // An added authority is trusted as it is, as Qt trusts its own list: it
    // need not be a root.
    X509_VERIFY_PARAM_set_flags(parameters, X509_V_FLAG_PARTIAL_CHAIN);
    X509_VERIFY_PARAM_set_purpose(parameters, X509_PURPOSE_SSL_SERVER);
    const QByteArray name = host.toLatin1();
    if (X509_VERIFY_PARAM_set1_ip_asc(parameters, name.constData()) != 1
        && X509_VERIFY_PARAM_set1_host(parameters, name.constData(), 0) != 1)
        return false;
    if (X509_verify_cert(context.get()) == 1)
        return true;
    qCInfo(lcExchange) << "The server's chain for" << host << "is not an added authority's either:"
                       << X509_verify_cert_error_string(X509_STORE_CTX_get_error(context.get()));
    return false;
}

void NetworkTrust::applyTrustedCertificates(QNetworkReply* reply)
{
    if (added().certificates.isEmpty() && added().unread.isEmpty())
        return;
    QObject::connect(
        reply, &QNetworkReply::sslErrors, reply, [reply](const QList<QSslError>& errors) {
            // The host as it goes on the wire: an international name in its
            // ASCII form, as the certificate carries it.
            const QString host = reply->url().host(QUrl::FullyEncoded);
            if (isTrustedByAddedCertificates(
                    reply->sslConfiguration().peerCertificateChain(), host))
                reply->ignoreSslErrors(errors);
        });
}
