#include "threads/ThreadClasses.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <utility>

#include "platform/DebugOutput.h"
#include "support/Errors.h"

// ---- TManualEvent

void TManualEvent::Set() {
    std::lock_guard lock(FLock);
    FSignalled = true;
    FChanged.notify_all();
}

void TManualEvent::Reset() {
    std::lock_guard lock(FLock);
    FSignalled = false;
}

bool TManualEvent::IsSet() const {
    std::lock_guard lock(FLock);
    return FSignalled;
}

bool TManualEvent::WaitFor(uint32_t ms) const {
    std::unique_lock lock(FLock);
    return FChanged.wait_for(lock, std::chrono::milliseconds(ms), [this] { return FSignalled; });
}

// ---- TThreadQueue

TThreadQueue::TThreadQueue(bool Fifo) : Fifo(Fifo) {}

void* TThreadQueue::Push(void* Item) {
    std::lock_guard lock(FLock);
    const TDuplicates mode = Duplicates.load();
    void* result = Item;
    if (mode != dmAccept && std::find(FList.begin(), FList.end(), Item) != FList.end()) {
        if (mode == dmError) throw EListError("Duplicate item");
        result = nullptr;
    } else {
        FList.push_back(Item);
    }
    FEvent.Set();
    return result;
}

void* TThreadQueue::Pop() {
    std::lock_guard lock(FLock);
    FEvent.Reset();
    if (FList.empty()) {
        if (RaiseOnEmpty.load()) throw Exception("Pop on empty queue");
        return nullptr;
    }
    void* item;
    if (Fifo) {
        item = FList.front();
        FList.pop_front();
    } else {
        item = FList.back();
        FList.pop_back();
    }
    return item;
}

// ---- TThread

TThread::TThread(bool CreateSuspended)
    : FSuspendCount(CreateSuspended ? 1 : 0), FSuspended(CreateSuspended) {}

TThread::~TThread() {
    BeforeDestruction();
}

void TThread::AfterConstruction() {
    // The gate is still closed while FThread is assigned: the thread reads FThread only after
    // passing it (to detach itself when it frees its own object).
    FThread = std::thread([this] { ThreadEntry(); });
    std::lock_guard lock(FStateLock);
    FStarted = true;
    ReleaseIfReady();
}

void TThread::ReleaseIfReady() {
    if (FStarted && FSuspendCount == 0 && !FCancelled && !FReleased) {
        FReleased = true;
        FStateChanged.notify_all();
    }
}

void TThread::Resume() {
    std::lock_guard lock(FStateLock);
    if (FSuspendCount == 0) return;
    if (--FSuspendCount == 0) FSuspended.store(false);
    ReleaseIfReady();
}

uint32_t TThread::WaitFor() {
    // A plain wait, also on the window's thread: the worker never sends anything to the window
    // and waits for it, so there are no sent messages to serve meanwhile.
    std::lock_guard lock(FJoinLock);
    if (FThread.joinable()) FThread.join();
    return FExitCode.load();
}

void TThread::BeforeDestruction() {
    if (FThread.joinable() && FThread.get_id() == std::this_thread::get_id()) {
        // FreeOnTerminate: the object is freed by its own thread, which cannot join itself.
        FThread.detach();
        return;
    }
    bool cancelled;
    {
        std::lock_guard lock(FStateLock);
        if (!FReleased) {
            FCancelled = true;
            FStateChanged.notify_all();
        }
        cancelled = FCancelled;
    }
    if (!cancelled && !Finished()) Terminate();
    WaitFor();
}

void TThread::ThreadEntry() {
    {
        std::unique_lock lock(FStateLock);
        FStateChanged.wait(lock, [this] { return FReleased || FCancelled; });
        if (FCancelled) return;
    }
    platform::SetThreadStopSignal(&FStopSignal);
    bool failed = false;
    try {
        // A thread stopped while it was suspended ends without entering its body.
        platform::ThrowIfStopRequested();
        Execute();
    } catch (const platform::ThreadStopRequested&) {
    } catch (const std::exception& error) {
        failed = true;
        platform::DebugOutput(error.what());
    } catch (...) {
        failed = true;
        platform::DebugOutput("Unknown error");
    }
    platform::SetThreadStopSignal(nullptr);

    // Once a stop was asked for, StopThread owns the ending (and the freeing): the thread counts
    // as ended by force even if its body got to return.
    if (FStopSignal.Raised()) {
        FExitCode.store(StoppedExitCode);
        return;
    }
    FExitCode.store(failed ? FailedExitCode : ReturnValue.load());
    FFinished.store(true);
    if (FreeOnTerminate.load()) delete this;
}

// ---- TEventedThread

TEventedThread::TEventedThread(std::string threadName, bool createSuspended,
                               TEventedThreadMethod onExecute, void* data)
    : TThread(createSuspended),
      Data(data),
      OnExecute(std::move(onExecute)),
      ThreadName(std::move(threadName)) {
    AfterConstruction();
}

TEventedThread::~TEventedThread() {
    BeforeDestruction();
}

void TEventedThread::Execute() {
    if (OnExecute) OnExecute(*this, Data);
}

void StopThread(TEventedThread* Thread) {
    if (Thread == nullptr) return;
    // Raised before the resume, so a suspended thread never gets into its body.
    Thread->FStopSignal.Raise();
    if (Thread->Suspended()) Thread->Resume();
    Thread->WaitFor();
    if (Thread->FreeOnTerminate.load()) delete Thread;
}
