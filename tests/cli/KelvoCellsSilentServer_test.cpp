// kelvo-cells against a server that takes the login and then never answers, as a script at a
// bench would run it: each command ends with exit 3 and the cause (the server, and that it did not
// answer within the location's statement limit), instead of waiting for as long as the server is
// silent.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include "tests/cli/ProgramRun.h"
#include "tests/fixtures/SilentPostgres.h"

namespace {

constexpr int kBoundMs = 120000;

TEST(KelvoCellsOnASilentServer, ReadsAndWritesEndWithTheCauseWithinTheLimit) {
    TSilentPostgres silent;
    if (!silent.Failure().empty()) GTEST_SKIP() << silent.Failure();
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString location = QString::fromStdString(silent.Location("-c statement_timeout=300"));
    const QStringList commands[] = {{"list"}, {"show", "C-1"}, {"rate", "C-1", "2.5"}};
    for (const QStringList& command : commands) {
        SCOPED_TRACE(command.join(' ').toStdString());
        QProcess cells;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", folder.path());  // the outbox, not the user's
        cells.setProcessEnvironment(env);
        cells.start(KELVO_CELLS_PROGRAM, QStringList{"--register", location} + command);
        const TProgramRun run = FinishProgram(cells, kBoundMs);
        EXPECT_EQ(run.code, 3) << run.err.constData();
        EXPECT_NE(run.err.indexOf(location.toUtf8() + ": no answer from the server within 2.3 s"),
                  -1)
            << run.err.constData();
    }
    EXPECT_GE(silent.Unanswered(), 3);  // each asked, and was left waiting
}

}  // namespace
