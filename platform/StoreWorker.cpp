#include "platform/StoreWorker.h"

#include "platform/Logging.h"

#include <QCoreApplication>
#include <QPointer>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

struct StoreWorker::State
{
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> queue;
    bool stopping = false;
    // Cleared once the worker has stopped, before the application goes: an
    // apart thread still waiting then hands nothing to it.
    bool delivering = true;
    std::thread thread;
};

std::shared_ptr<StoreWorker::State>& StoreWorker::currentState()
{
    static std::shared_ptr<State> state;
    return state;
}

StoreWorker::StoreWorker()
    : m_state(std::make_shared<State>())
{
    if (currentState())
        qCWarning(lcKeyring) << "A second store worker replaces the first";
    currentState() = m_state;
    m_state->thread = std::thread([state = m_state.get()] {
        for (;;) {
            std::function<void()> task;
            {
                std::unique_lock lock(state->mutex);
                state->wake.wait(
                    lock, [state] { return state->stopping || !state->queue.empty(); });
                if (state->queue.empty())
                    return;
                task = std::move(state->queue.front());
                state->queue.pop_front();
            }
            task();
        }
    });
}

StoreWorker::~StoreWorker()
{
    stop();
}

void StoreWorker::stop()
{
    if (!m_state->thread.joinable())
        return;
    if (currentState() == m_state)
        currentState().reset();
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->stopping = true;
    }
    m_state->wake.notify_one();
    m_state->thread.join();
    const std::lock_guard lock(m_state->mutex);
    m_state->delivering = false;
}

void StoreWorker::run(QObject* context, Work work, Lane lane)
{
    const std::shared_ptr<State> state = currentState();
    if (!state) {
        qCCritical(lcKeyring) << "The keyring was asked with no store worker running";
        return;
    }
    auto task = [state, guard = QPointer<QObject>(context), work = std::move(work)]() mutable {
        std::function<void()> answer = work();
        if (!answer)
            return;
        // Under the lock, so that the worker cannot stop, and the
        // application go, between the check and the posting.
        const std::lock_guard lock(state->mutex);
        QCoreApplication* application = QCoreApplication::instance();
        if (!state->delivering || !application)
            return;
        QMetaObject::invokeMethod(
            application,
            [guard = std::move(guard), answer = std::move(answer)] {
                if (guard)
                    answer();
            },
            Qt::QueuedConnection);
    };
    if (lane == Lane::Apart) {
        std::thread(std::move(task)).detach();
        return;
    }
    {
        const std::lock_guard lock(state->mutex);
        state->queue.push_back(std::move(task));
    }
    state->wake.notify_one();
}
