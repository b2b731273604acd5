#pragma once
// The thread support of the console: a pointer queue that several threads share, a thread base
// over std::thread, and a worker thread whose body is handed over at creation.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "platform/ThreadStop.h"

// An event that stays set until it is reset (a manual-reset event); created not set.
// Every member is callable from any thread.
class TManualEvent {
  public:
    TManualEvent() = default;
    TManualEvent(const TManualEvent&) = delete;
    TManualEvent& operator=(const TManualEvent&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;
    // Blocks until the event is set or `ms` milliseconds have passed; true when it is set.
    bool WaitFor(uint32_t ms) const;

  private:
    mutable std::mutex FLock;
    mutable std::condition_variable FChanged;
    bool FSignalled = false;  // guarded by FLock
};

// How Push treats a pointer that is already queued. A value other than dmAccept and dmError
// behaves as dmIgnore.
enum TDuplicates : int { dmIgnore = 0, dmAccept = 1, dmError = 2 };

// A queue of untyped pointers that any number of threads may push to and pop from. Taking never
// blocks. The queue stores the pointers only: the pusher hands an item over, the popper owns it,
// and items still queued when the queue is destroyed are left alone (their owner frees them).
// The owner destroys the queue once no other thread uses it.
class TThreadQueue {
  public:
    // Fifo true: Pop takes the oldest item; false: the newest.
    explicit TThreadQueue(bool Fifo);
    TThreadQueue(const TThreadQueue&) = delete;
    TThreadQueue& operator=(const TThreadQueue&) = delete;

    // Queues Item and returns it; returns nullptr when Item was already queued and Duplicates
    // says to ignore it. Throws EListError("Duplicate item") in dmError mode for an item already
    // queued; the queue and the event are then unchanged.
    void* Push(void* Item);
    // Removes and returns the next item. On an empty queue throws Exception("Pop on empty
    // queue") when RaiseOnEmpty is set, else returns nullptr.
    void* Pop();

    // Set by every Push that completes (an ignored duplicate included), reset at the start of
    // every Pop: a consumer may wait on it for new items.
    const TManualEvent& Event() const { return FEvent; }

    const bool Fifo;
    // Settings written by the owner at any time; each operation reads them once, under FLock.
    std::atomic<bool> RaiseOnEmpty{true};
    std::atomic<TDuplicates> Duplicates{dmAccept};

  private:
    std::mutex FLock;  // held for the whole of each operation; guards FList and FEvent changes
    std::deque<void*> FList;  // oldest first; Push appends at the end
    TManualEvent FEvent;
};

// Exit code of a thread ended by StopThread (its body did not return).
inline constexpr uint32_t StoppedExitCode = 0xFFFFFFFF;
// Exit code of a thread whose body let an error escape. The error's message is written as one
// debug line, the thread counts as finished and FreeOnTerminate still applies; the process goes on.
inline constexpr uint32_t FailedExitCode = 0xFFFFFFFE;

class TEventedThread;

// A thread object over std::thread. The thread is created with the object, running or
// suspended; a suspended thread does not enter its body until resumed.
//
// A class derived from TThread must call AfterConstruction() as the last step of its
// constructor: it starts the std::thread, so the body always finds the whole object built. It
// must call BeforeDestruction() as the first step of its destructor, so the body has ended
// before the derived members go away. Deriving twice would move both duties to the most
// derived class; TEventedThread is therefore final.
//
// Each thread owns a stop signal that it installs for itself before running its body (see
// platform/ThreadStop.h); StopThread raises it.
class TThread {
  public:
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;
    // Owner's thread: if the thread neither finished nor is suspended, requests termination and
    // waits for it. A suspended thread ends without entering its body.
    virtual ~TThread();

    // Lowers the suspend count by one; the thread runs once it reaches zero. No effect on a
    // thread that runs already.
    void Resume();
    // Sets the terminated flag, which the body tests to know when to stop.
    void Terminate() { FTerminated.store(true); }
    // Blocks until the thread has ended and returns its exit code. Waiting on a suspended
    // thread blocks until someone resumes it. Not for FreeOnTerminate threads that may end by
    // themselves: the object is gone once they have.
    uint32_t WaitFor();

    bool Terminated() const { return FTerminated.load(); }
    bool Suspended() const { return FSuspended.load(); }
    // Set when the body has returned (not when the thread was ended by StopThread).
    bool Finished() const { return FFinished.load(); }

    // When set, the object deletes itself on its own thread once the body has returned.
    std::atomic<bool> FreeOnTerminate{false};
    // The exit code of a thread whose body returns; the body sets it.
    std::atomic<uint32_t> ReturnValue{0};

  protected:
    explicit TThread(bool CreateSuspended);

    // The body, run once on the new thread.
    virtual void Execute() = 0;

    // Starts the std::thread; it enters the body at once unless created suspended.
    void AfterConstruction();
    // The ending that the destructor describes. Idempotent; the base destructor calls it again.
    void BeforeDestruction();

  private:
    friend void StopThread(TEventedThread* Thread);

    void ThreadEntry();
    // Lets ThreadEntry into the body once the thread is started and the suspend count is zero.
    void ReleaseIfReady();  // FStateLock held

    std::mutex FStateLock;  // guards the four members below
    std::condition_variable FStateChanged;
    bool FStarted = false;  // AfterConstruction has created FThread
    int FSuspendCount;
    bool FReleased = false;   // the thread may enter its body
    bool FCancelled = false;  // the thread ends without entering its body

    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FSuspended;
    std::atomic<bool> FFinished{false};
    std::atomic<uint32_t> FExitCode{0};
    platform::StopSignal FStopSignal;

    std::mutex FJoinLock;  // serialises joins of FThread by concurrent waiters
    std::thread FThread;
};

// The body of a TEventedThread: receives the thread itself and the Data pointer given at
// creation. An object method is handed over as a lambda or std::bind_front(&TForm::Method, obj).
using TEventedThreadMethod = std::function<void(TEventedThread& Thread, void* Data)>;

// A thread whose body is handed over at creation instead of written by deriving.
class TEventedThread final : public TThread {
  public:
    // Stores OnExecute, Data and ThreadName before the thread starts, so the body always finds
    // them filled in. Data is never dereferenced by the thread; ThreadName is kept only here
    // (not passed to the operating system).
    TEventedThread(std::string ThreadName, bool CreateSuspended, TEventedThreadMethod OnExecute,
                   void* Data);
    ~TEventedThread() override;

    void* const Data;
    const TEventedThreadMethod OnExecute;
    const std::string ThreadName;

  protected:
    // Calls OnExecute once if set; with no OnExecute the thread ends at once.
    void Execute() override;
};

// Owner's thread: ends Thread at once and waits for it, with exit code StoppedExitCode. A
// suspended thread is ended without entering its body. Neither the terminated nor the finished
// flag gets set. Frees the object if FreeOnTerminate is set; otherwise the owner frees it after.
// A thread that had already finished keeps its own exit code. Nothing happens for a null Thread.
//
// The stop unwinds the body with platform::ThreadStopRequested out of the next platform wait it
// is in or reaches (platform::Sleep, the serial waits), so no lock stays held and destructors
// free everything; a catch-all in the body must rethrow ThreadStopRequested. A body that never
// blocks in such a wait is not interrupted until it reaches one or tests platform::StopRequested()
// itself; StopThread waits for that. A body that returns after the stop was asked for still counts
// as ended by force.
//
// With FreeOnTerminate set, call it only while the body cannot return by itself (a thread that
// may end on its own could free itself under the call).
void StopThread(TEventedThread* Thread);
