#pragma once
// Tick marks and labels for a time axis whose coordinates are days of elapsed test time (one
// second is 1/86400). Labels read hours:minutes:seconds from 0 and grow past 99 hours rather
// than wrap; steps are whole seconds, minutes or hours that a reader can add up at a glance.

#include <qcustomplot.h>

#include <QString>

class TElapsedTimeTicker : public QCPAxisTicker {
  public:
    TElapsedTimeTicker();

    // Elapsed time `days` as hours:minutes:seconds, each part at least two digits, rounded to
    // the nearest second: 3725 s gives "01:02:05", 360000 s gives "100:00:00", -1 s "-00:00:01".
    static QString ElapsedTimeText(double days);

  protected:
    double getTickStep(const QCPRange& range) override;
    int getSubTickCount(double tickStep) override;
    QString getTickLabel(double tick, const QLocale& locale, QChar formatChar,
                         int precision) override;
};
