#pragma once
// Work off the window's thread: a thread of its own that runs the jobs posted to it one after
// another, in the order posted, and hands each job's result back to the thread that made this
// object, through that thread's event loop. For what can wait (a database server, a broker, a
// file another program holds), so that the window never does; one per owner that needs its own
// order of work (the Cells window's register, the verdicts' records, a telemetry's closing).
//
// Threads: every member on the owner's thread (the one that made the object), which runs a Qt
// event loop. The jobs run on the worker's thread, which is started by the first Post and has a
// stop signal of its own (platform/ThreadStop.h): Finish raises it, so that a job waiting in the
// platform layer (a server's socket, a Sleep) ends at once with ThreadStopRequested. A `done`
// runs on the owner's thread, never once Finish has begun. Jobs share nothing with the owner but
// what they were given and what they return.

#include <QObject>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>

#include "platform/ThreadStop.h"

class TBackgroundWorker : public QObject {
    Q_OBJECT

  public:
    explicit TBackgroundWorker(QObject* parent = nullptr);
    // Finish(0) when not finished yet.
    ~TBackgroundWorker() override;

    TBackgroundWorker(const TBackgroundWorker&) = delete;
    TBackgroundWorker& operator=(const TBackgroundWorker&) = delete;

    // Queues `work`, to be called on the worker's thread; once it has returned, `done` is called
    // with its result (nothing for a void job) on the owner's thread. A job that lets an error
    // escape is written to the debug output and its `done` is not called: a job catches what its
    // owner must hear of and returns it. A `done` may post more jobs, but must not destroy the
    // worker (deleteLater may). Nothing is queued once Finish has begun.
    template <typename TWork, typename TDone>
    void Post(TWork work, TDone done) {
        using TResult = std::invoke_result_t<TWork&>;
        if constexpr (std::is_void_v<TResult>) {
            auto ran = std::make_shared<bool>(false);
            Enqueue(
                [work = std::move(work), ran]() mutable {
                    work();
                    *ran = true;
                },
                [done = std::move(done), ran]() mutable {
                    if (*ran) done();
                });
        } else {
            auto result = std::make_shared<std::optional<TResult>>();
            Enqueue([work = std::move(work), result]() mutable { result->emplace(work()); },
                    [done = std::move(done), result]() mutable {
                        if (*result) done(std::move(**result));
                    });
        }
    }
    template <typename TWork>
    void Post(TWork work) {
        Enqueue(std::move(work), {});
    }

    // Jobs posted whose `done` has not been called yet (their results may be on their way).
    int Pending() const { return FPending; }

    // Blocks until every job posted so far has run, for at most `bound`; their `done`s follow
    // through the event loop. True when they all ran.
    bool Wait(std::chrono::milliseconds bound);

    // For the end: takes no more jobs, waits for those posted to run, for at most `bound`, then
    // stops the worker's thread (a job waiting in the platform layer ends at once; one in any
    // other call ends when that call returns), drops the jobs not started and joins the thread.
    // No `done` is called from here on. True when every job ran.
    bool Finish(std::chrono::milliseconds bound);

  signals:
    // Every job posted has run and its `done` has been called: Pending() is 0.
    void Idle();

  private:
    void Enqueue(std::function<void()> work, std::function<void()> done);
    void Run();
    // On the owner's thread: the `done`s of the jobs that ran. Invoked by name from the worker
    // thread: a functor's slot object is shared between the threads by a count that lives in Qt,
    // where ThreadSanitizer cannot see it, and its last release then looks like a race.
    Q_INVOKABLE void Deliver();

    struct TJob {
        std::function<void()> Work;
        std::function<void()> Done;
    };

    platform::StopSignal FStop;  // the worker thread's
    std::thread FThread;         // joinable from the first Post until Finish
    bool FFinishing = false;     // owner's thread
    int FPending = 0;            // owner's thread

    std::mutex FLock;
    std::condition_variable FChanged;
    // Guarded by FLock.
    std::deque<TJob> FQueue;                  // not started yet
    std::deque<std::function<void()>> FDone;  // of jobs that ran, for the owner's thread
    bool FRunning = false;                    // a job is running
    bool FStopping = false;                   // the thread ends after the job it runs
};
