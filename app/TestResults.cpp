#include "app/TestResults.h"

#include <QBuffer>
#include <QDialog>
#include <QDialogButtonBox>
#include <QImage>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>

#include "app/ChartView.h"
#include "app/DesktopNotification.h"
#include "records/PostgresDatabase.h"
#include "records/Register.h"
#include "support/DateTime.h"
#include "testrun/Station.h"
#include "testrun/VerdictFile.h"

namespace {

constexpr int kPictureWidth = 1200;
constexpr int kPictureHeight = 700;
constexpr int kPictureDotsPerMeter = 3780;  // 96 dots per inch

}  // namespace

void TTestCurves::Clear() {
    FReadings.clear();
    FStride = 1;
    FSkipped = 0;
}

void TTestCurves::Add(const TDeviceReading& reading) {
    if (FSkipped + 1 < FStride) {
        ++FSkipped;
        return;
    }
    FSkipped = 0;
    FReadings.push_back(reading);
    if (FReadings.size() < 2 * kMost) return;
    // Twice as many as wanted: keep every other one from here on.
    for (size_t i = 0; i < kMost; ++i) FReadings[i] = FReadings[2 * i];
    FReadings.resize(kMost);
    FStride *= 2;
}

QString DrawTestPicture(const std::vector<TDeviceReading>& readings, const QString& path,
                        const QString& title) {
    TChartView chart;
    chart.resize(kPictureWidth, kPictureHeight);
    if (!title.isEmpty()) {
        chart.plotLayout()->insertRow(0);
        QFont font("Arial");
        font.setPixelSize(18);
        font.setBold(true);
        chart.plotLayout()->addElement(0, 0, new QCPTextElement(&chart, title, font));
    }
    float mostCurrent = 0;
    for (const TDeviceReading& reading : readings) {
        chart.AddChartPointsWithoutRepaint(reading);
        mostCurrent = std::max(mostCurrent, reading.Current);
    }
    chart.SetRightAxisMax(std::max(1.2 * mostCurrent, 0.1));
    chart.replot();  // lays the bottom axis over the readings, for the fit that follows
    chart.FitVoltage();
    // Drawn in memory and written whole: an image writer that meets a full disk may leave an
    // empty file and still say it saved.
    QImage image = chart.toPixmap(kPictureWidth, kPictureHeight).toImage();
    image.setDotsPerMeterX(kPictureDotsPerMeter);
    image.setDotsPerMeterY(kPictureDotsPerMeter);
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")) {
        return "the picture could not be drawn";
    }
    return QString::fromStdString(WriteFileWhole(path.toStdString(), png.toStdString()));
}

TTestResults::TTestResults(QWidget* window) : FWindow(window) {}

TTestResults::~TTestResults() {
    WaitForRecords();
    delete FSummary;
}

void TTestResults::Track(bool runningBefore) {
    if (!runningBefore && FTracker.TestRunning()) {
        FCurves.Clear();
        FRunCell = FCell;
    }
    for (const TDeviceReading& placed : FTracker.Placed()) FCurves.Add(placed);
}

void TTestResults::ConnectionOpened(const std::string& port, const std::string& log) {
    FTracker.ConnectionOpened(port, log);
}

void TTestResults::LogIncomplete(const std::string& log, const std::string& failure) {
    FIncompleteLogs.emplace(log, failure);
}

void TTestResults::Reading(const TDeviceReading& reading) {
    const bool runningBefore = FTracker.TestRunning();
    const std::optional<TTestSummary> ended = FTracker.Reading(reading);
    Track(runningBefore);
    Ended(ended, true);
}

void TTestResults::OperatorStopped() {
    FTracker.OperatorStopped();
}

void TTestResults::ConnectionEnded(bool mayReconnect) {
    const auto ended = FTracker.ConnectionEnded(CurrentStamp(), mayReconnect);
    Track(true);
    Ended(ended, true);
}

void TTestResults::ReconnectionGivenUp() {
    const auto ended = FTracker.ReconnectionGivenUp();
    Track(true);
    Ended(ended, true);
}

void TTestResults::Shutdown() {
    const auto ended = FTracker.ConnectionEnded(CurrentStamp(), false);
    Track(true);
    Ended(ended, false);
    WaitForRecords();  // the last verdicts reach the register before the program ends
}

