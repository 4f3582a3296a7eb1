// Hands work from a worker thread to the user-interface thread through the Qt
// event loop. Send runs a job there and waits until it has returned, so a
// worker can deliver to a window synchronously; Post does not wait.
//
// A user-interface wait for the worker must not deadlock with a job in flight:
// WaitUntil runs the jobs that arrive while it waits, and Close makes every
// job from then on (and the one being waited for) give up at once.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

class UiHandOver
{
public:
    // A job gets a flag that turns true when nobody waits for it any more; a
    // job made of several steps stops at the next step.
    using Job = std::function<void(const std::atomic<bool>& cancelled)>;

    UiHandOver();
    ~UiHandOver();
    UiHandOver(const UiHandOver&) = delete;
    UiHandOver& operator=(const UiHandOver&) = delete;

    // Binds to the calling thread's event loop; call on the user-interface
    // thread before the worker starts. Without a Qt application, jobs run on
    // the thread that hands them over.
    void Attach();
    bool OnUiThread() const;

    // Worker side. Send returns true once the job has run to its end, false
    // when it was dropped or cut short because the hand-over was closed.
    bool Send(const Job& job);
    void Post(std::function<void()> job);

    // User-interface side. Close is final: every later Send or Post is dropped.
    void Close();
    bool IsClosed() const;
    // Returns when done() holds; done() is checked whenever Notify is called
    // and at least every 100 ms. Jobs handed over meanwhile are run (unless
    // closed). Called from inside a job, it releases the worker waiting on
    // that job first, as nobody could otherwise finish it.
    void WaitUntil(const std::function<bool()>& done);
    // Wakes WaitUntil so that it checks its condition again; any thread.
    void Notify();

    // When the job now running on the calling thread was handed over: for a
    // delivery of received bytes, right after the read that brought them.
    // Outside a job: now.
    struct Stamp {
        std::chrono::steady_clock::time_point steady;
        std::chrono::system_clock::time_point utc;
    };
    static Stamp HandedOverAt();

    struct State;

private:
    std::shared_ptr<State> m_state;
};
