#include "platform/StoreWorker.h"

#include "platform/Logging.h"

#include <QCoreApplication>
#include <QPointer>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <thread>

struct StoreWorker::State
{
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> queue;
    bool stopping = false;
    // Cleared once the serial thread has stopped, before the application
    // goes: an apart thread still waiting then hands nothing to it.
    bool delivering = true;
    std::thread thread;

    struct ApartThread
    {
        std::atomic<bool> finished = false;
        std::jthread thread;
    };
    // Main thread only; the finished ones are joined as the next one starts.
    std::list<ApartThread> apart;

    // Hands the answer to the main thread, to run there while context lives.
    void deliver(QPointer<QObject> guard, std::function<void()> answer)
    {
        if (!answer)
            return;
        // Under the lock, so that the worker cannot stop, and the
        // application go, between the check and the posting.
        const std::lock_guard lock(mutex);
        QCoreApplication* application = QCoreApplication::instance();
        if (!delivering || !application)
            return;
        QMetaObject::invokeMethod(
            application,
            [guard = std::move(guard), answer = std::move(answer)] {
                if (guard)
                    answer();
            },
            Qt::QueuedConnection);
    }
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
    {
        const std::lock_guard lock(m_state->mutex);
        m_state->delivering = false;
    }
    // A wait for a prompt still up is given up, the prompt left to the
    // person: its answer would reach no one. Each thread is asked first, so
    // that they give up together.
    for (State::ApartThread& apart : m_state->apart)
        apart.thread.request_stop();
    m_state->apart.clear();
}

std::shared_ptr<StoreWorker::State> StoreWorker::runningState()
{
    std::shared_ptr<State> state = currentState();
    if (!state)
        qCCritical(lcKeyring) << "The keyring was asked with no store worker running";
    return state;
}

void StoreWorker::run(QObject* context, Work work)
{
    const std::shared_ptr<State> state = runningState();
    if (!state)
        return;
    {
        const std::lock_guard lock(state->mutex);
        state->queue.push_back([state = state.get(), guard = QPointer<QObject>(context),
                                   work = std::move(work)] { state->deliver(guard, work()); });
    }
    state->wake.notify_one();
}

void StoreWorker::runApart(QObject* context, ApartWork work)
{
    const std::shared_ptr<State> state = runningState();
    if (!state)
        return;
    state->apart.remove_if([](const State::ApartThread& apart) { return apart.finished.load(); });
    State::ApartThread& apart = state->apart.emplace_back();
    apart.thread = std::jthread(
        [state = state.get(), finished = &apart.finished, guard = QPointer<QObject>(context),
            work = std::move(work)](std::stop_token stopToken) {
            state->deliver(guard, work(std::move(stopToken)));
            *finished = true;
        });
}
