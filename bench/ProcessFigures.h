#pragma once

// What /proc tells about a running process: its resident memory, and how
// often its threads gave up the processor of their own accord (each such
// switch is a wake-up when the process is otherwise idle).

#include <QList>
#include <QString>
#include <sys/types.h>

namespace ProcessFigures {

struct ThreadSwitches
{
    qint64 id = 0;
    QString name;
    qint64 voluntary = 0;
    qint64 involuntary = 0;
};

// -1 when the process is gone.
qint64 residentKiB(pid_t pid);
qint64 peakResidentKiB(pid_t pid);

// One entry per thread, the main thread first.
QList<ThreadSwitches> contextSwitches(pid_t pid);

} // namespace ProcessFigures
