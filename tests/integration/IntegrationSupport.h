#pragma once
// Shared by the integration tests: the set-up of tests against the loopback map servers, a view
// rendered to the end, what its tiles say, a port nothing serves, and helper programs run in a
// process of their own.

#include <QImage>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>
#include <arpa/inet.h>
#include <cstdlib>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <set>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include <lmxmaps/CompositeMappedImage.h>
#include <lmxmaps/MapProvider.h>
#include <lmxmaps/MappedImageCache.h>
#include <lmxmaps/host/net/HTTPRequestor.h>

#include "imagery/ImageryTestSupport.h"
#include "providers/TileGrid.h"
#include "servers/TestServers.h"

namespace IntegrationSupport {

// Empties the image caches and closes all connections before and after each test.
class CleanCachesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(TileGrid::PrivateDiskCache(), nullptr);
        TileGrid::PrivateDiskCache()->Clear();
        MappedImageCache::Singleton().Clear();
        MapConnection::CloseAll();
    }
    void TearDown() override {
        MappedImageCache::Singleton().Clear();
        MapConnection::CloseAll();
        HTTPRequestor::CloseIdleConnections();
    }
};

// As CleanCachesTest, with the servers of the lmx_servers fixture in m_servers; skipped outside
// ctest, failed when the servers did not start.
class TestServersFixture : public CleanCachesTest {
protected:
    void SetUp() override {
        if (std::getenv("LMX_TEST_SERVERS_DIR") == nullptr) {
            GTEST_SKIP() << "LMX_TEST_SERVERS_DIR is unset: run through ctest";
        }
        m_servers = TestServers::Get();
        ASSERT_NE(m_servers, nullptr) << "no complete servers.env in LMX_TEST_SERVERS_DIR";
        CleanCachesTest::SetUp();
    }

    const TestServers* m_servers = nullptr;
};

struct Rendered {
    RefCntPtr<MappedImageCollection> images;
    CompositeMappedImage* composite = nullptr;
    RasterMapProvider::TileCounts counts;
};

// The composite of a one-image view, or null.
inline CompositeMappedImage* CompositeOf(const MappedImageCollection& images) {
    return images.images.size() == 1
               ? dynamic_cast<CompositeMappedImage*>(images.images[0].GetInstance().get())
               : nullptr;
}

// One view through the provider, waited for until every tile has arrived or failed.
inline Rendered Render(RasterMapProvider& provider, const MapQueryPtr& view, int model = 0,
                       const ColorObject& waitFill = ColorObject::Transparent()) {
    Rendered rendered;
    rendered.images =
        provider.GetMappedImages(view, false, MapCode::Default, model, waitFill, &rendered.counts);
    rendered.composite = CompositeOf(*rendered.images);
    int count = 0;
    if (rendered.composite == nullptr) {
        ADD_FAILURE() << "no composite image";
    } else if (!PollUntilSettled(*rendered.composite, count)) {
        ADD_FAILURE() << "the tiles did not arrive";
    }
    return rendered;
}

// The warnings of the tiles that failed.
inline std::vector<QString> TileErrors(const CompositeMappedImage& composite) {
    std::vector<QString> messages;
    for (const MappedImageInstancePtr& tile : composite.GetTiles()) {
        WarningList errors;
        bool hadErrors = false;
        tile->GetErrors(errors, hadErrors);
        for (const RefCntPtr<WarningMsg>& error : errors) {
            messages.push_back(error->GetMessage());
        }
        if (hadErrors && errors.empty()) {
            messages.push_back(QStringLiteral("(a tile failed without a message)"));
        }
    }
    return messages;
}

inline QImage CompositePixels(const CompositeMappedImage& composite) {
    return composite.GetImageObject()->GetImage().convertToFormat(QImage::Format_ARGB32);
}

inline int DistinctColours(const QImage& image, const QRect& area) {
    const QImage part = image.copy(area).convertToFormat(QImage::Format_ARGB32);
    const auto* pixels = reinterpret_cast<const QRgb*>(part.constBits());
    return static_cast<int>(std::set<QRgb>(pixels, pixels + part.width() * part.height()).size());
}

// A port of 127.0.0.1 that nothing serves: bound and not listening, it refuses connections;
// after Listen they wait, never accepted.
class SilentPort {
public:
    SilentPort() : m_fd(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
            ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            m_port = ntohs(address.sin_port);
        }
        EXPECT_GT(m_port, 0) << "cannot bind a port on 127.0.0.1";
    }
    ~SilentPort() {
        for (const int fd : m_fillers) {
            ::close(fd);
        }
        ::close(m_fd);
    }
    SilentPort(const SilentPort&) = delete;
    SilentPort& operator=(const SilentPort&) = delete;

    int Port() const { return m_port; }
    // With fullQueue the queue is filled first, so that a new connect neither succeeds nor fails.
    void Listen(bool fullQueue = false) {
        EXPECT_EQ(::listen(m_fd, fullQueue ? 0 : SOMAXCONN), 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(m_port));
        // Linux queues backlog + 1 connections.
        for (int i = 0; fullQueue && i < kQueueFillers; ++i) {
            m_fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
            ::connect(m_fillers.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
        }
    }

private:
    static constexpr int kQueueFillers = 3;
    int m_fd;
    int m_port = 0;
    std::vector<int> m_fillers;
};

struct HelperRun {
    int exitCode = -1;
    QString output;
    QString errors;

    // The output's lines, without the trailing empty ones.
    QStringList Lines() const { return output.isEmpty() ? QStringList() : output.split(u'\n'); }
};

// Starts a helper program; finish it with Finish.
inline void StartHelper(QProcess& process, const QString& program, const QStringList& arguments,
                        const QProcessEnvironment& environment) {
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
}

// Waits for a helper started with StartHelper; one that does not end in time is killed.
inline HelperRun Finish(QProcess& process, int timeoutMs) {
    HelperRun run;
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        run.errors = QStringLiteral("the helper did not finish normally");
        return run;
    }
    run.exitCode = process.exitCode();
    run.output = QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    run.errors = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

inline HelperRun RunHelper(const QString& program, const QStringList& arguments,
                           const QProcessEnvironment& environment, int timeoutMs) {
    QProcess process;
    StartHelper(process, program, arguments, environment);
    return Finish(process, timeoutMs);
}

// A view of a tile server (level, column, row, columns, rows) rendered by the helper program's
// "view" in a process of its own, over the disk cache in cacheDirectory.
inline HelperRun ViewInNewProcess(const QString& helper, const QString& cacheDirectory,
                                  const QString& server, const QString& urlFormat,
                                  std::initializer_list<int> tiles) {
    constexpr int kTimeoutMs = 60000;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LMX_ImageCacheDirectory"), cacheDirectory);
    QStringList arguments{QStringLiteral("view"), server, urlFormat};
    for (const int number : tiles) {
        arguments << QString::number(number);
    }
    return RunHelper(helper, arguments, environment, kTimeoutMs);
}

} // namespace IntegrationSupport
