#pragma once

// SIGTERM and SIGINT as an ordinary event: the handler only writes to a pipe,
// and the event loop reads it, so the program ends through its normal path.

#include <QObject>
#include <QSocketNotifier>
#include <memory>

class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    void received(int signalNumber);

private:
    void readPipe();

    std::unique_ptr<QSocketNotifier> m_notifier;
};
