#pragma once

// The signed-in user's details and the one line of text that keeps them in
// the keyring: "UserName=...;Password=...;Freequency=...;Status=...".

#include "platform/Error.h"

#include <QString>
#include <functional>

class QObject;

inline const QString DetailsRecordKey = QStringLiteral("tarvenDeskDetails");
inline const QString DetailsRecordService = QStringLiteral("tarvenDeskService");

// The four values each program holds while it runs. A null string is an
// absent one.
struct UserDetails
{
    QString userName;
    QString password;
    qint32 freequency = 0;
    qint32 status = 0;
};

namespace DetailsRecord {

// No user name or password is longer (in UTF-8 bytes); a record holding one
// is not read as a user. The bound comes before any work on the text, so an
// oversized item in the keyring costs neither program time or memory.
inline constexpr qsizetype MaximumValueSize = 4 * 1024;

// True for a user name or password over MaximumValueSize.
bool isValueTooLong(const QString& value);

QString text(const UserDetails& details);

// Loads a record's text into the details; false, with the details untouched,
// for any text that is not a well-formed record, and for one whose user name
// or password is missing (written as "(null)") or over MaximumValueSize.
bool parse(const QString& text, UserDetails& details);

// Reads the text as the record reader does: leading white space, an optional
// sign and digits; no number gives 0; out-of-range values clamp.
qint32 integerValue(const QString& text);

// The storing, reading and clearing halves both programs use.
void addDetailsToKeyChain(const UserDetails& details);
// The same, telling whether the record was stored: false, with the store's
// error, when the keyring could not keep it (locked, or not running).
bool addDetailsToKeyChain(const UserDetails& details, Error* error);
bool getDetailsFromKeyChain(UserDetails& details);
// The same, handing back the store's error when its read failed: a missing
// item means nothing is stored, a locked or absent store does not.
bool getDetailsFromKeyChain(UserDetails& details, Error* error);
void clearDetailsInKeyChain();
// The same, telling whether the user is signed out: true once no credentials
// can be read back, even when the item itself could not be deleted; false,
// with the store's error, when they may still be there (locked, or not running).
bool clearDetailsInKeyChain(Error* error);

// The same three off the caller's thread, so that neither a window nor the
// tray waits on the keyring: they run on the store's own worker, one at a
// time and in the order asked, and each completion comes back on the main
// thread, where it is dropped if its context has gone meanwhile. Every
// completion gets the record as the call left it, with the store's error: a
// null error is success. Main thread only.
struct StoredDetails
{
    bool loaded = false; // false: no well-formed record, or the store's error
    UserDetails details;
    Error error;
};
using StoreCompletion = std::function<void(const StoredDetails&)>;
void getDetailsFromKeyChain(QObject* context, StoreCompletion completion);
// Loaded, with the details, once stored.
void addDetailsToKeyChain(const UserDetails& details, QObject* context, StoreCompletion completion);
// Never loaded; an error when the credentials may still be there.
void clearDetailsInKeyChain(QObject* context, StoreCompletion completion);
// Asks the keyring, through the desktop's prompt, to unlock what holds the
// record. Not on the store's worker: a prompt may stay up for minutes, and
// the reads and writes asked meanwhile do not wait for it. The completion
// gets InteractionNotAllowed when the prompt was dismissed.
void unlockKeyChain(QObject* context, StoreCompletion completion);
// A settings change in one step of the worker, so that a sign-out asked
// before it cannot be undone by it: the stored record keeps its credentials
// and takes the two settings, but only while it holds userName. The details
// are the record as it now stands, loaded false when it holds someone else or
// no one; an error with loaded true is a save that failed.
void updateSettingsInKeyChain(const QString& userName, qint32 freequency, qint32 status,
    QObject* context, StoreCompletion completion);

} // namespace DetailsRecord
