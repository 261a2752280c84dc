#pragma once

// Every modal alert of a program goes through one presenter, so that a test
// can record the alerts instead of blocking on them, and so that the timers
// know when an alert holds the program.

#include "platform/Alert.h"

#include <QObject>

class AlertPresenter : public QObject
{
    Q_OBJECT

public:
    explicit AlertPresenter(QObject* parent = nullptr);

    // Shows the alert as a modal message box and returns when it is dismissed:
    // the index in alert.buttons of the button pressed (an alert without
    // buttons gets one "OK", index 0), or -1 if it was closed without one.
    virtual int runModal(const Alert& alert);

    // True from the moment an alert is put up until it has been dismissed.
    bool isModalAlertRunning() const { return m_runningAlerts > 0; }

signals:
    void modalAlertRunningChanged(bool running);

protected:
    // Brackets one running alert; alerts may nest (an alert raised by a timer
    // firing held until another one closed).
    void beginModalAlert();
    void endModalAlert();

private:
    int m_runningAlerts = 0;
};
