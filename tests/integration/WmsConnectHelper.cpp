// A second process for the WMS integration tests: connects one WMS source as a host would, so
// that the network rules (read once per process, from the options or the environment) can be
// set for it alone.
//
//   lmx_wms_connect_helper PORT URL
//
// Connects the source at 127.0.0.1:PORT whose capabilities path is URL. Prints
// "connected" and then fetches one GetMap tile; or prints "error TYPE", the message on the next
// line and "disallowed" on a third when the address check logged its warning. Exits 0 either
// way, 2 on bad usage.

#include <cstdio>

#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/MapSource.h>
#include <lmxmaps/Wms.h>
#include <lmxmaps/host/TLog.h>

namespace {

constexpr int kUsage = 2;
constexpr unsigned int kTileSize = 256;

bool LoggedDisallowedAddress(const TLog::ScopedCapture& capture) {
    for (const TLog::Record& record : capture.Records()) {
        if (record.message.contains(QStringLiteral("disallowed IP address"))) {
            return true;
        }
    }
    return false;
}

// One small tile in the middle of the world, as a view would ask for it.
void FetchOneTile(MapProvider& provider) {
    const MapConnectionPtr connection = provider.Connect();
    const RefCntPtr<MapLayers> layers = provider.GetFeatureLayers(QString());
    for (MapLayer& layer : layers->GetLayers()) {
        layer.SetEnabled(true);
    }
    const SpatialProjectorPtr projector = provider.GetDefaultSpatialProjector();
    const DataValueRect box(DataValue::Real(-1000.0), DataValue::Real(1000.0),
                            DataValue::Real(-1000.0), DataValue::Real(1000.0));
    const MapRequestorPtr request = connection->CreateMapRequestor(
        projector, MakeRefCnt<MapQuery>(layers, QString(), box, kTileSize, kTileSize, QString(),
                                        QString(), false, false));
    request->Execute();
    request->GetResult();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: lmx_wms_connect_helper PORT URL\n", stderr);
        return kUsage;
    }
    const TLog::ScopedCapture capture;
    try {
        const std::shared_ptr<MapSource> source = MapSourceFactory(
            {{QStringLiteral("name"), QStringLiteral("Denied WMS")},
             {QStringLiteral("class"), QString::fromUtf16(WmsProvider::valueClassAttr)},
             {QStringLiteral("service"), QStringLiteral("http")},
             {QStringLiteral("server"), QStringLiteral("127.0.0.1")},
             {QStringLiteral("port"), QString::fromLocal8Bit(argv[1])},
             {QStringLiteral("url"), QString::fromLocal8Bit(argv[2])}});
        source->Connect();
        std::puts("connected");
        std::fflush(stdout);
        FetchOneTile(*source->GetMapProvider());
    } catch (const MapProviderException& e) {
        std::printf("error %d\n%s\n", static_cast<int>(e.GetType()),
                    e.GetMessage().toUtf8().constData());
        if (LoggedDisallowedAddress(capture)) {
            std::puts("disallowed");
        }
    }
    return 0;
}
