#include "support/qt/DebugSwitch.h"

#include "platform/DebugOutput.h"

Q_LOGGING_CATEGORY(lcKelvo, "kelvo", QtInfoMsg)

void ApplyDebugSwitch(bool requested) {
    if (requested) QLoggingCategory::setFilterRules("kelvo.debug=true");
    platform::SetDebugOutputEnabled(lcKelvo().isDebugEnabled());
}
