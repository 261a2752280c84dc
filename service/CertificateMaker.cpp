#include "service/CertificateMaker.h"

#include <QDir>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using Key = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using Certificate = std::unique_ptr<X509, decltype(&X509_free)>;
using Bio = std::unique_ptr<BIO, decltype(&BIO_free)>;
using Extensions = std::vector<std::pair<int, const char*>>;

Key newKey()
{
    return Key(
        EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", const_cast<char*>("P-256")), EVP_PKEY_free);
}

bool setRandomSerial(X509* certificate)
{
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1)
        return false;
    bytes[0] &= 0x7f; // serial numbers are positive
    std::unique_ptr<BIGNUM, decltype(&BN_free)> serial(
        BN_bin2bn(bytes, sizeof bytes, nullptr), BN_free);
    return serial && BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(certificate));
}

// A certificate for key, signed by issuerKey; self-signed when issuer is null.
Certificate makeCertificate(EVP_PKEY* key, const char* commonName, X509* issuer,
    EVP_PKEY* issuerKey, int days, const Extensions& extensions)
{
    Certificate certificate(X509_new(), X509_free);
    X509* x = certificate.get();
    if (!x || X509_set_version(x, X509_VERSION_3) != 1 || !setRandomSerial(x))
        return Certificate(nullptr, X509_free);
    // An hour back, for a client whose clock runs a little behind.
    X509_gmtime_adj(X509_getm_notBefore(x), -3600);
    X509_gmtime_adj(X509_getm_notAfter(x), days * 86400L);
    X509_set_pubkey(x, key);
    X509_NAME* name = X509_get_subject_name(x);
    const auto text
        = [](const char* value) { return reinterpret_cast<const unsigned char*>(value); };
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, text("tarvenDESK"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, text(commonName), -1, -1, 0);
    X509_set_issuer_name(x, issuer ? X509_get_subject_name(issuer) : name);

    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer ? issuer : x, x, nullptr, nullptr, 0);
    for (const auto& [nid, value] : extensions) {
        X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
        const bool added = extension && X509_add_ext(x, extension, -1) == 1;
        X509_EXTENSION_free(extension);
        if (!added)
            return Certificate(nullptr, X509_free);
    }
    if (X509_sign(x, issuerKey, EVP_sha256()) <= 0)
        return Certificate(nullptr, X509_free);
    return certificate;
}

template <typename Write> QByteArray pem(Write write)
{
    Bio bio(BIO_new(BIO_s_mem()), BIO_free);
    if (!bio || write(bio.get()) != 1)
        return {};
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return QByteArray(data, size);
}

// Written beside the target and renamed over it, so a reader never sees half a
// file, and created with its final mode, so a key is never readable by others.
bool writeFile(const QString& path, const QByteArray& bytes, mode_t mode, QString* why)
{
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary = target + ".new";
    ::unlink(temporary.constData());
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    bool ok = fd >= 0 && ::fchmod(fd, mode) == 0
        && ::write(fd, bytes.constData(), bytes.size()) == bytes.size() && ::fsync(fd) == 0;
    if (fd >= 0)
        ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temporary.constData(), target.constData()) == 0;
    if (!ok) {
        if (why)
            *why = QStringLiteral("cannot write %1: %2")
                       .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        ::unlink(temporary.constData());
    }
    return ok;
}

} // namespace

bool CertificateMaker::make(const QString& directory, QString* why)
{
    const auto fail = [why](const QString& text) {
        if (why)
            *why = text;
        return false;
    };
    if (!QDir().mkpath(directory))
        return fail(QStringLiteral("cannot make the directory %1").arg(directory));

    const Key caKey = newKey();
    const Key serverKey = newKey();
    if (!caKey || !serverKey)
        return fail(QStringLiteral("cannot make a key"));
    const Certificate ca
        = makeCertificate(caKey.get(), "tarvenDESK loopback CA", nullptr, caKey.get(), caDays,
            { { NID_basic_constraints, "critical,CA:TRUE,pathlen:0" },
                { NID_key_usage, "critical,keyCertSign,cRLSign" },
                { NID_subject_key_identifier, "hash" } });
    if (!ca)
        return fail(QStringLiteral("cannot make the CA certificate"));
    const Certificate server
        = makeCertificate(serverKey.get(), "localhost", ca.get(), caKey.get(), certificateDays,
            { { NID_basic_constraints, "critical,CA:FALSE" },
                { NID_key_usage, "critical,digitalSignature" }, { NID_ext_key_usage, "serverAuth" },
                { NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1,IP:::1" },
                { NID_subject_key_identifier, "hash" },
                { NID_authority_key_identifier, "keyid:always" } });
    if (!server)
        return fail(QStringLiteral("cannot make the server certificate"));

    const QByteArray caPem = pem([&](BIO* bio) { return PEM_write_bio_X509(bio, ca.get()); });
    const QByteArray serverPem
        = pem([&](BIO* bio) { return PEM_write_bio_X509(bio, server.get()); });
    const QByteArray keyPem = pem([&](BIO* bio) {
        return PEM_write_bio_PrivateKey(
            bio, serverKey.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
    if (caPem.isEmpty() || serverPem.isEmpty() || keyPem.isEmpty())
        return fail(QStringLiteral("cannot encode the certificates"));

    const QDir dir(directory);
    return writeFile(dir.filePath(keyFileName), keyPem, 0600, why)
        && writeFile(dir.filePath(certificateFileName), serverPem, 0644, why)
        && writeFile(dir.filePath(caFileName), caPem, 0644, why);
}

bool CertificateMaker::keyMatches(const QByteArray& certificatePem, const QByteArray& keyPem)
{
    Bio certificateBio(
        BIO_new_mem_buf(certificatePem.constData(), static_cast<int>(certificatePem.size())),
        BIO_free);
    Bio keyBio(BIO_new_mem_buf(keyPem.constData(), static_cast<int>(keyPem.size())), BIO_free);
    if (!certificateBio || !keyBio)
        return false;
    const Certificate certificate(
        PEM_read_bio_X509(certificateBio.get(), nullptr, nullptr, nullptr), X509_free);
    // No passphrase prompt: a service that starts unattended cannot answer one.
    pem_password_cb* const noPassphrase = [](char*, int, int, void*) { return 0; };
    const Key key(
        PEM_read_bio_PrivateKey(keyBio.get(), nullptr, noPassphrase, nullptr), EVP_PKEY_free);
    return certificate && key && X509_check_private_key(certificate.get(), key.get()) == 1;
}
