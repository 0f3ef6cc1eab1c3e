#include <QCoreApplication>

#include <lmxmaps/Version.h>
#include <lmxmaps/host/AppConfig.h>
#include <lmxmaps/host/Options.h>

namespace AppConfig {

namespace {

constexpr const char* kDefaultApplicationName = "lmxmaps";
constexpr const char* kTestModeVersion = "0.0000.0000";

bool ModeIs(const char* mode) {
    return Options::GetString(QStringLiteral("AppMode"))
               .trimmed()
               .compare(QLatin1String(mode), Qt::CaseInsensitive) == 0;
}

} // namespace

bool IsServer() {
    return ModeIs("server");
}

bool IsReader() {
    return ModeIs("reader");
}

bool IsTestMode() {
    return ModeIs("test");
}

TString ApplicationBaseName() {
    const TString name = QCoreApplication::applicationName();
    return name.isEmpty() ? QLatin1String(kDefaultApplicationName) : name;
}

TString BuildVersion() {
    return IsTestMode() ? QLatin1String(kTestModeVersion) : QLatin1String(LMX_VERSION_STRING);
}

} // namespace AppConfig
