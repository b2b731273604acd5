#pragma once
// One cell's tests as a table, newest first as the register gives them: id, end, reason, Ah, Wh,
// mean A, IR (mΩ), duration, station, log. Numbers in the user's locale (FormatFixed), the end as
// its station's clock read it, the duration by the tester's clock (LongDurationText). Read only.
// Window's thread only.

#include <QAbstractTableModel>
#include <QStringList>
#include <vector>

#include "records/Register.h"

class TCellTestsModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    enum TColumn {
        kId,
        kEnd,
        kReason,
        kAh,
        kWh,
        kMeanA,
        kIr,
        kDuration,
        kStation,
        kLog,
        kColumnCount
    };

    explicit TCellTestsModel(QObject* parent = nullptr);

    void SetTests(std::vector<TRegisteredTest> tests);
    const std::vector<TRegisteredTest>& Tests() const { return FTests; }
    const TRegisteredTest& Test(int row) const { return FTests[row]; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    std::vector<TRegisteredTest> FTests;
};

// Every log `test` spans, in order (its one log when the list is empty); no empty names.
QStringList LogsOf(const TRegisteredTest& test);
