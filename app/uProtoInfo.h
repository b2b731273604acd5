#pragma once
// The protocol description window: a plain-text summary of the tester's serial frames for the
// operator. Window thread only. Each "Protocol info" click makes a fresh window, shows it modally
// and destroys it.

#include <QDialog>
#include <QString>

class QFrame;
class QPlainTextEdit;
class QPushButton;

// The window's text: 113 lines joined by line feeds, the last without one. Seven lines end with
// a blank and are continued by the next line.
QString ProtocolDescriptionText();

class TFProtoInfo : public QDialog {
    Q_OBJECT

  public:
    // The modal result of every way of closing the window: Close, Enter, Esc and the close box.
    static constexpr int kCloseResult = 2;

    // `owner` (may be null) is the Qt parent: the window is centred on it and destroyed with it
    // unless it is destroyed first.
    explicit TFProtoInfo(QWidget* owner = nullptr);

    // Children of the window, owned by it.
    QPlainTextEdit* Memo1;  // the read-only, wrapping text
    QFrame* Panel1;         // the 33-pixel strip along the bottom edge
    QPushButton* bClose;    // default and cancel button, at the panel's right edge

  public slots:
    // Ends the modal loop with kCloseResult (QDialog would end it with 0).
    void reject() override;
};
