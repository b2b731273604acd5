#pragma once
// A program of ours run to its end by a test, as a script would run it.

#include <QByteArray>
#include <QProcess>

struct TProgramRun {
    int code = -1;  // the exit code; -1 when it crashed or did not end within the bound
    QByteArray out, err;
};

// Waits up to `boundMs` for the started `process` to end (then kills it) and takes its output.
inline TProgramRun FinishProgram(QProcess& process, int boundMs) {
    TProgramRun run;
    if (!process.waitForFinished(boundMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    if (process.exitStatus() == QProcess::NormalExit) run.code = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}
