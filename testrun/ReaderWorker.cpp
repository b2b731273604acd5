#include "testrun/ReaderWorker.h"

#include <exception>

#include "device/KelvoProtocol.h"
#include "platform/DebugOutput.h"
#include "platform/PortNames.h"
#include "platform/ThreadStop.h"
#include "support/Format.h"

namespace {
constexpr uint32_t kIdleSleepMs = 100;
}

TReaderWorker::TReaderWorker(TSelectionReader readSelection, TMessageSink* sink)
    : FReadSelection(std::move(readSelection)),
      FLink(sink),
      FQueue(std::make_unique<TThreadQueue>(true)) {
    FQueue->RaiseOnEmpty = false;
}

TReaderWorker::~TReaderWorker() {
    Shutdown();
}

void TReaderWorker::Start(bool suspended) {
    FWorker = std::make_unique<TEventedThread>(
        "KelvoReaderWorkingThread", suspended,
        [this](TEventedThread& thread, void* data) { WorkerLoop(thread, data); }, this);
}

void TReaderWorker::Resume() {
    if (FWorker) FWorker->Resume();
}

void TReaderWorker::Shutdown() {
    FConnected = false;
    if (FWorker) {
        StopThread(FWorker.get());
        FWorker.reset();
    }
    if (FQueue) {
        // The worker has ended, so nobody else holds these commands: free them rather than
        // leak them with the queue.
        while (void* item = FQueue->Pop()) delete static_cast<TReaderCommand*>(item);
        FQueue.reset();
    }
}

void TReaderWorker::QueueCommand(int32_t kind, double value) {
    if (!FQueue) return;  // after shutdown nobody would carry it out
    FQueue->Push(new TReaderCommand{kind, value});
}

TPortChoice TReaderWorker::LastConnect() const {
    return FLastConnect.Current();
}

std::string TReaderWorker::PortInUse() const {
    return FLink.IsOpen() ? FLastConnect.Current().Name : std::string();
}

void TReaderWorker::WorkerLoop(TEventedThread& thread, void*) {
    while (!thread.Terminated()) {
        std::unique_ptr<TReaderCommand> command;
        try {
            command.reset(static_cast<TReaderCommand*>(FQueue->Pop()));
            if (command) {
                CarryOut(*command);
                command.reset();
            }
            // Connected but with the port closed: the window has yet to handle the notice of a
            // close on its side (the device went away); there is nothing to poll.
            if (FConnected && FLink.IsOpen()) {
                PollDevice(FLink, kNoAbortEvent);
            } else {
                platform::Sleep(kIdleSleepMs);
            }
        } catch (const platform::ThreadStopRequested&) {
            throw;  // the thread is being ended: unwind, freeing the command in hand
        } catch (const std::exception& e) {
            platform::DebugOutput([&] { return Format("%s", e.what()); });
        } catch (...) {
            platform::DebugOutput("Unknown error");
        }
    }
}

void TReaderWorker::CarryOut(const TReaderCommand& command) {
    if (command.Kind == cmdConnect) {
        if (command.Value != 0) {
            const TPortChoice choice = FReadSelection();
            FLastConnect.Publish(choice);
            FLink.Open(platform::DevicePathFor(choice.Name), choice.Baud);
        } else {
            FLink.Close();
        }
        return;
    }
    if (!FConnected) return;  // dropped: kinds 1 to 5 need the connection
    const platform::SerialHandle port = FLink.Port();
    switch (command.Kind) {
        case cmdStartStop:
            SetTestRunning(FLink, command.Value != 0, kNoAbortEvent);
            break;
        case cmdSetCurrent:
            WriteCurrentSetpoint(FLink, command.Value, kNoAbortEvent);
            break;
        case cmdSetCutoffVoltage:
            WriteCutoffVoltage(FLink, command.Value, kNoAbortEvent);
            break;
        case cmdSetTestTime:
            WriteTestTime(FLink, TestTimeSeconds(command.Value), kNoAbortEvent);
            break;
        case cmdResetCounters:
            ResetCounters(FLink, kNoAbortEvent);
            break;
        default:
            return;  // unknown kinds do nothing
    }
    // Not after the notice of the port's close: the command may not have reached the tester.
    FLink.PostWhileOpen(port, [&] { FLink.Post(TCommandDone{command.Kind, command.Value != 0}); });
}
