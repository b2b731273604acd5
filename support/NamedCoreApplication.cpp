#include "support/NamedCoreApplication.h"

TNamedCoreApplication::TNamedCoreApplication(int argc, char** argv, const char* name)
    : FName(name), FArguments(argv, argv + argc), FCount(argc) {
    if (!FArguments.empty()) FArguments[0] = FName.data();
    FApplication = std::make_unique<QCoreApplication>(FCount, FArguments.data());
    QCoreApplication::setApplicationName(name);
}

TNamedCoreApplication::~TNamedCoreApplication() = default;
