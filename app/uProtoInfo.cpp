#include "app/uProtoInfo.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kWidth = 301;
constexpr int kHeight = 290;
constexpr int kPanelHeight = 33;
constexpr int kButtonWidth = 75;
constexpr int kButtonHeight = 25;
constexpr int kButtonTop = 5;    // below the panel's top edge
constexpr int kButtonRight = 3;  // from the panel's right edge

const char* const kLines[] = {
    "Start",
    "---",
    "B1B2010100B6",
    "===",
    "6F",
    "",
    "Stop",
    "---",
    "B1B2010000B6",
    "===",
    "6F",
    "",
    "Read start/stop status",
    "---",
    "B1B2100000B6",
    "===",
    "answer:",
    "CACB000000CECF = off",
    "CACB000001CECF = on",
    "",
    "Read voltage",
    "---",
    "B1B2110000B6",
    "===",
    "answer",
    "CACB000BF4CECF => 000BF4 hex => 3060 dec = 3.060 ",
    "V",
    "",
    "Read current",
    "---",
    "B1B2120000B6",
    "===",
    "answer",
    "CACB0012C1CECF => 0012C1 hex => 4801 dec = 4.801 ",
    "A",
    "",
    "Read test time/time to end",
    "---",
    "B1B2130000B6",
    "===",
    "answer",
    "CACB010220CECF => 010220H =>01,02,32 dec = ",
    "01:02:32",
    "",
    "Read amper*hour",
    "---",
    "B1B2140000B6",
    "===",
    "answer",
    "CACB00000ACECF => 00000A hex => 10 dec = 0.01 ",
    "A*H",
    "",
    "Read Watt*hour",
    "---",
    "B1B2150000B6",
    "===",
    "answer",
    "CACB000023CECF => 000023 hex => 35 dec = 0.035 ",
    "W*H",
    "",
    "Read temperature",
    "---",
    "B1B2160000B6",
    "===",
    "answer",
    "CACB00001ACECF => 00001A hex => 26 dec = 26°",
    "",
    "Read discharge current setpoint",
    "---",
    "B1B2170000B6",
    "===",
    "answer",
    "CACB0000C8CECF => 0000C8 hex => 200 dec = 2.00 A",
    "",
    "Write discharge current setpoint",
    "---",
    "B1B2020405B6 => 0405 hex => 4,5 dec = 4.5 A",
    "===",
    "6F",
    "",
    "Read cutoff voltage setpoint",
    "---",
    "B1B2180000B6",
    "===",
    "answer",
    "CACB000320CECF => 000320 hex => 800 dec = 8.00 V",
    "",
    "Write cutoff voltage setpoint",
    "---",
    "B1B2030600B6 => 0600 hex => 6,0 dec = 6.0 V",
    "===",
    "6F",
    "",
    "Read test time setpoint",
    "---",
    "B1B2190000B6",
    "===",
    "answer",
    "CACB010203CECF => 010203 hex => 01,02,03 dec = ",
    "01:02:03",
    "",
    "Write test time setpoint",
    "---",
    "B1B2040E8BB6 => 0E8B hex => 3723 sec = ",
    "3600+120+3 sec = 01:02:03",
    "===",
    "6F",
    "",
    "Reset counters",
    "---",
    "B1B2050000B6",
    "===",
    "6F",
};

}  // namespace

QString ProtocolDescriptionText() {
    QStringList lines;
    for (const char* line : kLines) lines << QString::fromUtf8(line);
    return lines.join(u'\n');
}

TFProtoInfo::TFProtoInfo(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                         Qt::WindowStaysOnTopHint),
      Memo1(new QPlainTextEdit(this)),
      Panel1(new QFrame(this)),
      bClose(new QPushButton(QStringLiteral("Close"), Panel1)) {
    setWindowTitle(QStringLiteral("Protocol description"));
    resize(kWidth, kHeight);

    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setPlainText(ProtocolDescriptionText());

    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameShape(QFrame::NoFrame);
    Panel1->setFixedHeight(kPanelHeight);

    bClose->setObjectName(QStringLiteral("bClose"));
    bClose->setFixedSize(kButtonWidth, kButtonHeight);
    bClose->setDefault(true);
    connect(bClose, &QPushButton::clicked, this, &TFProtoInfo::reject);

    // The stretch keeps the button at the right edge; the memo takes the rest of the window.
    auto* panelLayout = new QHBoxLayout(Panel1);
    panelLayout->setContentsMargins(0, kButtonTop, kButtonRight,
                                    kPanelHeight - kButtonTop - kButtonHeight);
    panelLayout->setSpacing(0);
    panelLayout->addStretch(1);
    panelLayout->addWidget(bClose, 0, Qt::AlignTop);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Memo1, 1);
    layout->addWidget(Panel1);

    setTabOrder(Memo1, bClose);
    Memo1->setFocus();
}

void TFProtoInfo::reject() {
    done(kCloseResult);
}
