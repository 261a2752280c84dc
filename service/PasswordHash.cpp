#include "service/PasswordHash.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

PasswordHash PasswordHash::make(const QByteArray& password, int iterations)
{
    QByteArray salt(saltSize, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(salt.data()), saltSize) != 1)
        return {};
    const QByteArray hash = derive(password, salt, iterations);
    if (hash.isEmpty())
        return {};
    return { pbkdf2Sha256, iterations, salt, hash };
}

bool PasswordHash::isValid() const
{
    // The bound keeps a damaged record from stalling the service in one check.
    return algorithm == pbkdf2Sha256 && iterations > 0 && iterations <= maxIterations
        && !salt.isEmpty() && hash.size() == hashSize;
}

bool PasswordHash::matches(const QByteArray& password) const
{
    if (!isValid())
        return false;
    const QByteArray candidate = derive(password, salt, iterations);
    return candidate.size() == hash.size()
        && CRYPTO_memcmp(candidate.constData(), hash.constData(), hash.size()) == 0;
}

void PasswordHash::spendCheckTime(const QByteArray& password)
{
    static const QByteArray salt(saltSize, '\x5a');
    derive(password, salt, defaultIterations);
}

QByteArray PasswordHash::derive(const QByteArray& password, const QByteArray& salt, int iterations)
{
    QByteArray out(hashSize, '\0');
    const int ok = PKCS5_PBKDF2_HMAC(password.constData(), static_cast<int>(password.size()),
        reinterpret_cast<const unsigned char*>(salt.constData()), static_cast<int>(salt.size()),
        iterations, EVP_sha256(), hashSize, reinterpret_cast<unsigned char*>(out.data()));
    return ok == 1 ? out : QByteArray();
}
