#include <QDir>

#include <lmxmaps/host/HostPaths.h>
#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/PersistentImageCache.h>
#include <lmxmaps/host/SqliteImageCache.h>
#include <lmxmaps/host/TLog.h>

namespace {

constexpr const char* kDirectoryOption = "ImageCacheDirectory";
constexpr const char* kMaxBytesOption = "ImageCacheMaxBytes";

std::unique_ptr<IPersistentImageCache> CreateConfiguredCache() {
    const QString directory = HostPaths::ConfiguredDirectory(kDirectoryOption);
    const long long maxBytes = Options::GetInt(QLatin1String(kMaxBytesOption));
    if (directory.isEmpty() || maxBytes <= 0) {
        TLog::LogMessage(TLog::Severity::Info, QStringLiteral("The disk image cache is off."));
        return nullptr;
    }
    if (!QDir().mkpath(directory)) {
        TLog::LogMessage(TLog::Severity::Warn,
                         QStringLiteral("The disk image cache is off: cannot make directory '%1'.")
                             .arg(directory));
        return nullptr;
    }
    SqliteImageCache::Settings settings;
    settings.databasePath =
        QDir(directory).filePath(QLatin1String(SqliteImageCache::kDatabaseFileName));
    settings.maxBytes = maxBytes;
    return std::make_unique<SqliteImageCache>(std::move(settings));
}

} // namespace

IPersistentImageCache::Data::Data(const AttributeMap& key, const AttributeMap& extra,
                                  const QtImageObject* image)
    : m_key(key), m_extra(extra), m_image(image != nullptr ? image->Clone() : nullptr) {}

IPersistentImageCache::Data::Data(AttributeMap key, AttributeMap extra,
                                  std::unique_ptr<QtImageObject> image, bool expired)
    : m_key(std::move(key)), m_extra(std::move(extra)), m_image(std::move(image)),
      m_expired(expired) {}

IPersistentImageCache::Data::~Data() = default;

std::unique_ptr<QtImageObject> IPersistentImageCache::Data::CloneImageObject() const {
    return m_image ? m_image->Clone() : nullptr;
}

IPersistentImageCache* IPersistentImageCache::GetSingleton() {
    // Never destroyed: fetch tasks on pool threads may still store tiles while the process
    // exits, and SQLite recovers a database whose connections were not closed.
    static IPersistentImageCache* const singleton = CreateConfiguredCache().release();
    return singleton;
}
