#pragma once
// The loopback map servers that tests/servers/test-servers starts for the CTest fixture
// lmx_servers (tests registered with lmx_add_test(... SERVERS) get it):
// - the static tile server serves the XYZ pyramid of levels 0-4 as /max-age/{z}/{x}/{y}.png
//   ("Cache-Control: public, max-age=86400"), /short/... ("public, max-age=5") and
//   /no-store/... ("no-store"), with ETag and Last-Modified; missing tiles are 404;
// - the MapServer server answers /mapserv?... (WMS; the map file is the default) and draws
//   /max-age/{z}/{x}/{y}.png as Blue Marble tiles with country outlines (no Cache-Control);
// - the Mapbox fixture (lmx_mapbox_fixture) answers as the Mapbox web API does, from the
//   documents in mapboxDocumentsDir; its routes are listed in fixture/MapboxFixtureServer.h.
// Access log lines read `127.0.0.1 "GET /path?query HTTP/1.1" 200 1234`, with the path the
// client asked for. lighttpd appends a line just after the response went out.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

struct TestServers {
    int staticPort = 0;
    int mapServerPort = 0;
    std::string staticAccessLog;
    std::string mapServerAccessLog;
    // The data set of scripts/build-map-data: pyramid/, maptiles/, vector/, vector-tiles/,
    // bluemarble-4326.tif.
    std::string mapDataDir;
    std::string mapfile;
    int mapboxPort = 0;
    // params/, styles/, tilesets/ and tokens.json of the Mapbox fixture.
    std::string mapboxDocumentsDir;

    // Reads $LMX_TEST_SERVERS_DIR/servers.env (once); null when the variable is unset or the
    // file is missing or incomplete.
    static const TestServers* Get();
};

// The access log functions first wait until the log has been still for a moment (a line lands
// a few milliseconds after its response), so a request that has been answered is counted.
// Other test processes may use the same servers at the same time (ctest -j): count paths that
// only your test asks for, from AccessLogSize() taken before the requests.

// Lines in the log now, for CountLinesSince.
std::size_t AccessLogSize(const std::string& accessLog);
// Lines from line number fromLine (0-based) on that match.
int CountLinesSince(const std::string& accessLog, std::size_t fromLine,
                    const std::function<bool(std::string_view line)>& matches);

// How often the Mapbox fixture was asked for a path (without the query) since it started, by
// every test process; 0 for a path never asked for. Counts are in before a response goes out,
// so no wait is needed; compare with a count taken before the requests. Throws
// std::runtime_error when the fixture does not answer.
int CountMapboxRequests(const std::string& path);
