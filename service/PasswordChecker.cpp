#include "service/PasswordChecker.h"

#include <QDataStream>
#include <QIODevice>
#include <algorithm>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

namespace {

constexpr int secretSize = 32;

} // namespace

PasswordChecker::PasswordChecker(int concurrent, int queued)
    : m_concurrent(std::max(1, concurrent))
    , m_queued(std::max(0, queued))
    , m_perClient(std::max(1, (m_concurrent + m_queued) / 2))
    , m_secret(secretSize, '\0')
{
    // Without a random key nothing is remembered: every check hashes.
    if (RAND_bytes(reinterpret_cast<unsigned char*>(m_secret.data()), secretSize) != 1)
        m_secret.clear();
}

PasswordChecker::Result PasswordChecker::check(const QString& client, const QString& name,
    const QByteArray& password, const UserStore::StoredPassword& stored)
{
    const QByteArray key = stored.known ? rememberedKey(name, password, stored.hash) : QByteArray();
    if (!key.isEmpty() && isRemembered(key))
        return Result::Accepted;
    if (!admit(client))
        return Result::Busy;
    bool accepted = false;
    if (stored.known)
        accepted = stored.hash.matches(password);
    else
        PasswordHash::spendCheckTime(password);
    release(client);
    if (accepted && !key.isEmpty())
        remember(key);
    return accepted ? Result::Accepted : Result::Refused;
}

bool PasswordChecker::admit(const QString& client)
{
    std::unique_lock lock(m_mutex);
    int& inFlight = m_inFlight[client];
    if ((m_running >= m_concurrent && m_waiting >= m_queued) || inFlight >= m_perClient) {
        if (inFlight == 0)
            m_inFlight.remove(client);
        return false;
    }
    ++inFlight;
    if (m_waiting == 0 && m_running < m_concurrent) {
        ++m_running;
        return true;
    }
    ++m_waiting;
    const quint64 turn = m_nextTurn++;
    m_freed.wait(lock, [this, turn] { return m_turn == turn && m_running < m_concurrent; });
    ++m_turn;
    --m_waiting;
    ++m_running;
    // The next in line may find a place free too.
    m_freed.notify_all();
    return true;
}

void PasswordChecker::release(const QString& client)
{
    {
        const std::lock_guard lock(m_mutex);
        --m_running;
        if (--m_inFlight[client] <= 0)
            m_inFlight.remove(client);
    }
    m_freed.notify_all();
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
            reinterpret_cast<const unsigned char*>(message.constData()),
            static_cast<std::size_t>(message.size()), reinterpret_cast<unsigned char*>(mac.data()),
            &size))
        return {};
    mac.truncate(static_cast<qsizetype>(size));
    return mac;
}

bool PasswordChecker::isRemembered(const QByteArray& key)
{
    const std::lock_guard lock(m_mutex);
    const auto found = m_remembered.constFind(key);
    return found != m_remembered.constEnd()
        && std::chrono::steady_clock::now() - *found < rememberFor;
}

void PasswordChecker::remember(const QByteArray& key)
{
    const auto now = std::chrono::steady_clock::now();
    const std::lock_guard lock(m_mutex);
    if (m_remembered.size() >= maxRemembered) {
        m_remembered.removeIf(
            [now](const auto& entry) { return now - entry.value() >= rememberFor; });
        if (m_remembered.size() >= maxRemembered)
            m_remembered.clear();
    }
    m_remembered.insert(key, now);
}
