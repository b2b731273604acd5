#include "app/AboutBox.h"

#include <QEventLoop>
#include <QMessageBox>
#include <QString>

#include "support/versionUtils.h"

namespace {

// The icon's size in the box, in device-independent pixels.
constexpr int kIconSize = 64;

}  // namespace

// The resources live in a static library: registering them here keeps them linked in.
static void InitProgramResources() {
    Q_INIT_RESOURCE(resources);
}

QIcon ProgramIcon() {
    static const bool registered = (InitProgramResources(), true);
    (void)registered;
    return QIcon(QStringLiteral(":/icons/org.kelvo.Console.png"));
}

std::string AboutText(const std::string& pattern) {
    return ExpandVersionPattern(pattern.empty() ? kDefaultAboutPattern : pattern);
}

int ShowAboutBox(const std::string& pattern, const std::string& caption, QWidget* owner) {
    QMessageBox box(owner);
    box.setWindowTitle(QString::fromStdString(caption.empty() ? kDefaultAboutCaption : caption));
    box.setTextFormat(Qt::PlainText);
    // Qt ends lines with LF alone; a CR would show as a stray character.
    box.setText(QString::fromStdString(AboutText(pattern)).replace(QStringLiteral("\r\n"), "\n"));
    const QIcon icon = ProgramIcon();
    box.setIconPixmap(icon.pixmap(kIconSize, kIconSize));
    box.setWindowIcon(icon);
    box.setStandardButtons(QMessageBox::Ok);
    // Not modal: the console stays usable while the box is open; this call still returns only
    // once the box is closed.
    box.setWindowModality(Qt::NonModal);
    QEventLoop untilClosed;
    QObject::connect(&box, &QMessageBox::finished, &untilClosed, &QEventLoop::quit);
    box.show();
    untilClosed.exec();
    return 0;
}
