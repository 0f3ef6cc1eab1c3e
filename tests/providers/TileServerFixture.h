#pragma once
// Scaffolding of the tile provider tests: tile-server source attributes, a fixture that runs the
// loopback tile server over empty memory and disk caches, and views of its sources.

#include <gtest/gtest.h>

#include <lmxmaps/CompositeMappedImage.h>
#include <lmxmaps/MapTileServer.h>
#include <lmxmaps/MappedImageCache.h>
#include <lmxmaps/host/TLog.h>

#include "FixtureServer.h"
#include "integration/IntegrationSupport.h"
#include "providers/TileGrid.h"

inline AttributeMap TileServerAttributes(const QString& server, const QString& urlFormat,
                                         AttributeMap more = {}) {
    more[QStringLiteral("class")] = QString::fromUtf16(MapTileServerProvider::valueClassAttr);
    more[QStringLiteral("server")] = server;
    more[QStringLiteral("port")] = QString();
    if (!urlFormat.isEmpty()) {
        more[QStringLiteral("url-format")] = urlFormat;
    }
    return more;
}

// Two tiles of level 2 of a source whose tiles are at server + urlFormat, from an empty memory
// cache.
inline IntegrationSupport::Rendered RenderTwoTiles(const QString& server,
                                                   const QString& urlFormat) {
    MappedImageCache::Singleton().Clear();
    MapTileServerProvider provider(TileServerAttributes(server, urlFormat));
    return IntegrationSupport::Render(provider, TileGrid::TileView(2, 1, 1, 2, 1));
}

inline int CountLogLines(const TLog::ScopedCapture& log, const QString& prefix) {
    int count = 0;
    for (const TLog::Record& record : log.Records()) {
        count += record.message.startsWith(prefix) ? 1 : 0;
    }
    return count;
}

class TileServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        TileGrid::PrivateDiskCache()->Clear();
        MappedImageCache::Singleton().Clear();
        MapConnection::CloseAll();
        m_server.Start();
    }
    void TearDown() override {
        MappedImageCache::Singleton().Clear();
        MapConnection::CloseAll();
        HTTPRequestor::CloseIdleConnections();
        m_server.Stop();
    }

    FixtureServer m_server;
};
