#include "support/RecordingAlertPresenter.h"

#include <utility>

int RecordingAlertPresenter::runModal(const Alert& alert)
{
    beginModalAlert();
    m_alerts.append(alert);
    emit alertRecorded(alert);
    endModalAlert();
    return std::exchange(m_nextAnswer, 0);
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
