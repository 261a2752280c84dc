#include "support/RecordingAlertPresenter.h"

void RecordingAlertPresenter::runModal(const Alert& alert, Completion done)
{
    beginModalAlert();
    m_alerts.append(alert);
    endModalAlert();
    if (done)
        done(0);
}

void RecordingAlertPresenter::setModalAlertRunning(bool running)
{
    if (running == m_heldRunning)
        return;
    m_heldRunning = running;
    if (running)
        beginModalAlert();
    else
        endModalAlert();
}
