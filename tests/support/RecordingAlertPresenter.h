#pragma once

// An alert presenter for tests: records every alert a program puts up and
// answers it at once with its first button, so that no test waits for a
// message box.

#include "platform/AlertPresenter.h"

#include <algorithm>
#include <utility>

class RecordingAlertPresenter : public AlertPresenter
{
public:
    using AlertPresenter::AlertPresenter;

    void runModal(const Alert& alert, Completion done = {}) override
    {
        beginModalAlert();
        m_alerts.append(alert);
        endModalAlert();
        if (holdAnswers)
            m_held.append({ alert, std::move(done) });
        else if (done)
            done(0);
    }

    // While set, an alert's answer waits until answerHeld(), as when a person
    // has not read it yet. An alert without that button is closed without one.
    bool holdAnswers = false;
    void answerHeld(int pressed = 0)
    {
        for (const auto& [alert, done] : std::exchange(m_held, {}))
            if (done)
                done(pressed < std::max<qsizetype>(alert.buttons.size(), 1) ? pressed : -1);
    }

    QList<Alert> alerts() const { return m_alerts; }
    // How many alerts say the text, as their message or their informative
    // text: a test names the alert it means rather than its place.
    qsizetype count(const QString& text) const
    {
        return std::count_if(m_alerts.cbegin(), m_alerts.cend(), [&](const Alert& alert) {
            return alert.messageText == text || alert.informativeText == text;
        });
    }
    void clear() { m_alerts.clear(); }

    // Holds the presenter as if a real alert were up (true) until released
    // (false), without any message box; the two come in pairs.
    void setModalAlertRunning(bool running) { running ? beginModalAlert() : endModalAlert(); }

private:
    QList<Alert> m_alerts;
    QList<std::pair<Alert, Completion>> m_held;
};
