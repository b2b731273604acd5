// The port list of the window: its arrival and removal logic with injected events, its filling
// at start-up, and a real inotify watch seeing simulators published and taken away.

#include <QComboBox>
#include <QSignalSpy>
#include <QStringList>
#include <QTest>
#include <memory>

#include "app/PortList.h"
#include "app/PortWatcher.h"
#include "platform/HotPlug.h"
#include "platform/PortDiscovery.h"
#include "platform/VirtualPorts.h"
#include "sim/PtyTester.h"
#include "tests/platform/TestRuntimeFolder.h"

namespace {

constexpr int kBoundMs = 10000;  // generous: only reached when an event is lost
constexpr quint32 kArrival = platform::kDeviceArrival;
constexpr quint32 kRemoval = platform::kDeviceRemoveComplete;
constexpr quint32 kPort = platform::kDeviceTypePort;

QStringList Items(const QComboBox& box) {
    QStringList items;
    for (int i = 0; i < box.count(); ++i) items << box.itemText(i);
    return items;
}

QStringList ToQt(const std::vector<std::string>& names) {
    QStringList list;
    for (const std::string& name : names) list << QString::fromStdString(name);
    return list;
}

}  // namespace

class PortListTest : public QObject {
    Q_OBJECT

  private:
    QComboBox box_;
    int closes_ = 0;
    std::unique_ptr<TPortList> list_;

    void Event(quint32 code, quint32 type, const QString& name) {
        QCOMPARE(list_->WMDeviceChange(code, type, name), 1);
    }
    void Arrive(const QString& name) { Event(kArrival, kPort, name); }
    void Remove(const QString& name) { Event(kRemoval, kPort, name); }

  private slots:
    void init() {
        test_ports::FreshVirtualPortFolder();
        box_.clear();
        closes_ = 0;
        list_ = std::make_unique<TPortList>(&box_, [this] { ++closes_; });
    }

    void AddPortNameSelectsNothingEvenOnAnEmptyList() {
        AddPortName("ttyUSB0", &box_);
        AddPortName("ttyACM0", &box_);
        QCOMPARE(Items(box_), (QStringList{"ttyUSB0", "ttyACM0"}));
        QCOMPARE(box_.currentIndex(), -1);
        AddPortName("ttyS0", nullptr);
    }

    void ArrivalOnEmptyListIsSelectedAndASecondLeavesTheSelection() {
        Arrive("ttyUSB0");
        QCOMPARE(Items(box_), QStringList{"ttyUSB0"});
        QCOMPARE(box_.currentText(), QString("ttyUSB0"));
        Arrive("ttyUSB1");
        box_.setCurrentIndex(1);
        Arrive("ttyACM0");
        QCOMPARE(Items(box_), (QStringList{"ttyUSB0", "ttyUSB1", "ttyACM0"}));
        QCOMPARE(box_.currentText(), QString("ttyUSB1"));
        QCOMPARE(closes_, 0);
    }

    void RemovalOfSelectedPortClosesTheLinkOnceAndSelectsFirst() {
        for (const char* name : {"ttyUSB0", "ttyUSB1", "ttyACM0"}) Arrive(name);
        box_.setCurrentIndex(1);
        Remove("ttyUSB1");
        QCOMPARE(closes_, 1);
        QCOMPARE(Items(box_), (QStringList{"ttyUSB0", "ttyACM0"}));
        QCOMPARE(box_.currentIndex(), 0);
    }

    void RemovalOfAnotherPortLeavesTheLinkButSelectsFirst() {
        for (const char* name : {"ttyUSB0", "ttyUSB1", "ttyACM0"}) Arrive(name);
        box_.setCurrentIndex(2);
        Remove("ttyUSB1");
        QCOMPARE(closes_, 0);
        QCOMPARE(Items(box_), (QStringList{"ttyUSB0", "ttyACM0"}));
        QCOMPARE(box_.currentIndex(), 0);
        Remove("ttyKELVO9");  // not listed: nothing deleted, the selection still moves to item 0
        QCOMPARE(Items(box_), (QStringList{"ttyUSB0", "ttyACM0"}));
        QCOMPARE(box_.currentIndex(), 0);
    }

    void RemovalOfTheLastPortClosesAndClearsTheText() {
        Arrive("ttyUSB0");
        Remove("ttyUSB0");
        QCOMPARE(closes_, 1);
        QCOMPARE(box_.count(), 0);
        QCOMPARE(box_.currentIndex(), -1);
        QCOMPARE(box_.currentText(), QString());
        Arrive("ttyUSB0");
        QCOMPARE(box_.currentText(), QString("ttyUSB0"));
    }

