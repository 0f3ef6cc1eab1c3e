#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

#include <lmxmaps/host/HostPaths.h>
#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/TLog.h>
#include <lmxmaps/host/storage/ExternalCache.h>

#include "OptionGuard.h"

namespace {

constexpr const char* kDirectoryOption = "ExternalCacheDirectory";
constexpr std::int64_t kRoomyBytes = 1 << 20;
constexpr std::int64_t kRoomyEntries = 1000;
constexpr int kHelperTimeoutMs = 60000;

QString Text(const char* text) {
    return QString::fromUtf8(text);
}

class ExternalCacheTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_directory.isValid());
        Options::Set(Text(kDirectoryOption), m_directory.path());
    }

    static std::shared_ptr<IExternalCache> Make(const char* name,
                                                std::int64_t maxBytes = kRoomyBytes,
                                                std::int64_t maxEntries = kRoomyEntries) {
        return ExternalCaches::MakeCache(Text(name), maxBytes, maxEntries);
    }

    QString DatabasePath(const char* name) const {
        return m_directory.filePath(Text(name) + QStringLiteral(".sqlite"));
    }

    const OptionGuard m_guard{kDirectoryOption};
    QTemporaryDir m_directory;
};

} // namespace

TEST_F(ExternalCacheTest, ValuesOutliveTheirObjectAndAreSharedByNameOnly) {
    const QString url = QStringLiteral("https://api.mapbox.test/styles/v1/z\u00fcrich?fresh=1");
    const QByteArray binary("\0\x01\xFF document", 12);
    {
        const auto cache = Make("MapboxFetch");
        ASSERT_TRUE(cache);
        EXPECT_FALSE(cache->Get(url));
        ASSERT_TRUE(cache->Put(url, binary));
        ASSERT_TRUE(cache->Put(Text("empty"), QByteArray()));
        ASSERT_TRUE(cache->Put(Text("replaced"), "first"));
        ASSERT_TRUE(cache->Put(Text("replaced"), "second"));
        EXPECT_EQ(Make("MapboxFetch")->Get(url), binary);
        EXPECT_FALSE(Make("Other-Name_2")->Get(url));
    }
    EXPECT_TRUE(QFile::exists(DatabasePath("MapboxFetch")));

    // As the next run of the application sees it.
    const auto restarted = Make("MapboxFetch");
    EXPECT_EQ(restarted->Get(url), binary);
    EXPECT_EQ(restarted->Get(Text("empty")), QByteArray());
    EXPECT_EQ(restarted->Get(Text("replaced")), QByteArray("second"));

    Make("MapboxFetch")->Clear();
    EXPECT_FALSE(restarted->Get(url));
    EXPECT_FALSE(restarted->Get(Text("empty")));
}

TEST_F(ExternalCacheTest, EachBoundEvictsTheLeastRecentlyUsedFirst) {
    // Every entry is one key byte and 99 value bytes.
    constexpr int kEntryBytes = 100;
    const QByteArray value(kEntryBytes - 1, 'v');
    struct Bounds {
        const char* name;
        std::int64_t maxBytes;
        std::int64_t maxEntries;
    };
    for (const Bounds& bounds :
         {Bounds{"ByEntries", kRoomyBytes, 3}, Bounds{"ByBytes", 3 * kEntryBytes, kRoomyEntries}}) {
        SCOPED_TRACE(bounds.name);
        const auto cache = Make(bounds.name, bounds.maxBytes, bounds.maxEntries);
        for (const char* key : {"a", "b", "c"}) {
            ASSERT_TRUE(cache->Put(Text(key), value));
        }
        // Use order b c a, then c a d, then d c e.
        ASSERT_TRUE(cache->Get(Text("a")));
        ASSERT_TRUE(cache->Put(Text("d"), value));
        EXPECT_FALSE(cache->Get(Text("b")));
        ASSERT_TRUE(cache->Get(Text("c")));
        ASSERT_TRUE(cache->Put(Text("e"), value));
        EXPECT_FALSE(cache->Get(Text("a")));
        for (const char* key : {"c", "d", "e"}) {
            EXPECT_EQ(cache->Get(Text(key)), value) << key;
        }

        // Larger than the whole cache: refused, and nothing else goes.
        EXPECT_FALSE(cache->Put(Text("c"), QByteArray(static_cast<int>(bounds.maxBytes), 'x')));
        for (const char* key : {"c", "d", "e"}) {
            EXPECT_EQ(cache->Get(Text(key)), value) << key;
        }
    }

    // A value that fills the whole cache fits, alone.
    const auto cache = Make("ByBytes", 3 * kEntryBytes, kRoomyEntries);
    ASSERT_TRUE(cache->Put(Text("f"), QByteArray(3 * kEntryBytes - 1, 'f')));
    EXPECT_TRUE(cache->Get(Text("f")));
    EXPECT_FALSE(cache->Get(Text("e")));
}

