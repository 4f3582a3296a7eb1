#include "platform/core/UiHandOver.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include <QCoreApplication>
#include <QObject>
#include <QSocketNotifier>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

// The job running on this thread, innermost; for HandedOverAt.
thread_local const UiHandOver::Stamp* t_running = nullptr;

// Marks the job as the one running on this thread for its duration.
class RunningScope {
public:
    explicit RunningScope(const UiHandOver::Stamp& stamp) : m_previous(t_running) { t_running = &stamp; }
    ~RunningScope() { t_running = m_previous; }
    RunningScope(const RunningScope&) = delete;
    RunningScope& operator=(const RunningScope&) = delete;

private:
    const UiHandOver::Stamp* m_previous;
};

} // namespace

struct UiHandOver::State {
    struct Item {
        Job job;
        Stamp handedOver{std::chrono::steady_clock::now(), std::chrono::system_clock::now()};
        std::atomic<bool> cancelled{false};
        bool done = false; // guarded by mutex
    };

    std::mutex mutex;
    std::condition_variable cv;
    std::deque<std::shared_ptr<Item>> queue;
    std::vector<std::shared_ptr<Item>> running; // UI thread only, innermost last
    bool closed = false;
    bool attached = false;
    std::thread::id uiThread;
    int wakeFd = -1;
    QSocketNotifier* notifier = nullptr; // UI thread only

    void Wake()
    {
        const std::uint64_t one = 1;
        while (write(wakeFd, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }

    void ClearWake()
    {
        std::uint64_t value;
        while (read(wakeFd, &value, sizeof value) < 0 && errno == EINTR) {
        }
    }

    // Runs the jobs waiting now, in order. UI thread.
    void Serve()
    {
        for (;;) {
            std::shared_ptr<Item> item;
            {
                std::lock_guard lock(mutex);
                if (closed || queue.empty())
                    return;
                item = std::move(queue.front());
                queue.pop_front();
                running.push_back(item);
            }
            {
                RunningScope scope(item->handedOver);
                item->job(item->cancelled);
            }
            std::lock_guard lock(mutex);
            std::erase(running, item);
            item->done = true;
            cv.notify_all();
        }
    }
};

UiHandOver::UiHandOver() : m_state(std::make_shared<State>())
{
    m_state->wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

UiHandOver::~UiHandOver()
{
    Close();
    delete m_state->notifier;
    m_state->notifier = nullptr;
    if (m_state->wakeFd >= 0)
        close(m_state->wakeFd);
}

void UiHandOver::Attach()
{
    State& s = *m_state;
    {
        std::lock_guard lock(s.mutex);
        if (s.attached || !QCoreApplication::instance() || s.wakeFd < 0)
            return;
        s.uiThread = std::this_thread::get_id();
    }
    s.notifier = new QSocketNotifier(s.wakeFd, QSocketNotifier::Read);
    State* raw = &s;
    QObject::connect(s.notifier, &QSocketNotifier::activated, s.notifier, [raw] {
        raw->ClearWake();
        raw->Serve();
    });
    std::lock_guard lock(s.mutex);
    s.attached = true;
}

bool UiHandOver::OnUiThread() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->attached && m_state->uiThread == std::this_thread::get_id();
}

bool UiHandOver::Send(const Job& job)
{
    State& s = *m_state;
    auto item = std::make_shared<State::Item>();
    item->job = job;
    {
        std::unique_lock lock(s.mutex);
        if (s.closed)
            return false;
        if (!s.attached || s.uiThread == std::this_thread::get_id()) {
            lock.unlock();
            RunningScope scope(item->handedOver);
            job(item->cancelled);
            return true;
        }
        s.queue.push_back(item);
    }
    s.Wake();
    std::unique_lock lock(s.mutex);
    s.cv.wait(lock, [&] { return item->done || s.closed; });
    return item->done && !item->cancelled.load();
}

void UiHandOver::Post(std::function<void()> job)
{
    State& s = *m_state;
    auto item = std::make_shared<State::Item>();
    item->job = [job = std::move(job)](const std::atomic<bool>&) { job(); };
    {
        std::unique_lock lock(s.mutex);
        if (s.closed)
            return;
        if (!s.attached) {
            lock.unlock();
            RunningScope scope(item->handedOver);
            item->job(item->cancelled);
            return;
        }
        s.queue.push_back(item);
    }
    s.Wake();
}

void UiHandOver::Close()
{
    State& s = *m_state;
    std::lock_guard lock(s.mutex);
    s.closed = true;
    for (auto& item : s.running)
        item->cancelled = true;
    s.queue.clear();
    s.cv.notify_all();
}

bool UiHandOver::IsClosed() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->closed;
}

void UiHandOver::WaitUntil(const std::function<bool()>& done)
{
    State& s = *m_state;
    std::unique_lock lock(s.mutex);
    // Waiting from inside a job: its sender can never see it finish, so let
    // it go on now; the job itself stops at its next step.
    for (auto& item : s.running) {
        if (!item->done) {
            item->cancelled = true;
            item->done = true;
        }
    }
    s.cv.notify_all();
    for (;;) {
        if (done())
            return;
        if (!s.closed && !s.queue.empty()) {
            lock.unlock();
            s.Serve();
            lock.lock();
            continue;
        }
        s.cv.wait_for(lock, std::chrono::milliseconds(100));
    }
}

void UiHandOver::Notify()
{
    std::lock_guard lock(m_state->mutex);
    m_state->cv.notify_all();
}

UiHandOver::Stamp UiHandOver::HandedOverAt()
{
    if (t_running)
        return *t_running;
    return Stamp{std::chrono::steady_clock::now(), std::chrono::system_clock::now()};
}
