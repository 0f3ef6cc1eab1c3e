#pragma once
// Shared by the integration tests: the set-up of tests against the loopback map servers, a view
// rendered to the end, what its tiles say, and helper programs run in a process of their own.

#include <QImage>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>
#include <cstdlib>
#include <gtest/gtest.h>
#include <set>
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

// One view through the provider, waited for until every tile has arrived or failed.
inline Rendered Render(RasterMapProvider& provider, const MapQueryPtr& view) {
    Rendered rendered;
    rendered.images = provider.GetMappedImages(view, false, MapCode::Default, 0,
                                               ColorObject::Transparent(), &rendered.counts);
    if (rendered.images->images.size() == 1) {
        rendered.composite =
            dynamic_cast<CompositeMappedImage*>(rendered.images->images[0].GetInstance().get());
    }
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

} // namespace IntegrationSupport
