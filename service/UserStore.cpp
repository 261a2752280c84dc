#include "service/UserStore.h"

#include "service/PasswordHash.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

namespace {

const char* const schema = R"(
CREATE TABLE IF NOT EXISTS users (
    name TEXT PRIMARY KEY NOT NULL,
    algorithm TEXT NOT NULL,
    iterations INTEGER NOT NULL,
    salt BLOB NOT NULL,
    hash BLOB NOT NULL
);
CREATE TABLE IF NOT EXISTS documents (
    id INTEGER PRIMARY KEY,
    user TEXT NOT NULL REFERENCES users(name) ON DELETE CASCADE,
    title TEXT NOT NULL,
    expires TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS documents_by_user ON documents(user);
)";

// One prepared statement, finalized however the caller leaves.
class Statement
{
public:
    Statement(sqlite3* db, const char* sql)
    {
        sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr);
    }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool isValid() const { return m_statement != nullptr; }
    Statement& bind(const QString& text)
    {
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text(m_statement, ++m_bound, utf8.constData(), static_cast<int>(utf8.size()),
            SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bind(const QByteArray& blob)
    {
        sqlite3_bind_blob(m_statement, ++m_bound, blob.constData(), static_cast<int>(blob.size()),
            SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bind(int number)
    {
        sqlite3_bind_int(m_statement, ++m_bound, number);
        return *this;
    }
    int step() { return m_statement ? sqlite3_step(m_statement) : SQLITE_ERROR; }
    QString text(int column) const
    {
        const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
        return QString::fromUtf8(bytes, sqlite3_column_bytes(m_statement, column));
    }
    QByteArray blob(int column) const
    {
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(m_statement, column));
        return QByteArray(bytes, sqlite3_column_bytes(m_statement, column));
    }
    int integer(int column) const { return sqlite3_column_int(m_statement, column); }

private:
    sqlite3_stmt* m_statement = nullptr;
    int m_bound = 0;
};

} // namespace

UserStore::~UserStore()
{
    sqlite3_close(m_db);
}

bool UserStore::open(const QString& path, QString* why)
{
    const std::lock_guard lock(m_mutex);
    const QByteArray file = path.toLocal8Bit();
    // Password hashes are nobody else's business: create the file 0600 before
    // SQLite does, and its journal files inherit that mode.
    const int fd = ::open(file.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        if (why)
            *why = QStringLiteral("cannot open the database %1: %2")
                       .arg(path, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    ::close(fd);

    if (sqlite3_open_v2(file.constData(), &m_db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        return fail(why, QStringLiteral("cannot open the database %1").arg(path));
    sqlite3_busy_timeout(m_db, 5000);
    if (sqlite3_exec(
            m_db, "PRAGMA journal_mode = WAL; PRAGMA foreign_keys = ON;", nullptr, nullptr, nullptr)
            != SQLITE_OK
        || sqlite3_exec(m_db, schema, nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail(why, QStringLiteral("cannot use the database %1").arg(path));
    return true;
}

bool UserStore::setUser(
    const QString& name, const QByteArray& password, QString* why, int iterations)
{
    const std::lock_guard lock(m_mutex);
    const PasswordHash hash = PasswordHash::make(password, iterations);
    if (!hash.isValid())
        return fail(why, QStringLiteral("cannot hash the password"));
    Statement insert(m_db,
        "INSERT INTO users (name, algorithm, iterations, salt, hash) VALUES (?, ?, ?, ?, ?) "
        "ON CONFLICT (name) DO UPDATE SET algorithm = excluded.algorithm, iterations = "
        "excluded.iterations, "
        "salt = excluded.salt, hash = excluded.hash");
    insert.bind(name).bind(hash.algorithm).bind(hash.iterations).bind(hash.salt).bind(hash.hash);
    return insert.step() == SQLITE_DONE || fail(why, QStringLiteral("cannot store the user"));
}

std::optional<bool> UserStore::hasUser(const QString& name, QString* why)
{
    const std::lock_guard lock(m_mutex);
    Statement select(m_db, "SELECT 1 FROM users WHERE name = ?");
    const int result = select.bind(name).step();
    if (result != SQLITE_ROW && result != SQLITE_DONE) {
        fail(why, QStringLiteral("cannot read the users"));
        return std::nullopt;
    }
    return result == SQLITE_ROW;
}

bool UserStore::addDocument(const QString& user, const QString& title, QDate expiry, QString* why)
{
    const std::lock_guard lock(m_mutex);
    Statement insert(m_db, "INSERT INTO documents (user, title, expires) VALUES (?, ?, ?)");
    insert.bind(user).bind(title).bind(expiry.toString(Qt::ISODate));
    return insert.step() == SQLITE_DONE || fail(why, QStringLiteral("cannot store the document"));
}

std::optional<UserStore::StoredPassword> UserStore::storedPassword(
    const QString& name, QString* why)
{
    const std::lock_guard lock(m_mutex);
    Statement select(m_db, "SELECT algorithm, iterations, salt, hash FROM users WHERE name = ?");
    const int result = select.bind(name).step();
    if (result == SQLITE_DONE)
        return StoredPassword {};
    if (result != SQLITE_ROW) {
        fail(why, QStringLiteral("cannot read the users"));
        return std::nullopt;
    }
    return StoredPassword { true,
        { select.text(0), select.integer(1), select.blob(2), select.blob(3) } };
}

std::optional<QList<QDate>> UserStore::expiryDates(const QString& user, QString* why)
{
    const std::lock_guard lock(m_mutex);
    Statement select(m_db, "SELECT expires FROM documents WHERE user = ?");
    select.bind(user);
    QList<QDate> dates;
    int result = SQLITE_ROW;
    while ((result = select.step()) == SQLITE_ROW) {
        const QDate date = QDate::fromString(select.text(0), Qt::ISODate);
        if (date.isValid())
            dates.append(date);
    }
    if (result != SQLITE_DONE) {
        fail(why, QStringLiteral("cannot read the documents"));
        return std::nullopt;
    }
    return dates;
}

bool UserStore::fail(QString* why, const QString& what) const
{
    if (why)
        *why = m_db ? QStringLiteral("%1: %2").arg(what, QString::fromUtf8(sqlite3_errmsg(m_db)))
                    : what;
    return false;
}
