#pragma once

// The file manager's "duplicate item to folder" into a folder the user may not
// write to: the copy is made by a small tool of the suite that pkexec runs
// with administrator rights once polkit has asked the user for them, as a
// file manager asks.

#include "platform/Error.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>

namespace PrivilegedDuplication {

inline const QString ErrorDomain = QStringLiteral("PrivilegedDuplicationErrorDomain");
enum : qint64
{
    UntrustedTool = 1,
    NotAuthorised,
    CopyFailed,
    ToolNotStarted,
    TimedOut
};

// True for an ordinary user and a folder that is there but that the user may
// not write to; a missing folder is the plain copy's failure to report.
bool needsAdministratorRights(const QString& folderPath);

// Whether the tool at this path may be run with administrator rights, with
// the error saying why not: it and every folder above it must belong to root
// and be writable by nobody else, or whoever may change it would be handed root.
bool isTrustedTool(const QString& toolPath, Error* error);

// pkexec and the tool beside the running program's executable.
QStringList privilegedCommand();

// The copy's path, or a null one with the error.
using Completion = std::function<void(const QString& copyPath, const Error& error)>;

constexpr std::chrono::minutes DefaultTimeLimit { 5 };

// As FileDuplication::duplicateItem, made by the command with the item and
// the folder as its last two arguments (a test may run pkexec as another
// user); returns at once and hands the outcome to done unless context goes
// first. A refused, dismissed or impossible authorisation is a failure that
// says so, and so are pkexec with an untrusted tool and a command that has
// not ended within the time limit (which takes in the time the user takes
// to answer).
void duplicateItem(const QString& itemPath, const QString& folderPath, QObject* context,
    Completion done, const QStringList& command = privilegedCommand(),
    std::chrono::milliseconds timeLimit = DefaultTimeLimit);

} // namespace PrivilegedDuplication
