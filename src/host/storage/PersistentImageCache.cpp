#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <unistd.h>

#include <lmxmaps/host/HostPaths.h>
#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/TLog.h>
#include <lmxmaps/host/storage/PersistentImageCache.h>
#include <lmxmaps/host/storage/SqliteImageCache.h>

namespace {

constexpr const char* kDirectoryOption = "ImageCacheDirectory";
constexpr const char* kMaxBytesOption = "ImageCacheMaxBytes";
constexpr const char* kDigestKeyFileName = "secret-digest.key";
constexpr int kDigestKeyBytes = 32;

QByteArray RandomKey() {
    QByteArray key(kDigestKeyBytes, Qt::Uninitialized);
    QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(key.data()),
                                          kDigestKeyBytes / sizeof(quint32));
    return key;
}

// The directory's key: created by the first process to ask (exclusively, user-only), read by
// the others. Empty when neither works.
QByteArray DirectoryKey(const QString& directory) {
    if (!QDir().mkpath(directory)) {
        return {};
    }
    const QByteArray path = QFile::encodeName(QDir(directory).filePath(kDigestKeyFileName));
    const int created = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (created >= 0) {
        const QByteArray key = RandomKey();
        const auto size = static_cast<std::size_t>(key.size());
        const bool written = ::write(created, key.constData(), size) == static_cast<ssize_t>(size);
        ::close(created);
        return written ? key : QByteArray();
    }
    QFile existing(QFile::decodeName(path));
    const QByteArray key = existing.open(QIODevice::ReadOnly) ? existing.readAll() : QByteArray();
    return key.size() == kDigestKeyBytes ? key : QByteArray();
}

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

QByteArray IPersistentImageCache::SecretDigestKey() {
    static std::mutex mutex;
    static std::map<QString, QByteArray> keys;
    const QString directory = HostPaths::ConfiguredDirectory(kDirectoryOption);
    std::lock_guard lock(mutex);
    QByteArray& key = keys[directory];
    if (key.isEmpty() && !directory.isEmpty()) {
        key = DirectoryKey(directory);
        if (key.isEmpty()) {
            TLog::LogMessage(TLog::Severity::Warn,
                             QStringLiteral("Cannot keep a key for cache entries in '%1'; secrets "
                                            "in cache keys are told apart in this process only.")
                                 .arg(directory));
        }
    }
    if (key.isEmpty()) {
        key = RandomKey();
    }
    return key;
}