void TTestResults::Ended(std::optional<TTestSummary> summary, bool show) {
    if (!summary) return;
    if (!FRunCell.empty()) summary->Cell = FRunCell;
    summary->Station = StationName(FStation);
    FLast = summary;
    FLastJson.clear();
    FLastPicture.clear();
    FLastMissing.clear();
    for (const std::string& log : summary->Logs) {
        if (const auto failed = FIncompleteLogs.find(log); failed != FIncompleteLogs.end()) {
            FLastMissing << QString::fromStdString(failed->second + " - the log misses readings");
        }
    }
    std::string json;
    if (!summary->Log.empty()) {
        const int number = ++FTestsEndedIn[summary->Log];
        json = FileBesideLog(summary->Log, number, ".json");
        if (const std::string failure = WriteFileWhole(json, VerdictJson(*summary));
            failure.empty()) {
            FLastJson = QString::fromStdString(json);
        } else {
            FLastMissing << QString::fromStdString("Error write file " + json + ": " + failure);
            json.clear();
        }
        const QString picture = QString::fromStdString(FileBesideLog(summary->Log, number, ".png"));
        const QString title =
            summary->Cell ? QString("Cell %1").arg(QString::fromStdString(*summary->Cell)) : "";
        if (const QString failure = DrawTestPicture(FCurves.Readings(), picture, title);
            failure.isEmpty()) {
            FLastPicture = picture;
        } else {
            FLastMissing << QString("Error write file %1: %2").arg(picture, failure);
        }
    }
    if (!FLastMissing.isEmpty()) {
        emit WriteFailed("Not all of the test was kept: " + FLastMissing.join("; "));
    }
    emit VerdictMade(QString::fromStdString(VerdictJson(*summary)));
    Record(*summary, json);
    FCurves.Clear();
    if (!show) return;
    if (FSummaryWindows) ShowLast();
    if (!FWindow->isActiveWindow()) {
        // The operator looks elsewhere: the desktop tells the end and what the battery gave.
        const QStringList lines = QString::fromStdString(VerdictText(*summary)).split('\n');
        const QString delivered = lines.filter(QRegularExpression("^Delivered ")).value(0);
        ShowDesktopNotification(lines.value(0),
                                QString::fromStdString(summary->Port) + ": " + delivered);
    }
    emit TestEnded();
}

const std::chrono::milliseconds TTestResults::kRecordsBound{
    kServerConnectTimeoutS * 1000 + kServerStatementTimeoutMs + kServerAnswerGraceMs};

void TTestResults::Record(const TTestSummary& summary, const std::string& jsonFile) {
    const std::string where = FRegister.empty() ? TRegister::DefaultLocation() : FRegister;
    // Off the window's thread: a register's server that is away, or a file another program holds
    // locked, costs a bounded wait, but never the window's.
    FRecorder->Post(
        [where, summary, jsonFile] {
            try {
                TRegister::Open(where)->Record(summary, jsonFile);
            } catch (const TRegisterPending& waiting) {
                // Kept in the outbox: sent with the next record, at the next start, or by a sync.
                return QString::fromStdString(std::string("Register: ") + waiting.what());
            } catch (const TRegisterError& error) {
                // The verdict stays beside the log, from where an import records it later.
                return QString::fromStdString(std::string("Not in the register: ") + error.what());
            }
            return QString();
        },
        [this](const QString& failure) {
            if (failure.isEmpty()) {
                emit Recorded();
            } else {
                emit WriteFailed(failure);
            }
        });
}

void TTestResults::WaitForRecords() {
    FRecorder->Wait(kRecordsBound);
}

void TTestResults::ShowLast() {
    if (!FLast) return;
    if (!FSummary) {
        FSummary = new QDialog(FWindow);
        FSummary->setObjectName("TestResult");
        FSummary->setWindowTitle("Test result");
        FSummary->setModal(false);
        // The operator's keys stay with the console (F5 for the next test), and work in the
        // summary too where the desktop gives it the focus.
        FSummary->setAttribute(Qt::WA_ShowWithoutActivating);
        FSummary->addActions(FWindow->actions());
        auto* layout = new QVBoxLayout(FSummary);
        auto* text = new QPlainTextEdit(FSummary);
        text->setObjectName("TestResultText");
        text->setReadOnly(true);
        text->setMinimumSize(520, 200);
        layout->addWidget(text);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, FSummary);
        connect(buttons, &QDialogButtonBox::rejected, FSummary, &QDialog::close);
        layout->addWidget(buttons);
    }
    QString text = QString::fromStdString(VerdictText(*FLast));
    if (!FLastJson.isEmpty()) text += "\nSummary: " + FLastJson;
    if (!FLastPicture.isEmpty()) text += "\nCurves: " + FLastPicture;
    for (const QString& missing : FLastMissing) text += "\nNot kept: " + missing;
    FSummary->findChild<QPlainTextEdit*>("TestResultText")->setPlainText(text);
    FSummary->show();
    FSummary->raise();
}