TEST_F(ExternalCacheTest, DamagedFileReadsAsMissesAndTheCacheWorksAgain) {
    constexpr int kEntries = 200;
    const auto key = [](int index) {
        return QStringLiteral("key-%1").arg(index);
    };
    {
        const auto cache = Make("Damaged");
        for (int index = 0; index < kEntries; ++index) {
            ASSERT_TRUE(cache->Put(key(index), QByteArray(500, 'v')));
        }
    }
    QFile file(DatabasePath("Damaged"));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    ASSERT_EQ(file.write(QByteArray(static_cast<int>(file.size()), '\x5A')), file.size());
    file.close();

    const auto cache = Make("Damaged");
    ASSERT_TRUE(cache);
    for (int index = 0; index < kEntries; ++index) {
        EXPECT_FALSE(cache->Get(key(index))) << index;
    }
    ASSERT_TRUE(cache->Put(key(1), "again"));
    EXPECT_EQ(cache->Get(key(1)), QByteArray("again"));
    EXPECT_EQ(Make("Damaged")->Get(key(1)), QByteArray("again"));
}

TEST_F(ExternalCacheTest, BadNamesBoundsAndDirectoriesGiveNoCache) {
    for (const QString& name :
         {QString(), Text("two words"), Text("../up"), Text("a/b"), Text("dot.sqlite"),
          QStringLiteral("Z\u00fcrich"), Text("semi;colon"), QString(201, QLatin1Char('a'))}) {
        const TLog::ScopedCapture capture;
        EXPECT_FALSE(ExternalCaches::MakeCache(name, kRoomyBytes, kRoomyEntries))
            << name.toStdString();
        ASSERT_EQ(capture.Records().size(), 1u) << name.toStdString();
        EXPECT_EQ(capture.Records()[0].severity, TLog::Severity::Warn);
    }
    EXPECT_TRUE(ExternalCaches::MakeCache(QString(200, QLatin1Char('a')), 1, 1));
    EXPECT_FALSE(Make("Bounds", 0, kRoomyEntries));
    EXPECT_FALSE(Make("Bounds", kRoomyBytes, -1));

    QFile plain(m_directory.filePath(Text("plain-file")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    Options::Set(Text(kDirectoryOption), plain.fileName() + Text("/caches"));
    EXPECT_FALSE(Make("Unmakable"));
    Options::Set(Text(kDirectoryOption), QString());
    EXPECT_EQ(ExternalCaches::Directory(), QString());
    EXPECT_FALSE(Make("Off"));

    // Without a set value: the environment, then the per-user default.
    Options::Set(Text(kDirectoryOption), std::nullopt);
    ::setenv("LMX_ExternalCacheDirectory", "auto", 1);
    EXPECT_EQ(ExternalCaches::Directory(), HostPaths::UserCacheDirectory());
    ::setenv("LMX_ExternalCacheDirectory", m_directory.path().toLocal8Bit().constData(), 1);
    EXPECT_EQ(ExternalCaches::Directory(), m_directory.path());
}

TEST_F(ExternalCacheTest, ThreadsWithObjectsOfTheirOwnShareOneBoundedStore) {
    constexpr int kThreads = 4;
    constexpr int kPutsPerThread = 40;
    constexpr int kMaxEntries = 20;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    const auto key = [](int thread, int index) {
        return QStringLiteral("%1-%2").arg(thread).arg(index);
    };
    for (int thread = 0; thread < kThreads; ++thread) {
        threads.emplace_back([&, thread] {
            const auto cache = Make("Shared", kRoomyBytes, kMaxEntries);
            for (int index = 0; index < kPutsPerThread; ++index) {
                const QString own = key(thread, index);
                failures += cache->Put(own, own.toUtf8()) ? 0 : 1;
                // Whatever is found is the value put under that key, whoever evicted what.
                const auto found = cache->Get(key((thread + 1) % kThreads, index));
                failures += found && *found != key((thread + 1) % kThreads, index).toUtf8() ? 1 : 0;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
    const auto cache = Make("Shared", kRoomyBytes, kMaxEntries);
    int present = 0;
    for (int thread = 0; thread < kThreads; ++thread) {
        for (int index = 0; index < kPutsPerThread; ++index) {
            present += cache->Get(key(thread, index)) ? 1 : 0;
        }
    }
    EXPECT_EQ(present, kMaxEntries);
}

TEST_F(ExternalCacheTest, AnotherProcessReadsWhatThisOnePutAndTheOtherWayRound) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LMX_ExternalCacheDirectory"), m_directory.path());
    const auto runHelper = [&environment](const QStringList& arguments) {
        QProcess helper;
        helper.setProcessEnvironment(environment);
        helper.start(QStringLiteral(LMX_INTEGRATION_HELPER), arguments);
        if (!helper.waitForFinished(kHelperTimeoutMs)) {
            ADD_FAILURE() << "the helper did not finish";
            helper.kill();
            helper.waitForFinished();
        }
        return std::make_pair(helper.exitCode(), helper.readAllStandardOutput().trimmed());
    };
    const auto cache = Make("MapboxFetch");
    ASSERT_TRUE(cache->Put(Text("from-test"), "written here"));
    EXPECT_EQ(runHelper({Text("external-get"), Text("MapboxFetch"), Text("from-test")}),
              std::make_pair(0, QByteArray("written here")));
    EXPECT_EQ(runHelper({Text("external-put"), Text("MapboxFetch"), Text("from-helper"),
                         Text("written there")})
                  .first,
              0);
    EXPECT_EQ(cache->Get(Text("from-helper")), QByteArray("written there"));
    EXPECT_EQ(runHelper({Text("external-get"), Text("MapboxFetch"), Text("absent")}).first, 1);
}
