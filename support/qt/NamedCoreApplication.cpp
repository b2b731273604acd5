#include "support/qt/NamedCoreApplication.h"

TNamedCoreApplication::TNamedCoreApplication(int argc, char** argv, const char* name)
    : FName(name), FArguments(argv, argv + argc), FCount(argc) {
    if (!FArguments.empty()) FArguments[0] = FName.data();
    FApplication = std::make_unique<QCoreApplication>(FCount, FArguments.data());
    QCoreApplication::setApplicationName(name);
}

TNamedCoreApplication::~TNamedCoreApplication() = default;

QList<QCommandLineOption> WithOptions(QList<QCommandLineOption> options,
                                      std::span<const TOptionText> texts) {
    for (const TOptionText& text : texts) {
        options << (text.ValueName == nullptr
                        ? QCommandLineOption(text.Name, text.Help)
                        : QCommandLineOption(text.Name, text.Help, text.ValueName));
    }
    return options;
}

std::function<std::optional<std::string>(const char* name)> GivenOptions(
    const QCommandLineParser& parser) {
    return [&parser](const char* name) -> std::optional<std::string> {
        if (!parser.isSet(name)) return std::nullopt;
        return parser.value(name).toStdString();
    };
}

TStandardOptions ParseStandardOptions(QCommandLineParser& parser,
                                      const QList<QCommandLineOption>& options,
                                      const std::string& versionLine) {
    const QCommandLineOption help({"h", "help"}, "Show this help and exit.");
    const QCommandLineOption version({"v", "version"}, "Show the version and exit.");
    parser.addOptions({help, version});
    parser.addOptions(options);

    TStandardOptions said;
    if (!parser.parse(QCoreApplication::arguments())) {
        said.Error = parser.errorText().toStdString();
    } else if (!parser.positionalArguments().isEmpty()) {
        said.Error =
            "unexpected argument '" + parser.positionalArguments().first().toStdString() + "'";
    } else if (parser.isSet(help)) {
        said.Output = parser.helpText().toStdString();
    } else if (parser.isSet(version)) {
        said.Output = versionLine + "\n";
    }
    return said;
}
