#include "mapbox/MapboxDocuments.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <unordered_map>

#include <lmxmaps/host/LumivexException.h>
#include <lmxmaps/host/TLog.h>

#include "host/core/Json.h"

namespace MapboxDocuments {

namespace {

constexpr std::uint32_t kLacksNameSite = 0xDFBF8ACC;
constexpr std::uint32_t kLacksLayersSite = 0xDBB7EAEC;
constexpr std::uint32_t kLacksLanguagesSite = 0xDA556269;
constexpr std::uint32_t kLacksPropertyStashSite = 0x8F3160CF;
constexpr const char* kDisplayNamePrefix = "display-name-";
constexpr int kZoomDigits = 6;
// Name, default-enabled, min-zoom, type and style name.
constexpr std::size_t kStyleLayerAttributes = 5;

// Zoom functions of these properties that start at 0 hide a layer until their first zoom.
constexpr const char* kLayoutSizeProperties[] = {"icon-size", "text-size"};
constexpr const char* kPaintSizeProperties[] = {
    "circle-opacity", "circle-radius",   "fill-extrusion-opacity",
    "fill-opacity",   "heatmap-opacity", "icon-opacity",
    "line-width",     "line-opacity",    "raster-opacity",
    "text-opacity"};

// What a layer of a group carries: "group", "presentation-order" and the group's own
// attributes as "group-<key>", with the keys made once per group.
using GroupAttributes = std::vector<std::pair<TString, TString>>;

// Group id (as the document spells it) to the attributes of its layers.
using StyleGroups = std::unordered_map<std::string_view, GroupAttributes>;

std::string_view View(const rapidjson::Value& string) {
    return {string.GetString(), string.GetStringLength()};
}

void WarnLacking(const char* format, const char* key, const char* siteName, std::uint32_t site) {
    TLog::LogMessage(TLog::Severity::Warn, TError::LogSite(QLatin1String(siteName), site).logSite,
                     QString::fromLatin1(format).arg(QLatin1String(key)));
}

const rapidjson::Value* Metadata(const rapidjson::Value& document) {
    return Json::Find(document, "metadata");
}

const rapidjson::Value* MetadataMember(const rapidjson::Value& document, const char* name) {
    const rapidjson::Value* metadata = Metadata(document);
    return metadata != nullptr ? Json::Find(*metadata, name) : nullptr;
}

// Group name to "group-<key>" attributes from "lumivex:layers".
std::unordered_map<TString, GroupAttributes> ReadGroupAttributes(const rapidjson::Value& style) {
    std::unordered_map<TString, GroupAttributes> byName;
    const rapidjson::Value* layers = MetadataMember(style, "lumivex:layers");
    if (layers == nullptr || !layers->IsObject()) {
        return byName;
    }
    const TString prefix = TStr(MapLayer::attrGroup) + u'-';
    for (const auto& group : layers->GetObject()) {
        if (!group.value.IsObject()) {
            continue;
        }
        GroupAttributes& attributes = byName[Json::NameOf(group)];
        for (const auto& attribute : group.value.GetObject()) {
            if (attribute.value.IsString()) {
                TString key = Json::NameOf(attribute);
                key.remove(QLatin1String(kDisplayNamePrefix));
                attributes.emplace_back(prefix + key, Json::ToTString(attribute.value));
            }
        }
    }
    return byName;
}

// Group name to its presentation order, as text, from "lumivex:grouporder".
std::unordered_map<TString, TString> ReadGroupOrder(const rapidjson::Value& style) {
    std::unordered_map<TString, TString> byName;
    const rapidjson::Value* order = MetadataMember(style, "lumivex:grouporder");
    if (order == nullptr || !order->IsObject()) {
        return byName;
    }
    for (const auto& group : order->GetObject()) {
        const rapidjson::Value* position = Json::Find(group.value, "presentation-order");
        if (position != nullptr && position->IsInt64()) {
            byName.insert_or_assign(Json::NameOf(group), TString::number(position->GetInt64()));
        }
    }
    return byName;
}

StyleGroups ReadGroups(const rapidjson::Value& style) {
    StyleGroups groups;
    const rapidjson::Value* ids = MetadataMember(style, "mapbox:groups");
    if (ids == nullptr || !ids->IsObject()) {
        return groups;
    }
    const std::unordered_map<TString, GroupAttributes> attributes = ReadGroupAttributes(style);
    const std::unordered_map<TString, TString> order = ReadGroupOrder(style);
    const TString groupKey = TStr(MapLayer::attrGroup);
    const TString orderKey = TStr(MapLayer::attrPresentationOrder);
    for (const auto& group : ids->GetObject()) {
        const rapidjson::Value* name = Json::Find(group.value, "name");
        if (name == nullptr || !name->IsString()) {
            continue;
        }
        const TString groupName = Json::ToTString(*name);
        GroupAttributes& carried = groups[View(group.name)];
        carried = {{groupKey, groupName}};
        if (const auto position = order.find(groupName); position != order.end()) {
            carried.emplace_back(orderKey, position->second);
        }
        if (const auto own = attributes.find(groupName); own != attributes.end()) {
            carried.insert(carried.end(), own->second.begin(), own->second.end());
        }
    }
    return groups;
}

const GroupAttributes* GroupOf(const rapidjson::Value& layer, const StyleGroups& groups) {
    const rapidjson::Value* metadata = Json::Find(layer, "metadata");
    const rapidjson::Value* groupId =
        metadata != nullptr ? Json::Find(*metadata, "mapbox:group") : nullptr;
    if (groupId == nullptr || !groupId->IsString()) {
        return nullptr;
    }
    const auto found = groups.find(View(*groupId));
    return found == groups.end() ? nullptr : &found->second;
}

bool IsHidden(const rapidjson::Value& layer) {
    const rapidjson::Value* layout = Json::Find(layer, "layout");
    const rapidjson::Value* visibility =
        layout != nullptr ? Json::Find(*layout, "visibility") : nullptr;
    return visibility != nullptr && visibility->IsString() &&
           std::string_view(visibility->GetString(), visibility->GetStringLength()) == "none";
}

// The zoom from which a zoom function growing from 0 shows something; nullopt for anything
// else (constants, data functions, expressions).
std::optional<double> ZoomWhereGrowthFromZeroStarts(const rapidjson::Value& property) {
    if (!property.IsObject() || property.HasMember("property")) {
        return std::nullopt;
    }
    const rapidjson::Value* stops = Json::Find(property, "stops");
    if (stops == nullptr || !stops->IsArray() || stops->Empty()) {
        return std::nullopt;
    }
    const rapidjson::Value& first = (*stops)[0];
    const rapidjson::Value& last = (*stops)[stops->Size() - 1];
    const auto isStop = [](const rapidjson::Value& stop) {
        return stop.IsArray() && stop.Size() >= 2 && stop[0].IsNumber() && stop[1].IsNumber();
    };
    if (!isStop(first) || !isStop(last)) {
        return std::nullopt;
    }
    const double startValue = first[1].GetDouble();
    const double endValue = last[1].GetDouble();
    if (startValue == 0.0 && endValue >= startValue) {
        return first[0].GetDouble();
    }
    return std::nullopt;
}

template <std::size_t N>
void RaiseToGrowthStart(const rapidjson::Value& layer, const char* group,
                        const char* const (&properties)[N], double& zoom) {
    const rapidjson::Value* values = Json::Find(layer, group);
    if (values == nullptr) {
        return;
    }
    for (const char* name : properties) {
        if (const rapidjson::Value* property = Json::Find(*values, name)) {
            if (const std::optional<double> start = ZoomWhereGrowthFromZeroStarts(*property)) {
                zoom = std::max(zoom, *start);
            }
        }
    }
}

} // namespace

bool ReadStyle(const TString& text, rapidjson::Document& document) {
    if (!Json::Parse(text.toUtf8(), document)) {
        return false;
    }
    constexpr const char* kLacks = "Mapbox style JSON lacks '%1' property.";
    if (Json::Find(document, "name") == nullptr) {
        WarnLacking(kLacks, "name", "MapboxStyleJSONLacksName", kLacksNameSite);
        return false;
    }
    if (Json::Find(document, "layers") == nullptr) {
        WarnLacking(kLacks, "layers", "MapboxStyleJSONLacksLayers", kLacksLayersSite);
        return false;
    }
    const rapidjson::Value* metadata = Metadata(document);
    if (metadata != nullptr && Json::Find(*metadata, "lumivex:layers") != nullptr &&
        Json::Find(*metadata, "lumivex:languages") == nullptr) {
        WarnLacking(kLacks, "lumivex:languages", "MapboxStyleJSONLacksLmxLangs",
                    kLacksLanguagesSite);
        return false;
    }
    return true;
}

bool ReadTileset(const TString& text, rapidjson::Document& document) {
    if (!Json::Parse(text.toUtf8(), document)) {
        return false;
    }
    if (Json::Find(document, "propertyStash") == nullptr) {
        WarnLacking("Mapbox tileset JSON lacks `%1` property.", "propertyStash",
                    "MapboxTilesetJSONLacksPropertyStash", kLacksPropertyStashSite);
        return false;
    }
    return true;
}

double MinimumZoom(const rapidjson::Value& layer) {
    double zoom = 0.0;
    if (const rapidjson::Value* minzoom = Json::Find(layer, "minzoom");
        minzoom != nullptr && minzoom->IsNumber()) {
        zoom = std::max(zoom, minzoom->GetDouble());
    }
    RaiseToGrowthStart(layer, "layout", kLayoutSizeProperties, zoom);
    RaiseToGrowthStart(layer, "paint", kPaintSizeProperties, zoom);
    return zoom;
}

std::vector<MapLayer> StyleLayers(const rapidjson::Document& style, const TString& styleName,
                                  bool isUserStyle) {
    std::vector<MapLayer> layers;
    const rapidjson::Value* styleLayers = Json::Find(style, "layers");
    if (styleLayers == nullptr || !styleLayers->IsArray()) {
        return layers;
    }
    const StyleGroups groups = ReadGroups(style);
    // Keys and common values made once: a style has hundreds of layers.
    const TString nameKey = TStr(MapLayer::attrName);
    const TString enabledKey = TStr(MapLayer::attrDefaultEnabled);
    const TString minZoomKey = TStr(MapLayer::attrMinZoom);
    const TString typeKey = TStr(MapLayer::attrType);
    const TString styleNameKey = TStr(MapLayer::attrStyleName);
    const TString shown = TStr(MapLayer::valueTrue);
    const TString hidden = TStr(MapLayer::valueFalse);
    const TString features = TStr(MapLayer::valueFeatures);
    std::unordered_map<double, TString> zoomTexts;

    layers.reserve(styleLayers->Size());
    for (const rapidjson::Value& layer : styleLayers->GetArray()) {
        const rapidjson::Value* id = Json::Find(layer, "id");
        if (id == nullptr || !id->IsString()) {
            continue;
        }
        const GroupAttributes* group = GroupOf(layer, groups);
        AttributeMap attributes;
        attributes.reserve(kStyleLayerAttributes + (group != nullptr ? group->size() : 0));
        attributes.emplace(nameKey, Json::ToTString(*id));
        attributes.emplace(enabledKey, IsHidden(layer) ? hidden : shown);
        if (group != nullptr) {
            attributes.insert(group->begin(), group->end());
        }
        if (!isUserStyle) {
            const double zoom = MinimumZoom(layer);
            auto text = zoomTexts.find(zoom);
            if (text == zoomTexts.end()) {
                text = zoomTexts.emplace(zoom, TString::number(zoom, 'g', kZoomDigits)).first;
            }
            attributes.emplace(minZoomKey, text->second);
        }
        attributes.emplace(typeKey, features);
        attributes.emplace(styleNameKey, styleName);
        layers.emplace_back(std::move(attributes));
    }
    return layers;
}

void ReadStyleSettings(const rapidjson::Document& style, MapboxCaching::StyleEntry& entry) {
    if (const rapidjson::Value* languages = MetadataMember(style, "lumivex:languages");
        languages != nullptr && languages->IsObject()) {
        for (const auto& language : languages->GetObject()) {
            if (language.value.IsString()) {
                entry.languages.insert_or_assign(Json::NameOf(language),
                                                 Json::ToTString(language.value));
            }
        }
    }
    if (const rapidjson::Value* demographics = MetadataMember(style, "lumivex:demographics")) {
        entry.demographicsInsertAbove = Json::FindString(*demographics, "insert_above");
        if (const rapidjson::Value* opacity = Json::Find(*demographics, "opacity");
            opacity != nullptr && opacity->IsNumber()) {
            entry.demographicsOpacity = opacity->GetDouble();
        }
    }
}

std::vector<MapLayer> TilesetLayers(const rapidjson::Document& tileset, const TString& tilesetUrl) {
    TString sourceLayer;
    if (const rapidjson::Value* vectorLayers = Json::Find(tileset, "vector_layers");
        vectorLayers != nullptr && vectorLayers->IsArray() && !vectorLayers->Empty()) {
        sourceLayer = Json::FindString((*vectorLayers)[0], "id");
    }
    const qsizetype dot = tilesetUrl.indexOf(u'.');
    const TString fallbackSourceLayer = dot < 0 ? tilesetUrl : tilesetUrl.mid(dot + 1);

    std::vector<MapLayer> layers;
    const rapidjson::Value* stash = Json::Find(tileset, "propertyStash");
    if (stash == nullptr || !stash->IsObject()) {
        return layers;
    }
    for (const auto& member : stash->GetObject()) {
        if (!member.value.IsObject()) {
            continue;
        }
        MapLayer layer;
        layer.SetAttribute(MapLayer::attrDataId, Json::NameOf(member));
        if (!sourceLayer.isEmpty()) {
            layer.SetAttribute(MapLayer::attrSourceLayer, sourceLayer);
        }
        for (const auto& property : member.value.GetObject()) {
            TString value;
            if (property.value.IsString()) {
                value = Json::ToTString(property.value);
            } else if (property.value.IsArray()) {
                value = QString::fromStdString(Json::Write(property.value));
            }
            layer.SetAttribute(Json::NameOf(property), value);
        }
        layer.SetAttribute(MapLayer::attrType, TStr(MapLayer::valueData));
        layer.SetAttribute(MapLayer::attrRequestString, tilesetUrl);
        if (!layer.HasAttribute(MapLayer::attrSourceLayer)) {
            layer.SetAttribute(MapLayer::attrSourceLayer, fallbackSourceLayer);
        }
        layers.push_back(std::move(layer));
    }
    return layers;
}

} // namespace MapboxDocuments
