#include <QRegularExpression>
#include <array>
#include <set>

#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/Wms.h>
#include <lmxmaps/host/DOMParser.h>
#include <lmxmaps/host/TLog.h>
#include <lmxmaps/host/net/TUrl.h>

namespace {

constexpr std::uint32_t kUnsupportedVersionSite = 0x57A10001;
constexpr std::uint32_t kNoCapabilitiesSite = 0x57A10002;
constexpr std::uint32_t kUnsupportedFormatSite = 0x57A10003;
constexpr std::uint32_t kNoLayersSite = 0x57A10004;

const TString kCapabilitiesElement = QStringLiteral("WMT_MS_Capabilities");
const TString kVersionSeparators = QStringLiteral(".-");
constexpr const char16_t* kDefaultFormat = u"image/png";
constexpr std::array<const char16_t*, 3> kPreferredFormats = {u"image/png", u"image/jpeg",
                                                              u"image/gif"};
// WMS 1.0.0 names formats by empty child elements: <Format><PNG/><JPEG/></Format>.
constexpr std::pair<const char16_t*, const char16_t*> kVersion100Formats[] = {
    {u"PNG", u"image/png"}, {u"JPEG", u"image/jpeg"}, {u"GIF", u"image/gif"}};

TString Name(const char16_t* text) {
    return TString::fromUtf16(text);
}

bool IsVersion100(const VersionNumber& version) {
    return version == VersionNumber(1, 0, 0);
}

void ReadVersion(const DOMDocument& document, WmsCapabilities& capabilities) {
    const DOMElement root = document.FindFirst(kCapabilitiesElement);
    if (root.IsNull()) {
        std::vector<TString> messages = WmsConnection::ParseWMSExceptions(document);
        if (messages.empty()) {
            messages.push_back(LookupTStr(WmsConnection::kCapabilitiesFailedText));
        }
        for (const TString& message : messages) {
            TLog::LogMessage(TLog::Severity::Warn, message);
        }
        TLog::LogMessage(TLog::Severity::Warn,
                         QStringLiteral("GetCapabilities response does not contain "
                                        "WMT_MS_Capabilities element"));
        throw MapProviderException(MapProviderException::eServiceError,
                                   std::vector<TStringCore>(messages.begin(), messages.end()),
                                   MapProviderException::Site(kNoCapabilitiesSite));
    }
    const TString text = root.GetAttribute(QStringLiteral("version"));
    const VersionNumber version = VersionNumber::Parse(text, kVersionSeparators);
    const std::vector<VersionNumber>& supported = WmsConnection::SupportedVersions();
    if (std::find(supported.begin(), supported.end(), version) == supported.end()) {
        const TString message = LookupTFmtStr(WmsConnection::kUnsupportedVersionText, text);
        TLog::LogMessage(TLog::Severity::Warn, message);
        throw MapProviderException(MapProviderException::eNoUsableService, message,
                                   MapProviderException::Site(kUnsupportedVersionSite));
    }
    capabilities.version = version;
}

void ReadTitle(const DOMDocument& document, WmsCapabilities& capabilities) {
    const TString title = document.FindFirst(QStringLiteral("Title")).GetText();
    capabilities.title = title.isEmpty() ? Name(WmsConnection::kDefaultTitle) : title;
}

void ReadFormat(const DOMElement& format, std::set<TString>& offered) {
    bool namedByElements = false;
    for (const DOMElement& child : format.GetChildren()) {
        for (const auto& [element, mimeType] : kVersion100Formats) {
            if (child.GetName() == Name(element)) {
                offered.insert(Name(mimeType));
                namedByElements = true;
            }
        }
    }
    if (!namedByElements) {
        offered.insert(format.GetText());
    }
}

// The GetMap address of one DCPType; 1.0.0 documents put it in an attribute of "Get".
void ReadDCPType(const DOMElement& dcpType, WmsCapabilities& capabilities) {
    const DOMElement get =
        dcpType.GetFirstChild(QStringLiteral("HTTP")).GetFirstChild(QStringLiteral("Get"));
    if (get.IsNull()) {
        return;
    }
    const DOMElement resource = get.GetFirstChild(QStringLiteral("OnlineResource"));
    const TString address = resource.IsNull() ? get.GetAttribute(QStringLiteral("onlineResource"))
                                              : resource.GetAttribute(QStringLiteral("xlink:href"));
    const TUrl url(address);
    const TString scheme = url.GetScheme();
    if (!url.IsValid() || (scheme != u"http" && scheme != u"https")) {
        return;
    }
    capabilities.getMapScheme = scheme;
    capabilities.getMapHost =
        scheme == u"https" ? QStringLiteral("https://") + url.GetHost() : url.GetHost();
    TString path = url.GetPath();
    if (path.isEmpty()) {
        path = QStringLiteral("/");
    }
    // A base address may carry parameters of its own ("mapserv?map=world.map&").
    TString query = url.GetQuery();
    while (query.endsWith(u'&')) {
        query.chop(1);
    }
    if (!query.isEmpty()) {
        path += u'?' + query;
    }
    capabilities.getMapPath = path;
    capabilities.getMapPort = url.GetPort();
}

void ReadGetMap(const DOMDocument& document, WmsCapabilities& capabilities) {
    const DOMElement request =
        document.FindFirst(QStringLiteral("Capability")).GetFirstChild(QStringLiteral("Request"));
    DOMElement getMap = request.GetFirstChild(QStringLiteral("GetMap"));
    if (getMap.IsNull() && IsVersion100(capabilities.version)) {
        getMap = request.GetFirstChild(QStringLiteral("Map"));
    }
    std::set<TString> offered;
    for (const DOMElement& child : getMap.GetChildren()) {
        if (child.GetName() == u"Format") {
            ReadFormat(child, offered);
        } else if (child.GetName() == u"DCPType") {
            ReadDCPType(child, capabilities);
        }
    }
    if (offered.empty()) {
        capabilities.imageFormat = Name(kDefaultFormat);
        return;
    }
    for (const char16_t* preferred : kPreferredFormats) {
        if (offered.count(Name(preferred)) != 0) {
            capabilities.imageFormat = Name(preferred);
            return;
        }
    }
    const TString message = LookupTStr(WmsConnection::kUnsupportedFormatText);
    TLog::LogMessage(TLog::Severity::Warn, message);
    throw MapProviderException(MapProviderException::eNoUsableService, message,
                               MapProviderException::Site(kUnsupportedFormatSite));
}

bool IsTrue(const TString& text) {
    return text == u"1" || text.compare(u"true", Qt::CaseInsensitive) == 0;
}

// Layers that can only be drawn whole or at one size are of no use for tiles.
bool IsFixedLayer(const DOMElement& layer) {
    for (const TString& attribute : {QStringLiteral("fixedWidth"), QStringLiteral("fixedHeight")}) {
        if (layer.HasAttribute(attribute) && layer.GetAttribute(attribute).toInt() != 0) {
            return true;
        }
    }
    return IsTrue(layer.GetAttribute(QStringLiteral("noSubsets")));
}

// The depth-first walk over the Layer tree. One CRS choice runs through the whole walk, so a
// layer is judged with the best code that it, its descendants and everything before saw.
class LayerWalk {
public:
    explicit LayerWalk(bool srsListsCodes) : m_srsListsCodes(srsListsCodes) {}

