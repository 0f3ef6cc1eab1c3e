#pragma once
// Drawing a view of a vector map source (Mapbox vector styles) the way the host does: a scene,
// the provider's renderer, Update, then Render into a painter.

#include <QImage>
#include <QRectF>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <lmxmaps/MapProvider.h>

struct VectorViewOptions {
    std::string style;
    std::string language;
    // The data layer of an area to show above its style layer.
    std::optional<std::string> dataLayer;
    std::optional<std::string> area;
    // Only these feature layers are shown; those the style shows by default when absent.
    std::optional<std::vector<std::string>> layers;
    double wash = 0.0;
    bool immediate = false;
    double timeoutSeconds = 0.0;
};

// Makes the X display and the GUI application the renderer needs when there are none; false
// with a message when that is impossible.
bool PrepareVectorRendering(std::ostream& err);

// Draws the view (bbox in the provider's map units) into image, whose size and pixel ratio are
// the view's. Returns the exit status: 0 complete, 1 when the render timed out or the map
// failed to load (the image holds what was drawn), 2 for bad options or an unusable source.
int DrawVectorView(MapProvider& provider, const VectorViewOptions& options,
                   const DataValueRect& bbox, QImage& image, std::ostream& err);
