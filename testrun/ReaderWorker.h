#pragma once
// The worker side of one tester's connection, in the console and in kelvo-run: the serial link,
// the command queue, the connected flag and the worker thread that owns all the link's input and
// output. Its owner (the window, or kelvo-run's
// runner; "the window" below) queues commands and learns everything else from posted messages
// (port notices, command notices, readings).
//
// Threads: QueueCommand, Start, Shutdown and the setters run on the window's thread; WorkerLoop
// runs on the worker thread. FConnected is written by the window's thread only.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "device/SerialLink.h"
#include "testrun/PortSelection.h"
#include "testrun/ReaderCommand.h"
#include "threads/ThreadClasses.h"

class TReaderWorker {
  public:
    // Reads the port and baud rate to connect to; called on the worker thread, at the moment a
    // connect command is carried out. May throw: the error is caught and logged by the loop.
    using TSelectionReader = std::function<TPortChoice()>;

    // The link's messages go to `sink` (see TSerialLink), which must outlive the worker.
    TReaderWorker(TSelectionReader readSelection, TMessageSink* sink);
    ~TReaderWorker();  // Shutdown()
    TReaderWorker(const TReaderWorker&) = delete;
    TReaderWorker& operator=(const TReaderWorker&) = delete;

    // Starts the worker thread "KelvoReaderWorkingThread"; its loop begins at once unless
    // `suspended` (then Resume() lets it go).
    void Start(bool suspended = false);
    void Resume();
    // Clears the connected flag, ends the worker at once and waits for it, then frees it and
    // the queue. Commands still queued are dropped unexecuted (and freed). Idempotent.
    void Shutdown();

    // Allocates a command and pushes it; never waits for the worker.
    void QueueCommand(int32_t kind, double value);

    // The port and rate of the last connect command carried out, as read at that moment. Once
    // the window hears TPortOpened, this is the connection that opened. Any thread.
    TPortChoice LastConnect() const;
    // The bare name of the port the link has open now (also before the window has heard of the
    // open), or empty. Any thread.
    std::string PortInUse() const;

    // The link to the tester. Its Close() is also the window's, when the device goes away.
    TSerialLink& Link() { return FLink; }
    const TSerialLink& Link() const { return FLink; }

    // The window's connected flag: set on the port-opened notice, cleared on the port-closed
    // notice, at a disconnect request and at shutdown.
    std::atomic<bool> FConnected{false};

  private:
    void WorkerLoop(TEventedThread& thread, void* data);
    void CarryOut(const TReaderCommand& command);

    TSelectionReader FReadSelection;
    TSerialLink FLink;
    TPortSelection FLastConnect;           // written by the worker, read by the window
    std::unique_ptr<TThreadQueue> FQueue;  // owns the commands in it
    std::unique_ptr<TEventedThread> FWorker;
};
