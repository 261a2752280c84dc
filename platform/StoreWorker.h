#pragma once

// The one thread the keyring is asked on. Reads, saves and deletes run on it
// one at a time and in the order asked, so that a save asked before a read is
// done before it. The program's entry owns it (a test owns its own): made
// before anything asks the store, stopped after the event loop and before the
// application goes, so that no completion can reach a destroyed application.

#include <QObject>
#include <functional>
#include <memory>
#include <stop_token>

class StoreWorker
{
public:
    // Work that runs on the worker and answers what is to run on the main
    // thread with its result; an empty answer runs nothing.
    using Work = std::function<std::function<void()>()>;
    // Work on a thread of its own, for a wait that may last minutes (the
    // desktop's unlock prompt): the reads and saves asked meanwhile do not
    // wait for it. Stopping the worker asks it through the token to give up,
    // and waits for it; its answer is then dropped.
    using ApartWork = std::function<std::function<void()>(std::stop_token)>;

    // The process's one worker from here on. Main thread.
    StoreWorker();
    StoreWorker(const StoreWorker&) = delete;
    StoreWorker& operator=(const StoreWorker&) = delete;
    ~StoreWorker();

    // Finishes the serial work already asked (a save asked as the program
    // quits is kept), joins the thread, and from then on delivers nothing;
    // then has the apart work give up, and joins its threads. Main thread; a
    // second call does nothing.
    void stop();

    // Runs work on the worker, and its answer on the main thread while
    // context lives. Main thread; with no worker running the work is dropped,
    // and logged.
    static void run(QObject* context, Work work);
    static void runApart(QObject* context, ApartWork work);

private:
    struct State;
    // The running worker's; main thread only.
    static std::shared_ptr<State>& currentState();
    // The running worker's state, or none, logged.
    static std::shared_ptr<State> runningState();
    std::shared_ptr<State> m_state;
};
