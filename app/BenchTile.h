#pragma once
// One tester of a bench. The tester's full view (a console window, TForm1) holds everything of
// its connection: the link, the log, the verdicts, the register record, the telemetry, the
// reconnection. The tile shows it at a glance and drives it: the port, the cell under test, the
// state, the latest values in digits readable from a distance, a small chart of voltage and
// current against the test's elapsed time, the verdict of the test that ended last and what the
// view's message field says. Connect/Disconnect and Start/Stop are the view's own actions; a
// double click shows the view. Window's thread only.

#include <QFrame>
#include <QString>
#include <memory>

#include "device/DeviceReading.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class TForm1;
class TTileChart;

class TBenchTile : public QFrame {
    Q_OBJECT

  public:
    enum class TState { NotConnected, Idle, Running, Ended, ConnectionLost };
    static QString StateText(TState state);

    // The tile of `port`, showing and owning `view`.
    TBenchTile(const QString& port, std::unique_ptr<TForm1> view, QWidget* parent = nullptr);
    ~TBenchTile() override;

    const QString& Port() const { return FPort; }
    TForm1& View() { return *FView; }
    TState State() const;

    // The view's actions, for this tile's port. Connect says in the tile when the port is not
    // listed; Start asks as the view does before a test that would drain the cell.
    void Connect();
    void Disconnect();
    void Start();
    void Stop();

    QLineEdit* CellBox;  // a scanner types into the tile that has the focus
    QLabel* StateLabel;
    QLabel* Voltage;
    QLabel* Current;
    QLabel* AmpHours;
    QLabel* WattHours;
    QLabel* Temperature;
    QLabel* Elapsed;
    QLabel* VerdictLine;
    QLabel* MessageLine;
    QPushButton* ConnectButton;
    QPushButton* StartButton;
    QToolButton* RemoveButton;
    TTileChart* Chart;

  signals:
    void RemoveWanted();

  protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void ShowState();
    void ShowVerdict();
    void ShowMessage(const QString& text, bool problem);
    void ShowReading(const TDeviceReading& reading);

    QString FPort;
    std::unique_ptr<TForm1> FView;
    bool FEnded = false;  // a test ended on this connection and none runs since
};
