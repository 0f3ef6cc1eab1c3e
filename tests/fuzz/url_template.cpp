// Tile-server URL templates as a user or a source file gives them. Input lines: "url-format",
// "url", "username", "layer-separator", the layer names (separated by '|'), and any text on a
// sixth line asks for a high-DPI tile. The tile URL must be the template with every placeholder
// filled in one pass (nothing else changes meaning, percent signs included), made only of
// characters a URL may hold. Nothing is sent.
#include <QStringList>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <numbers>

#include <lmxmaps/MapTileServer.h>

namespace {

const TString kServer = QStringLiteral("http://127.0.0.1:1");
constexpr int kLevel = 3;
constexpr int kColumn = 4;
constexpr int kRow = 2;

MapQueryPtr Tile(RefCntPtr<MapLayers> layers, bool highDPI) {
    const double half = 6378137.0 * std::numbers::pi;
    const double span = 2 * half / (1 << kLevel);
    const double west = kColumn * span - half;
    const double north = half - kRow * span;
    const MapScaleLevel level{kLevel, MapTileServerProvider::kTileSize,
                              MapTileServerProvider::kTileSize / span};
    return MakeRefCnt<MapQuery>(
        std::move(layers), QStringLiteral("EPSG:3857"),
        DataValueRect(DataValue::Real(west), DataValue::Real(west + span),
                      DataValue::Real(north - span), DataValue::Real(north)),
        level.tileSize, level.tileSize, TString(), TString(), highDPI, false, level);
}

TString FillInOnePass(const TString& pattern, const std::map<TString, TString>& values) {
    TString filled;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const auto value = values.find(pattern.mid(i, 3));
        if (value != values.end()) {
            filled += value->second;
            i += 2;
        } else {
            filled += pattern.at(i);
        }
    }
    return filled;
}

// Only '%' and two hex digits is an escape; Qt's own decoder also reads "%1%" as one.
QByteArray Decode(const QByteArray& text) {
    const auto hex = [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) != 0;
    };
    QByteArray decoded;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == '%' && i + 2 < text.size() && hex(text.at(i + 1)) &&
            hex(text.at(i + 2))) {
            decoded += char(text.mid(i + 1, 2).toInt(nullptr, 16));
            i += 2;
        } else {
            decoded += text.at(i);
        }
    }
    return decoded;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QStringList lines =
        QString::fromUtf8(reinterpret_cast<const char*>(data), int(size)).split(u'\n');
    const AttributeMap attributes = {{QStringLiteral("server"), kServer},
                                     {QStringLiteral("url-format"), lines.value(0)},
                                     {QStringLiteral("url"), lines.value(1)},
                                     {QStringLiteral("username"), lines.value(2)},
                                     {QStringLiteral("layer-separator"), lines.value(3)}};
    auto layers = MakeRefCnt<MapLayers>();
    for (const QString& name : lines.value(4).split(u'|', Qt::SkipEmptyParts)) {
        layers->GetLayers().emplace_back(AttributeMap{{QStringLiteral("name"), name}});
        layers->GetLayers().back().SetEnabled(true);
    }
    const MapQueryPtr tile = Tile(layers, !lines.value(5).isEmpty());
    const auto connection = MakeRefCnt<MapTileServerConnection>(attributes);
    const TString url = connection->CreateMapRequestor(nullptr, tile)->GetResultUrl();

    const TString pattern = lines.value(0).isEmpty()
                                ? lines.value(1) + QStringLiteral("/{L}/{Z}/{X}/{Y}.png?apikey={K}")
                                : lines.value(0);
    const MapTileIndex index = MapTileServerProvider::ComputeTileIndex(*tile);
    const TString tileSize = TString::number(index.tileSize);
    TString path = FillInOnePass(
        pattern,
        {{QStringLiteral("{X}"), TString::number(index.column)},
         {QStringLiteral("{Y}"), TString::number(index.row)},
         {QStringLiteral("{Z}"), TString::number(index.level, 'g', 2)},
         {QStringLiteral("{L}"),
          layers->AsString(lines.value(3).isEmpty() ? QStringLiteral("/") : lines.value(3))},
         {QStringLiteral("{K}"), lines.value(2)},
         {QStringLiteral("{P}"), tileSize},
         {QStringLiteral("{S}"), tileSize},
         {QStringLiteral("{D}"), tile->IsHighDPI() ? QStringLiteral("@2x") : TString()}});
    if (!path.startsWith(u'/'))
        path.prepend(u'/');

    if (index.column != kColumn || index.row != kRow || !url.startsWith(kServer) ||
        connection->SupportsHighDPI() != pattern.contains(QStringLiteral("{D}")))
        std::abort();
    for (const QChar c : url)
        if (c.unicode() <= u' ' || c.unicode() >= 0x7F)
            std::abort();
    if (Decode(url.mid(kServer.size()).toUtf8()) != Decode(path.toUtf8()))
        std::abort();
    return 0;
}
