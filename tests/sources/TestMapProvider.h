#pragma once
// A provider and a connection for tests, under class names no real source uses. Connecting a
// "lmx-test-failing" source fails with a MapProviderException, a "lmx-test-broken" one with
// std::runtime_error.

#include <stdexcept>

#include <lmxmaps/MapProvider.h>
#include <lmxmaps/MapProviderException.h>

class TestMapProvider : public MapProvider {
public:
    static constexpr const char16_t* valueClassAttr = u"lmx-test-provider";
    static constexpr const char16_t* valueFailingClassAttr = u"lmx-test-failing";
    static constexpr const char16_t* valueBrokenClassAttr = u"lmx-test-broken";

    using MapProvider::MapProvider;

    MapScaleLevel ComputeScaleLevel(const MapQuery&) const override { return {}; }
    double GetMaxScaleLevel() const override { return 20.0; }
    SpatialProjectorPtr CreateSpatialProjector(const FieldName& uField,
                                               const FieldName& vField) const override {
        return SpatialProjector::WebMercatorFactory(uField, vField, QStringLiteral("test"));
    }
    RefCntPtr<MapLayers> GetFeatureLayers(const TString&) override { return {}; }
    RefCntPtr<MapLayers> GetDataLayers(const TString&) override { return {}; }
    RefCntPtr<ILegendItems> CreateLegendItems(const MapLayer&, const LanguageCode&,
                                              const ColorPaletteLookup&) override {
        return {};
    }
    void PrepareFeatureLayer(MapLayer&, const LanguageCode&) override {}
    void PrepareDataLayer(MapLayer&, const LanguageCode&, const ColorPaletteLookup&) override {}

    // Registers the three classes with their connections; repeating it is harmless.
    static void Register() {
        for (const char16_t* name : {valueClassAttr, valueFailingClassAttr, valueBrokenClassAttr}) {
            MapProvider::Register(TStr(name), [](const AttributeMap& attributes) {
                return std::make_shared<TestMapProvider>(attributes);
            });
        }
        MapConnection::Register(TStr(valueClassAttr), [](const AttributeMap& attributes) {
            return MapConnectionPtr(new Connection(attributes));
        });
        MapConnection::Register(
            TStr(valueFailingClassAttr), [](const AttributeMap&) -> MapConnectionPtr {
                throw MapProviderException(MapProviderException::eServiceUnavailable,
                                           QStringLiteral("unreachable"),
                                           MapProviderException::Site(0x7E570001));
            });
        MapConnection::Register(
            TStr(valueBrokenClassAttr),
            [](const AttributeMap&) -> MapConnectionPtr { throw std::runtime_error("broken"); });
    }

private:
    class Connection : public MapConnection {
    public:
        using MapConnection::MapConnection;
        MapRequestorPtr CreateMapRequestor(SpatialProjectorPtr, MapQueryPtr) override { return {}; }
    };
};
