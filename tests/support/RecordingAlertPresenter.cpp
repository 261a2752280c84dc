#include "support/RecordingAlertPresenter.h"

int RecordingAlertPresenter::runModal(const Alert& alert)
{
    beginModalAlert();
    m_alerts.append(alert);
    endModalAlert();
    return 0;
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
