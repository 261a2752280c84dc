#include "ProcessFigures.h"

#include <QDir>
#include <QFile>
#include <algorithm>

namespace {

// A "Name:   value" field of a status file; -1 when it is missing.
qint64 statusField(const QString& path, const QByteArray& field, QString* name = nullptr)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    qint64 value = -1;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (name && line.startsWith("Name:"))
            *name = QString::fromUtf8(line.mid(5).trimmed());
        if (line.startsWith(field + ':'))
            value = line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    }
    return value;
}

} // namespace

qint64 ProcessFigures::residentKiB(pid_t pid)
{
    return statusField(QStringLiteral("/proc/%1/status").arg(pid), "VmRSS");
}

qint64 ProcessFigures::peakResidentKiB(pid_t pid)
{
    return statusField(QStringLiteral("/proc/%1/status").arg(pid), "VmHWM");
}

QList<ProcessFigures::ThreadSwitches> ProcessFigures::contextSwitches(pid_t pid)
{
    QList<ThreadSwitches> threads;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    QStringList ids = QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(ids.begin(), ids.end(),
        [](const QString& a, const QString& b) { return a.toLongLong() < b.toLongLong(); });
    for (const QString& id : ids) {
        ThreadSwitches thread;
        thread.id = id.toLongLong();
        const QString status = tasks + u'/' + id + QStringLiteral("/status");
        thread.voluntary = statusField(status, "voluntary_ctxt_switches", &thread.name);
        thread.involuntary = statusField(status, "nonvoluntary_ctxt_switches");
        if (thread.voluntary >= 0)
            threads << thread;
    }
    return threads;
}
