#pragma once

// Every alert of a program goes through one presenter, so that a test can
// record the alerts instead of showing them. An alert never blocks or nests
// an event loop: it is put up and the caller goes on; whoever must act after
// it passes a completion.

#include "platform/Alert.h"

#include <QObject>
#include <functional>

class AlertPresenter : public QObject
{
    Q_OBJECT

public:
    // The index in alert.buttons of the button pressed (an alert without
    // buttons gets one "OK", index 0), or -1 if it was closed without one.
    using Completion = std::function<void(int pressed)>;

    explicit AlertPresenter(QObject* parent = nullptr);

    // Puts the alert up as a message box modal to the program's windows and
    // returns at once; done, if given, runs once the box has been dismissed.
    virtual void runModal(const Alert& alert, Completion done = {});

    // True from the moment an alert is put up until the last one up has been
    // dismissed.
    bool isModalAlertRunning() const { return m_runningAlerts > 0; }

signals:
    void modalAlertRunningChanged(bool running);

protected:
    // Brackets one alert; several may be up at once.
    void beginModalAlert();
    void endModalAlert();

private:
    int m_runningAlerts = 0;
};
