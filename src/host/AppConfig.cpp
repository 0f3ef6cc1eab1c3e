#include <lmxmaps/host/AppConfig.h>
#include <lmxmaps/host/Options.h>

namespace AppConfig {

namespace {

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

} // namespace AppConfig
