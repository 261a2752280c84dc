#pragma once

// An alert presenter for tests: records every alert a program puts up and
// answers it at once with its first button, so that no test waits for a
// message box.

#include "platform/AlertPresenter.h"

#include <QList>

class RecordingAlertPresenter : public AlertPresenter
{
    Q_OBJECT

public:
    using AlertPresenter::AlertPresenter;

    void runModal(const Alert& alert, Completion done = {}) override;

    QList<Alert> alerts() const { return m_alerts; }
    void clear() { m_alerts.clear(); }

    // Puts the presenter into the state of a real alert being up (true) and
    // dismissed (false), without any message box, for code that must behave
    // differently while an alert holds the program.
    void setModalAlertRunning(bool running);

private:
    QList<Alert> m_alerts;
    bool m_heldRunning = false;
};
