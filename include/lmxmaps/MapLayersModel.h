#pragma once
// Model of the layer panel for a single map, built and read by the host: named layer lists,
// the enabled data layer (at most one) with its legend, the current view's query, warnings
// from loading the layers, and some numbers for display.

#include <map>
#include <memory>
#include <vector>

#include <lmxmaps/MapLayers.h>
#include <lmxmaps/MapQuery.h>
#include <lmxmaps/host/Legends.h>
#include <lmxmaps/host/RefCnt.h>
#include <lmxmaps/host/TString.h>
#include <lmxmaps/host/WarningMsg.h>

class MapProvider;

class MapLayersModel : public RefCntObject {
public:
    using LayersMap = std::map<TString, RefCntPtr<MapLayers>>;
    using Warnings = std::vector<RefCntPtr<WarningMsg>>;

    static constexpr double kMinZoomLevel = 0.0;
    static constexpr double kMaxZoomLevel = 30.0;

    // enabledDataLayer may be null: no data layer is switched on.
    MapLayersModel(LayersMap layers, std::unique_ptr<MapLayer> enabledDataLayer,
                   RefCntPtr<ILegendItems> legendItems, const Warnings& errors);

    // The lists themselves are shared, not copied.
    LayersMap GetLayers() const;
    // For a raster provider and a view query: copies of all lists in which every layer not
    // visible at the view's zoom and scale denominator is switched off. Layers are never
    // dropped and the model's own lists stay as they are. Otherwise the same as GetLayers.
    LayersMap GetLayersVisibleAtCurrentZoom(const MapProvider& provider) const;
    bool HasAnyEnabledLayers() const;

    bool HasEnabledDataLayer() const;
    // Only while HasEnabledDataLayer().
    const MapLayer& GetEnabledDataLayer() const;
    RefCntPtr<ILegendItems> GetLegendItems() const;

    RefCntPtr<MapQuery> GetMapQuery() const;
    void SetMapQuery(RefCntPtr<MapQuery> query);

    // Appends the warnings, in order, to errors; hasErrors tells whether there were any.
    void GetErrors(Warnings& errors, bool& hasErrors) const;
    void ClearErrors();

    float GetDisplayScale() const;
    void SetDisplayScale(float displayScale);
    float GetCoverage() const;
    void SetCoverage(float coverage);
    float GetActualZoomLevel() const;
    void SetActualZoomLevel(float zoomLevel);

    // A zoom factor limited so that zooming from zoomLevel by it stays within the valid
    // levels: beyond the last level when zooming in, or below the first when zooming out, it
    // becomes the factor that reaches that level exactly.
    static double ClampMapZoomFactorForValidZoomLevel(double zoomLevel, double factor);

protected:
    ~MapLayersModel() override;

private:
    struct State;

    std::unique_ptr<State> m_state;
};
