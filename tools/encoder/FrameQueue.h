#pragma once

#include "Errors.h"
#include "StageTimes.h"
#include "platform/Threads.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

namespace quillora::encoder {

// A bounded hand-over between two pipeline stages. The bound keeps memory flat however long
// the source is; close() tells the consumer that nothing more comes, abort() stops both sides.
// The consumer's failure is kept here, under the same lock, for whoever feeds it.
template <typename T> class FrameQueue
{
public:
    explicit FrameQueue(std::size_t capacity) : m_capacity(capacity) {}

    // False when the queue was aborted; the item is then dropped.
    [[nodiscard]] bool push(T item)
    {
        std::unique_lock lock(m_mutex);
        m_notFull.wait(lock, [&] { return m_items.size() < m_capacity || m_aborted; });
        if (m_aborted)
            return false;
        m_items.push_back(std::move(item));
        m_notEmpty.notify_one();
        return true;
    }

    // The next item, or nothing once the queue is closed and empty, or aborted.
    [[nodiscard]] std::optional<T> pop()
    {
        std::unique_lock lock(m_mutex);
        m_notEmpty.wait(lock, [&] { return !m_items.empty() || m_closed || m_aborted; });
        if (m_aborted || m_items.empty())
            return std::nullopt;
        T item = std::move(m_items.front());
        m_items.pop_front();
        m_notFull.notify_one();
        return item;
    }

    [[nodiscard]] bool aborted()
    {
        std::lock_guard lock(m_mutex);
        return m_aborted;
    }

    void close()
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        m_notEmpty.notify_all();
    }

    void abort() { fail(nullptr); }

    // Aborts, keeping the first failure that explains why.
    void fail(std::exception_ptr failure)
    {
        std::lock_guard lock(m_mutex);
        if (!m_failure)
            m_failure = std::move(failure);
        m_aborted = true;
        m_notEmpty.notify_all();
        m_notFull.notify_all();
    }

    [[nodiscard]] std::exception_ptr failure()
    {
        std::lock_guard lock(m_mutex);
        return m_failure;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_notEmpty, m_notFull;
    std::deque<T> m_items;
    std::size_t m_capacity;
    bool m_closed = false;
    bool m_aborted = false;
    std::exception_ptr m_failure;
};

// A pipeline stage on its own thread, fed through a bounded queue. A failure in the stage
// reaches the feeding thread at its next push or at finish(); the destructor stops and joins.
// push() may be called from another stage's thread; finish() and stop() only by the owner.
// Every hand-over looks at `cancel`: a stage busy for long (the frame-rate filter filling a
// long gap with copies) then stops at its next frame, and the stages around it with it.
template <typename T> class PipelineStage
{
public:
    PipelineStage(std::size_t capacity, const std::atomic<bool>& cancel)
        : m_queue(capacity), m_cancel(cancel)
    {}
    ~PipelineStage() { stop(); }
    PipelineStage(const PipelineStage&) = delete;
    PipelineStage& operator=(const PipelineStage&) = delete;

    // The stage's thread owns `worker` from here on: worker.consume(T) takes each item, and
    // worker.drain() runs once after the last item of a normal finish.
    // With `times`, the thread's processor time is added there under `name` as it ends.
    template <typename Worker>
    void start(Worker worker, StageTimes* times = nullptr, std::string name = {})
    {
        m_thread = std::thread(
            [this, times, name = std::move(name), worker = std::move(worker)]() mutable {
                try {
                    while (auto item = m_queue.pop())
                        worker.consume(std::move(*item));
                    if (!m_queue.aborted())
                        worker.drain();
                } catch (...) {
                    m_queue.fail(std::current_exception());
                }
                if (times)
                    times->add(std::move(name), platform::threadCpuSeconds());
            });
    }

    void push(T item)
    {
        if (m_cancel)
            throw Cancelled();
        if (!m_queue.push(std::move(item)))
            rethrowFailure();
    }

    // Lets the stage take what is queued and drain, and waits for it.
    void finish()
    {
        if (!m_thread.joinable())
            return;
        m_queue.close();
        m_thread.join();
        if (const std::exception_ptr failure = m_queue.failure())
            std::rethrow_exception(failure);
    }

    // Wakes the stage and whoever feeds it; nothing more is taken or handed over.
    void abort() noexcept { m_queue.abort(); }

    // Only the thread that owns the stage stops it. Stages that feed each other are all
    // aborted before any is joined: a stage may be waiting to hand over to the next.
    void stop() noexcept
    {
        m_queue.abort();
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    [[noreturn]] void rethrowFailure()
    {
        if (const std::exception_ptr failure = m_queue.failure())
            std::rethrow_exception(failure);
        throw EncodeError("an encoding stage stopped");
    }

    FrameQueue<T> m_queue;
    const std::atomic<bool>& m_cancel;
    std::thread m_thread;
};

} // namespace quillora::encoder
