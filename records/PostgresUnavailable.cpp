// PostgresDatabase.h where the build has no libpq (Windows): a register is a file. A location
// that reads as a server's, in either of libpq's forms, is refused before anything is opened,
// with one sentence, so that it is never taken for a file's name.
#include "records/PostgresDatabase.h"
#include "records/Register.h"

std::unique_ptr<TDatabase> OpenPostgresDatabase(const std::string& location) {
    throw TRegisterError(location + ": " + kRegisterServerNeedsLinux);
}

// Without libpq's list of keywords, any first word followed by '='.
bool IsServerKeyword(const std::string&) {
    return true;
}

const char* RegisterLocationForms() {
    return "LOCATION is a file, made when missing (a register on a PostgreSQL server needs the "
           "Linux build). A file whose name reads as key=value is given as .\\name.";
}

std::optional<std::string> RegisterLocationRefusal(const std::string& where) {
    if (!IsServerLocation(where)) return std::nullopt;
    return std::string(kRegisterServerNeedsLinux);
}