    void Walk(const DOMElement& topLayer) {
        std::vector<Frame> stack;
        Enter(topLayer, stack);
        while (!stack.empty()) {
            Frame& frame = stack.back();
            if (frame.next == DOMElementChildren::Iterator()) {
                const Frame done = frame;
                stack.pop_back();
                Judge(done);
                continue;
            }
            const DOMElement child = *frame.next;
            ++frame.next;
            if (child.GetName() == u"SRS") {
                OfferSRS(child.GetText());
            } else if (child.GetName() == u"Layer") {
                Enter(child, stack);
            }
        }
    }

    std::vector<MapLayer>& Layers() { return m_layers; }
    bool SawLayerWithoutProjection() const { return m_sawLayerWithoutProjection; }

private:
    struct Frame {
        DOMElement layer;
        DOMElementChildren::Iterator next;
        std::size_t insertAt = 0;
    };

    void Enter(const DOMElement& layer, std::vector<Frame>& stack) {
        stack.push_back({layer, layer.GetChildren().begin(), m_layers.size()});
    }

    void OfferSRS(const TString& text) {
        if (!m_srsListsCodes) {
            Offer(text);
            return;
        }
        for (const TString& code :
             text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)) {
            Offer(code);
        }
    }

    void Offer(const TString& candidate) {
        if (WmsConnection::OrderProjections(m_crs, candidate) == 1) {
            m_crs = candidate;
        }
    }

