#pragma once

// The one thread the keyring is asked on. Reads, saves and deletes run on it
// one at a time and in the order asked, so that a save asked before a read is
// done before it. The program's entry owns it (a test owns its own): made
// before anything asks the store, stopped after the event loop and before the
// application goes, so that no completion can reach a destroyed application.

#include <QObject>
#include <functional>
#include <memory>

class StoreWorker
{
public:
    // Work that runs on the worker and answers what is to run on the main
    // thread with its result; an empty answer runs nothing.
    using Work = std::function<std::function<void()>()>;
    enum class Lane
    {
        Serial,
        // A thread of its own, for a wait that may last minutes (the desktop's
        // unlock prompt): the reads and saves asked meanwhile do not wait for
        // it. It is not joined: a program that quits with the prompt still up
        // ends without its answer, which is dropped.
        Apart,
    };

    // The process's one worker from here on. Main thread.
    StoreWorker();
    StoreWorker(const StoreWorker&) = delete;
    StoreWorker& operator=(const StoreWorker&) = delete;
    ~StoreWorker();

    // Finishes the serial work already asked (a save asked as the program
    // quits is kept), joins the thread, and from then on delivers nothing.
    // Main thread; a second call does nothing.
    void stop();

    // Runs work on the worker, and its answer on the main thread while
    // context lives. Main thread; with no worker running the work is dropped,
    // and logged.
    static void run(QObject* context, Work work, Lane lane = Lane::Serial);

private:
    struct State;
    // The running worker's; main thread only.
    static std::shared_ptr<State>& currentState();
    std::shared_ptr<State> m_state;
};
