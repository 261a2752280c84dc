#pragma once

// Checks passwords against their stored hashes for the connection workers. A
// check costs a slow hash on purpose, so only a few run at a time and a
// bounded number wait for their turn; a request past that is turned away
// rather than left to pile up behind the others. Each client address has at
// most half of the places (running and waiting), and the waiting ones take
// their turns in order, so a client that floods the checks leaves room for
// the others and is not overtaken by them either.
//
// A password accepted lately is accepted again without the slow hash: the
// checker keeps, for a few minutes, an HMAC of the name, the password and the
// stored hash under a key made afresh by each process. Neither the password
// nor anything that helps guess it offline is kept, and a new password (a new
// stored hash) no longer matches what was kept. Clients that poll, and the
// test suites that sign in many times, so pay the hash once.

#include "service/UserStore.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <chrono>
#include <condition_variable>
#include <mutex>

class PasswordChecker
{
public:
    enum class Result
    {
        Accepted,
        Refused,
        Busy
    };

    static constexpr std::chrono::minutes rememberFor { 5 };
    static constexpr qsizetype maxRemembered = 1024;

    // At most concurrent hashes at a time, and at most queued requests
    // waiting for one; concurrent is at least 1.
    PasswordChecker(int concurrent, int queued);

    // An unknown user costs the time of a check too, so that the answer's
    // timing does not tell which user names exist. client is the address the
    // request came from.
    Result check(const QString& client, const QString& name, const QByteArray& password,
        const UserStore::StoredPassword& stored);

private:
    bool admit(const QString& client);
    void release(const QString& client);
    QByteArray rememberedKey(
        const QString& name, const QByteArray& password, const PasswordHash& hash) const;
    bool isRemembered(const QByteArray& key);
    void remember(const QByteArray& key);

    const int m_concurrent;
    const int m_queued;
    const int m_perClient;
    QByteArray m_secret;

    std::mutex m_mutex;
    std::condition_variable m_freed;
    int m_running = 0;
    int m_waiting = 0;
    quint64 m_nextTurn = 0; // handed to each request that waits
    quint64 m_turn = 0; // the waiting request whose turn is next
    QHash<QString, int> m_inFlight; // running and waiting, by client
    QHash<QByteArray, std::chrono::steady_clock::time_point> m_remembered;
};
