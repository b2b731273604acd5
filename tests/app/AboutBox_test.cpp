// The About box, in a program that carries the version block.
#include "app/AboutBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {

// What the test saw of the box before pressing its OK button.
struct SeenBox {
    bool found = false;
    QString caption;
    QString text;
    int buttons = 0;
    bool okButton = false;
    QMessageBox::Icon standardIcon = QMessageBox::NoIcon;
    QImage icon;
    QWidget* parent = nullptr;
};

QMessageBox* VisibleMessageBox() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(widget);
        if (box != nullptr && box->isVisible()) return box;
    }
    return nullptr;
}

// Waits (inside the box's own loop) for the box to show, notes what it shows and presses OK.
void InspectThenPressOk(SeenBox& seen, int attemptsLeft = 2000) {
    QMessageBox* box = VisibleMessageBox();
    if (box == nullptr) {
        if (attemptsLeft > 0) {
            QTimer::singleShot(
                10, [&seen, attemptsLeft] { InspectThenPressOk(seen, attemptsLeft - 1); });
        }
        return;
    }
    seen.found = true;
    seen.caption = box->windowTitle();
    seen.text = box->text();
    seen.buttons = static_cast<int>(box->buttons().size());
    seen.okButton = box->button(QMessageBox::Ok) != nullptr;
    seen.standardIcon = box->icon();
    seen.icon = box->iconPixmap().toImage();
    seen.parent = box->parentWidget();
    QTest::mouseClick(box->buttons().front(), Qt::LeftButton);
}

QString ProductLine() {
    return QStringLiteral("Kelvo console ") + KELVO_TEST_FILE_VERSION;
}

}  // namespace

class AboutBoxTest : public QObject {
    Q_OBJECT

  private slots:
    void textIsProductNameBlankFileVersionCrLf() {
        QCOMPARE(QString::fromStdString(AboutText("")), ProductLine() + "\r\n");
        QCOMPARE(QString::fromStdString(AboutText("%n: %r")),
                 QStringLiteral("Kelvo: ") + KELVO_TEST_FILE_VERSION);
    }

    void programIconLoadsFromTheResources() {
        const QIcon icon = ProgramIcon();
        QVERIFY(!icon.isNull());
        QVERIFY(!icon.pixmap(64, 64).isNull());
    }

    void defaultBoxHasOneOkButtonAndTheProgramIcon() {
        SeenBox seen;
        QTimer::singleShot(0, [&seen] { InspectThenPressOk(seen); });
        QCOMPARE(ShowAboutBox(), 0);
        QVERIFY(seen.found);
        QCOMPARE(seen.caption, QStringLiteral("О программе..."));
        QCOMPARE(seen.text, ProductLine() + "\n");
        QCOMPARE(seen.buttons, 1);
        QVERIFY(seen.okButton);
        QCOMPARE(seen.standardIcon, QMessageBox::NoIcon);
        QCOMPARE(seen.icon, ProgramIcon().pixmap(64, 64).toImage());
        QCOMPARE(seen.parent, nullptr);
    }

    void boxLeavesTheConsoleUsable() {
        bool modalSeen = true;
        SeenBox seen;
        QTimer::singleShot(0, [&] {
            modalSeen = QApplication::activeModalWidget() != nullptr;
            InspectThenPressOk(seen);
        });
        QCOMPARE(ShowAboutBox(), 0);
        QVERIFY(seen.found);
        QVERIFY(!modalSeen);
    }

    void givenPatternCaptionAndOwnerAreUsed() {
        QWidget owner;
        SeenBox seen;
        QTimer::singleShot(0, [&seen] { InspectThenPressOk(seen); });
        QCOMPARE(ShowAboutBox("%n", "Caption", &owner), 0);
        QVERIFY(seen.found);
        QCOMPARE(seen.caption, QStringLiteral("Caption"));
        QCOMPARE(seen.text, QStringLiteral("Kelvo"));
        QCOMPARE(seen.parent, &owner);
    }
};

QTEST_MAIN(AboutBoxTest)
#include "AboutBox_test.moc"
