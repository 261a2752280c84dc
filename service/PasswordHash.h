#pragma once

// A password as the service keeps it: never the password itself, only a slow
// salted hash (PBKDF2-HMAC-SHA256) with what is needed to check it again.
// The algorithm and iteration count are stored with each hash, so raising the
// count later leaves existing users able to sign in.

#include <QByteArray>
#include <QString>

struct PasswordHash
{
    static inline const QString pbkdf2Sha256 = QStringLiteral("pbkdf2-sha256");
    static constexpr int defaultIterations = 600000;
    static constexpr int maxIterations = 10000000;
    static constexpr int saltSize = 16;
    static constexpr int hashSize = 32;

    QString algorithm;
    int iterations = 0;
    QByteArray salt;
    QByteArray hash;

    // A new hash with a fresh random salt; an invalid (empty) one if the
    // system's random source fails.
    static PasswordHash make(const QByteArray& password, int iterations = defaultIterations);

    bool isValid() const;

    // Compares in constant time. A hash of an unknown algorithm matches nothing.
    bool matches(const QByteArray& password) const;

    // Spends the time a check takes, for a user who does not exist, so that
    // the answer's timing does not tell which user names are known.
    static void spendCheckTime(const QByteArray& password);

private:
    static QByteArray derive(const QByteArray& password, const QByteArray& salt, int iterations);
};
