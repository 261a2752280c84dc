#include "service/PasswordChecker.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <QDataStream>
#include <QIODevice>

#include <algorithm>

namespace {

constexpr int secretSize = 32;

} // namespace

PasswordChecker::PasswordChecker(int concurrent, int queued)
    : m_concurrent(std::max(1, concurrent))
    , m_queued(std::max(0, queued))
    , m_secret(secretSize, '\0')
{
    // Without a random key nothing is remembered: every check hashes.
    if (RAND_bytes(reinterpret_cast<unsigned char*>(m_secret.data()), secretSize) != 1)
        m_secret.clear();
}

PasswordChecker::Result PasswordChecker::check(
    const QString& name, const QByteArray& password, const UserStore::StoredPassword& stored)
{
    const QByteArray key = stored.known ? rememberedKey(name, password, stored.hash) : QByteArray();
    if (!key.isEmpty() && isRemembered(key))
        return Result::Accepted;
    if (!admit())
        return Result::Busy;
    bool accepted = false;
    if (stored.known)
        accepted = stored.hash.matches(password);
    else
        PasswordHash::spendCheckTime(password);
    release();
    if (accepted && !key.isEmpty())
        remember(key);
    return accepted ? Result::Accepted : Result::Refused;
}

bool PasswordChecker::admit()
{
    std::unique_lock lock(m_mutex);
    if (m_running >= m_concurrent && m_waiting >= m_queued)
        return false;
    ++m_waiting;
    m_freed.wait(lock, [this] { return m_running < m_concurrent; });
    --m_waiting;
    ++m_running;
    return true;
}

void PasswordChecker::release()
{
    {
        const std::lock_guard lock(m_mutex);
        --m_running;
    }
    m_freed.notify_one();
}

QByteArray PasswordChecker::rememberedKey(
    const QString& name, const QByteArray& password, const PasswordHash& hash) const
{
    if (m_secret.isEmpty())
        return {};
    QByteArray message;
    QDataStream stream(&message, QIODevice::WriteOnly);
    stream << name << password << hash.algorithm << hash.iterations << hash.salt << hash.hash;
    QByteArray mac(EVP_MAX_MD_SIZE, '\0');
    unsigned int size = 0;
    if (!HMAC(EVP_sha256(), m_secret.constData(), static_cast<int>(m_secret.size()),
            reinterpret_cast<const unsigned char*>(message.constData()), static_cast<std::size_t>(message.size()),
            reinterpret_cast<unsigned char*>(mac.data()), &size))
        return {};
    mac.truncate(static_cast<qsizetype>(size));
    return mac;
}

bool PasswordChecker::isRemembered(const QByteArray& key)
{
    const std::lock_guard lock(m_mutex);
    const auto found = m_remembered.constFind(key);
    return found != m_remembered.constEnd() && std::chrono::steady_clock::now() - *found < rememberFor;
}

void PasswordChecker::remember(const QByteArray& key)
{
    const auto now = std::chrono::steady_clock::now();
    const std::lock_guard lock(m_mutex);
    if (m_remembered.size() >= maxRemembered) {
        m_remembered.removeIf([now](const auto& entry) { return now - entry.value() >= rememberFor; });
        if (m_remembered.size() >= maxRemembered)
            m_remembered.clear();
    }
    m_remembered.insert(key, now);
}
