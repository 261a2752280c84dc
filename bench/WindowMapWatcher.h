#pragma once

// Reports every top-level window the X server maps, with the process that
// made it (_NET_WM_PID): without a window manager, a program's window is
// shown the moment the server maps it.

#include <QObject>
#include <QSocketNotifier>
#include <memory>

struct xcb_connection_t;

class WindowMapWatcher : public QObject
{
    Q_OBJECT

public:
    // On the display the environment names; isValid() is false without one.
    explicit WindowMapWatcher(QObject* parent = nullptr);
    ~WindowMapWatcher() override;

    bool isValid() const { return m_notifier != nullptr; }

signals:
    // pid is -1 for a window that does not say whose it is.
    void windowMapped(quint32 window, qint64 pid);

private:
    void readEvents();
    qint64 pidOf(quint32 window);

    xcb_connection_t* m_connection = nullptr;
    quint32 m_pidAtom = 0;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
