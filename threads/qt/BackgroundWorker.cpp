#include "threads/qt/BackgroundWorker.h"

#include <exception>
#include <string>

#include "platform/DebugOutput.h"

TBackgroundWorker::TBackgroundWorker(QObject* parent) : QObject(parent) {}

TBackgroundWorker::~TBackgroundWorker() {
    Finish(std::chrono::milliseconds(0));
}

void TBackgroundWorker::Enqueue(std::function<void()> work, std::function<void()> done) {
    if (FFinishing) return;
    ++FPending;
    {
        std::lock_guard lock(FLock);
        FQueue.push_back({std::move(work), std::move(done)});
    }
    FChanged.notify_all();
    if (!FThread.joinable()) FThread = std::thread([this] { Run(); });
}

void TBackgroundWorker::Run() {
    platform::SetThreadStopSignal(&FStop);
    for (;;) {
        TJob job;
        {
            std::unique_lock lock(FLock);
            FChanged.wait(lock, [&] { return FStopping || !FQueue.empty(); });
            if (FStopping) break;
            job = std::move(FQueue.front());
            FQueue.pop_front();
            FRunning = true;
        }
        bool stopped = false;
        try {
            job.Work();
        } catch (const platform::ThreadStopRequested&) {
            stopped = true;
        } catch (const std::exception& error) {
            platform::DebugOutput(std::string("Background job failed: ") + error.what());
            job.Done = nullptr;
        } catch (...) {
            platform::DebugOutput("Background job failed");
            job.Done = nullptr;
        }
        {
            std::lock_guard lock(FLock);
            FRunning = false;
            if (!stopped) FDone.push_back(std::move(job.Done));
        }
        FChanged.notify_all();
        if (stopped) break;
        QMetaObject::invokeMethod(this, "Deliver", Qt::QueuedConnection);
    }
    platform::SetThreadStopSignal(nullptr);
}

void TBackgroundWorker::Deliver() {
    std::deque<std::function<void()>> ran;
    {
        std::lock_guard lock(FLock);
        ran.swap(FDone);
    }
    if (ran.empty() || FFinishing) return;
    for (std::function<void()>& done : ran) {
        --FPending;
        if (done && !FFinishing) done();
    }
    if (FPending == 0 && !FFinishing) emit Idle();
}

bool TBackgroundWorker::Wait(std::chrono::milliseconds bound) {
    std::unique_lock lock(FLock);
    return FChanged.wait_for(lock, bound, [&] { return FQueue.empty() && !FRunning; });
}

bool TBackgroundWorker::Finish(std::chrono::milliseconds bound) {
    if (!FThread.joinable()) {
        FFinishing = true;
        return true;
    }
    const bool all = !FFinishing && Wait(bound);
    FFinishing = true;
    {
        std::lock_guard lock(FLock);
        FStopping = true;
        FQueue.clear();
    }
    FChanged.notify_all();
    FStop.Raise();
    FThread.join();
    return all;
}
