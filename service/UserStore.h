#pragma once

// The service's records in one SQLite file: users with their password hashes,
// and each user's documents with an expiry date. The file is in WAL mode with
// a busy timeout, so the administration commands can write while a server
// process reads it. One connection serves the server's workers in turn.

#include "service/PasswordHash.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QString>
#include <mutex>
#include <optional>

struct sqlite3;

class UserStore
{
public:
    static constexpr qsizetype maxNameSize = 256; // UTF-8 bytes
    static constexpr qsizetype maxPasswordSize = 1024;

    struct StoredPassword
    {
        bool known = false; // whether the user exists
        PasswordHash hash;
    };

    UserStore() = default;
    ~UserStore();
    UserStore(const UserStore&) = delete;
    UserStore& operator=(const UserStore&) = delete;

    // Creates the file (readable by its owner only) and its tables when missing.
    bool open(const QString& path, QString* why = nullptr);

    // Adds the user, or gives an existing user this new password.
    bool setUser(const QString& name, const QByteArray& password, QString* why = nullptr,
        int iterations = PasswordHash::defaultIterations);
    std::optional<bool> hasUser(const QString& name, QString* why = nullptr);
    bool addDocument(
        const QString& user, const QString& title, QDate expiry, QString* why = nullptr);

    // Nothing when the records cannot be read. The hash is checked by the
    // caller, outside the store's lock: it is the slow part of a request.
    std::optional<StoredPassword> storedPassword(const QString& name, QString* why = nullptr);
    std::optional<QList<QDate>> expiryDates(const QString& user, QString* why = nullptr);

private:
    bool fail(QString* why, const QString& what) const;

    std::mutex m_mutex;
    sqlite3* m_db = nullptr;
};