    void Judge(const Frame& frame) {
        const DOMElement nameElement = frame.layer.GetFirstChild(QStringLiteral("Name"));
        if (nameElement.IsNull()) {
            return;
        }
        if (m_crs.isEmpty()) {
            m_sawLayerWithoutProjection = true;
            return;
        }
        if (IsFixedLayer(frame.layer)) {
            return;
        }
        const TString name = nameElement.GetText();
        const TString title = frame.layer.GetFirstChild(QStringLiteral("Title")).GetText();
        MapLayer layer;
        layer.SetAttribute(MapLayer::attrName, name);
        layer.SetAttribute(MapLayer::attrType, Name(MapLayer::valueFeatures));
        layer.SetAttribute(MapLayer::attrCRS, m_crs);
        for (const auto& [element, key] :
             {std::pair{u"MinScaleDenominator", MapLayer::attrMinScaleDenom},
              std::pair{u"MaxScaleDenominator", MapLayer::attrMaxScaleDenom}}) {
            const DOMElement denominator = frame.layer.GetFirstChild(Name(element));
            if (!denominator.IsNull()) {
                layer.SetAttribute(key, denominator.GetText());
            }
        }
        bool titleTaken = false;
        for (const MapLayer& listed : m_layers) {
            if (listed.GetName() == name) {
                return;
            }
            titleTaken = titleTaken || listed.GetAttribute(MapLayer::attrDisplayName) == title;
        }
        if (!title.isEmpty()) {
            layer.SetAttribute(MapLayer::attrDisplayName,
                               titleTaken ? QStringLiteral("%1 (%2)").arg(title, name) : title);
        }
        m_layers.insert(m_layers.begin() + static_cast<std::ptrdiff_t>(frame.insertAt), layer);
    }

    bool m_srsListsCodes;
    TString m_crs;
    std::vector<MapLayer> m_layers;
    bool m_sawLayerWithoutProjection = false;
};

void ReadLayers(const DOMDocument& document, WmsCapabilities& capabilities) {
    // 1.0.0 lists all codes in one SRS element ("EPSG:4326 EPSG:3857"). 1.1.x text is offered
    // whole, so a 1.1.0 list is one unsupported code.
    LayerWalk walk(IsVersion100(capabilities.version));
    const DOMElement capability = document.FindFirst(QStringLiteral("Capability"));
    for (const DOMElement& layer : capability.GetChildren(QStringLiteral("Layer"))) {
        walk.Walk(layer);
    }
    if (walk.Layers().empty()) {
        const TString message =
            LookupTStr(walk.SawLayerWithoutProjection() ? WmsConnection::kNoProjectedLayersText
                                                        : WmsConnection::kNoLayersText);
        TLog::LogMessage(TLog::Severity::Warn, message);
        throw MapProviderException(MapProviderException::eNoUsableService, message,
                                   MapProviderException::Site(kNoLayersSite));
    }
    capabilities.layers = MakeRefCnt<MapLayers>(std::move(walk.Layers()));
}

} // namespace

WmsCapabilities WmsCapabilities::Read(const DOMDocument& document, const GetMapCheck& check) {
    WmsCapabilities capabilities;
    ReadVersion(document, capabilities);
    ReadTitle(document, capabilities);
    ReadGetMap(document, capabilities);
    if (check) {
        check(capabilities);
    }
    ReadLayers(document, capabilities);
    return capabilities;
}
