#include <QDir>
#include <QStandardPaths>

#include <lmxmaps/host/HostPaths.h>
#include <lmxmaps/host/Options.h>

namespace HostPaths {

namespace {

constexpr const char* kPerUserSubdirectory = "lmxmaps";
constexpr const char* kMapTilesOption = "MapTilesDirectory";
// The option value that stands for the default place in the per-user directory.
constexpr const char* kAutomatic = "auto";
constexpr const char* kMapTilesSubdirectory = "maptiles";

} // namespace

TString UserCacheDirectory() {
    // $XDG_CACHE_HOME (usually ~/.cache) on Linux, the local application data on Windows.
    const TString userCache =
        QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return userCache.isEmpty() ? TString()
                               : QDir(userCache).filePath(QLatin1String(kPerUserSubdirectory));
}

TString ConfiguredDirectory(const char* option, const char* subdirectory) {
    const TString configured = Options::GetString(QLatin1String(option)).trimmed();
    if (configured != QLatin1String(kAutomatic)) {
        return configured;
    }
    const TString user = UserCacheDirectory();
    if (user.isEmpty() || subdirectory == nullptr) {
        return user;
    }
    return QDir(user).filePath(QLatin1String(subdirectory));
}

TString MapTilesDirectory() {
    return ConfiguredDirectory(kMapTilesOption, kMapTilesSubdirectory);
}

} // namespace HostPaths
