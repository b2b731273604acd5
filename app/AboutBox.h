#pragma once
// The About box and the program's own icon. Window thread only.

#include <QIcon>
#include <string>

class QWidget;

inline constexpr char kDefaultAboutPattern[] = "%p %v\r\n%l";
inline constexpr char kDefaultAboutCaption[] = "О программе...";

// The program's icon (a battery), from the program's resources; for the About box, the windows
// and the application.
QIcon ProgramIcon();

// The box's text: ExpandVersionPattern of `pattern`, or of kDefaultAboutPattern when it is empty.
std::string AboutText(const std::string& pattern);

// Shows the About box and returns 0 once the operator has closed it: the text of
// AboutText(pattern), the caption (kDefaultAboutCaption when empty), the program's icon and a
// single OK button. `owner` (may be null: no owner window) only places the box; the caller keeps
// it. The version block is read again on every call.
int ShowAboutBox(const std::string& pattern = "", const std::string& caption = "",
                 QWidget* owner = nullptr);