    void TwiceAnnouncedPortIsListedTwiceAndRemovedOnceIgnoringCase() {
        for (const char* name : {"ttyUSB0", "ttyACM0", "ttyACM0"}) Arrive(name);
        box_.setCurrentIndex(1);
        // The close needs the exact name; the deletion ignores case.
        Remove("TTYACM0");
        QCOMPARE(closes_, 0);
        QCOMPARE(Items(box_), (QStringList{"ttyUSB0", "ttyACM0"}));
        box_.setCurrentIndex(1);
        Remove("ttyACM0");
        QCOMPARE(closes_, 1);
        QCOMPARE(Items(box_), QStringList{"ttyUSB0"});
    }

    void OtherDeviceTypesAndCodesChangeNothing_data() {
        QTest::addColumn<quint32>("code");
        QTest::addColumn<quint32>("type");
        QTest::newRow("arrival of a terminal without hardware")
            << kArrival << platform::kDeviceTypeOther;
        QTest::newRow("removal of a folder") << kRemoval << platform::kDeviceTypeOther;
        QTest::newRow("arrival of a volume") << kArrival << quint32(2);
        QTest::newRow("query to remove a port") << quint32(0x8001) << kPort;
        QTest::newRow("removal pending for a port") << quint32(0x8003) << kPort;
        QTest::newRow("device nodes changed") << quint32(0x0007) << quint32(0);
    }
    void OtherDeviceTypesAndCodesChangeNothing() {
        QFETCH(quint32, code);
        QFETCH(quint32, type);
        for (const char* name : {"ttyUSB0", "ttyUSB1"}) Arrive(name);
        box_.setCurrentIndex(1);
        Event(code, type, "ttyUSB1");
        Event(code, type, "ttyUSB9");
        QCOMPARE(Items(box_), (QStringList{"ttyUSB0", "ttyUSB1"}));
        QCOMPARE(box_.currentIndex(), 1);
        QCOMPARE(closes_, 0);
    }

    void FillListsHardwareThenVirtualPortsAndSelectsFirst() {
        sim::PtyTester tester;
        const platform::PublishedPort first("ttyKELVO1", tester.DevicePath());
        const platform::PublishedPort second("ttyKELVO0", tester.DevicePath());
        list_->Fill();
        QCOMPARE(Items(box_), ToQt(platform::SerialPortNames()));
        const QStringList published = ToQt(platform::VirtualPortNames());
        QCOMPARE(published.size(), 2);
        QCOMPARE(Items(box_).mid(box_.count() - 2), published);
        QCOMPARE(box_.currentIndex(), 0);
        QCOMPARE(closes_, 0);
    }

    void PublishedSimulatorsArriveAndGoThroughARealWatch() {
        TPortWatcher watcher;
        QVERIFY(watcher.WatchesVirtualPorts());
        connect(&watcher, &TPortWatcher::DeviceChanged, this,
                [this](quint32 code, quint32 type, const QString& name) {
                    list_->WMDeviceChange(code, type, name);
                });
        sim::PtyTester tester0, tester1;
        auto port0 = std::make_unique<platform::PublishedPort>("ttyKELVO0", tester0.DevicePath());
        QTRY_COMPARE_WITH_TIMEOUT(Items(box_), QStringList{"ttyKELVO0"}, kBoundMs);
        QCOMPARE(box_.currentText(), QString("ttyKELVO0"));

        auto port1 = std::make_unique<platform::PublishedPort>("ttyKELVO1", tester1.DevicePath());
        QTRY_COMPARE_WITH_TIMEOUT(Items(box_), (QStringList{"ttyKELVO0", "ttyKELVO1"}), kBoundMs);
        QCOMPARE(box_.currentText(), QString("ttyKELVO0"));

        port0.reset();  // the selected simulator is unplugged
        QTRY_COMPARE_WITH_TIMEOUT(Items(box_), QStringList{"ttyKELVO1"}, kBoundMs);
        QCOMPARE(closes_, 1);
        QCOMPARE(box_.currentText(), QString("ttyKELVO1"));

        port1.reset();
        QTRY_COMPARE_WITH_TIMEOUT(box_.count(), 0, kBoundMs);
        QCOMPARE(closes_, 2);
        QCOMPARE(box_.currentIndex(), -1);
    }
};

QTEST_MAIN(PortListTest)
#include "PortList_test.moc"
