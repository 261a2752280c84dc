#pragma once

// The file manager's "duplicate item to folder" into a folder the user may not
// write to: the copy is made by a small tool of the suite that pkexec runs
// with administrator rights once polkit has asked the user for them, as a
// file manager asks.

#include <QString>
#include <QStringList>

namespace PrivilegedDuplication {

// True for an ordinary user and a folder that is there but that the user may
// not write to; a missing folder is the plain copy's failure to report.
bool needsAdministratorRights(const QString& folderPath);

// pkexec and the tool, which lies beside the running program's executable.
QStringList privilegedCommand();

// As FileDuplication::duplicateItem, made by the command with the item and
// the folder as its last two arguments (a test may run pkexec as another
// user). Waits for as long as the user takes to answer. A refused, dismissed
// or impossible authorisation is a failure that says so.
QString duplicateItem(const QString& itemPath, const QString& folderPath, QString* errorDescription,
    const QStringList& command = privilegedCommand());

} // namespace PrivilegedDuplication
