#include "VectorRender.h"

#include <QCoreApplication>
#include <QPainter>
#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>

#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/MapRenderer.h>
#include <lmxmaps/MapboxVectorRenderer.h>
#include <lmxmaps/host/HeadlessDisplay.h>
#include <lmxmaps/host/Options.h>

#include "ExitCodes.h"

namespace {

constexpr const char* kRenderTimeoutOption = "MapboxVectorRenderTimeoutSecs";
constexpr int kEventSliceMs = 20;
// Labels fade in over about this long after a continuous map has all its data.
constexpr auto kQuietPeriod = std::chrono::milliseconds(500);

// The layers to request: the chosen ones, or those the style shows by default.
std::vector<MapLayer> ChosenLayers(const MapLayers& layers,
                                   const std::optional<std::vector<std::string>>& names,
                                   std::ostream& err, bool& ok) {
    std::vector<MapLayer> chosen;
    ok = true;
    for (const MapLayer& layer : layers.GetLayers()) {
        const bool wanted =
            names ? std::find(names->begin(), names->end(), ToUtf8(layer.GetName())) != names->end()
                  : layer.GetAttribute(MapLayer::attrDefaultEnabled) == TStr(MapLayer::valueTrue);
        if (wanted) {
            chosen.push_back(layer);
        }
    }
    if (names) {
        for (const std::string& name : *names) {
            const bool known = std::any_of(chosen.begin(), chosen.end(), [&](const MapLayer& l) {
                return ToUtf8(l.GetName()) == name;
            });
            if (!known) {
                err << "lmxmaps render: the style has no layer '" << name << "'\n";
                ok = false;
            }
        }
    }
    return chosen;
}

// The data layer of the area with that data id, prepared for drawing; nullopt (after a
// message) when the area has none or it cannot be drawn.
std::optional<MapLayer> PreparedDataLayer(MapProvider& provider, const VectorViewOptions& options,
                                          const LanguageCode& language, std::ostream& err) {
    const RefCntPtr<MapLayers> data =
        provider.GetDataLayers(QString::fromStdString(options.area.value_or("")));
    for (MapLayer layer : data->GetLayers()) {
        if (ToUtf8(layer.GetAttribute(MapLayer::attrDataId)) != *options.dataLayer) {
            continue;
        }
        layer.SetAttribute(MapLayer::attrStyleName, QString::fromStdString(options.style));
        provider.PrepareDataLayer(layer, language, ColorPaletteLookup());
        if (!layer.IsValid()) {
            err << "lmxmaps render: the data layer '" << *options.dataLayer
                << "' cannot be drawn (no class breaks or an unknown palette)\n";
            return std::nullopt;
        }
        return layer;
    }
    err << "lmxmaps render: the area '" << options.area.value_or("") << "' has no data layer '"
        << *options.dataLayer << "'\n";
    return std::nullopt;
}

// Runs the event loop until the map reports a change (true) or, once it is complete, until it
// stays quiet for a moment or the deadline passes (false).
bool WaitForChange(std::atomic<bool>& changed, bool complete,
                   std::chrono::steady_clock::time_point deadline) {
    const auto quietUntil = std::chrono::steady_clock::now() + kQuietPeriod;
    while (!changed) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline || (complete && now >= quietUntil)) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, kEventSliceMs);
    }
    changed = false;
    return true;
}

} // namespace

bool PrepareVectorRendering(std::ostream& err) {
    TString problem;
    if (!HeadlessDisplay::EnsureDisplay(problem)) {
        err << "lmxmaps render: vector maps need OpenGL on an X display: " << ToUtf8(problem)
            << "\n";
        return false;
    }
    return true;
}

int DrawVectorView(MapProvider& provider, const VectorViewOptions& options,
                   const DataValueRect& bbox, QImage& image, std::ostream& err) {
    const LanguageCode language(QString::fromStdString(options.language));
    const TString styleName = QString::fromStdString(options.style);
    const RefCntPtr<MapLayers> styleLayers = provider.GetFeatureLayers(styleName);
    for (const RefCntPtr<WarningMsg>& warning : provider.FetchErrors()) {
        err << "lmxmaps render: " << ToUtf8(warning->GetMessage()) << "\n";
        return ExitCode::kUsage;
    }
    bool ok = false;
    std::vector<MapLayer> layers = ChosenLayers(*styleLayers, options.layers, err, ok);
    if (!ok) {
        return ExitCode::kUsage;
    }
    for (MapLayer& layer : layers) {
        provider.PrepareFeatureLayer(layer, language);
    }
    if (options.dataLayer) {
        std::optional<MapLayer> data = PreparedDataLayer(provider, options, language, err);
        if (!data) {
            return ExitCode::kUsage;
        }
        layers.push_back(std::move(*data));
    }

    Options::Set(QLatin1String(kRenderTimeoutOption),
                 QString::number(std::max(1.0, options.timeoutSeconds), 'f', 0));
    MapRenderer::Initialize();
    const QSize size = image.size() / image.devicePixelRatio();
    MapSceneSpec scene;
    scene.modelToken = 1;
    scene.query = MakeRefCnt<MapQuery>(
        MakeRefCnt<MapLayers>(std::move(layers)), provider.GetDefaultSpatialProjector()->GetName(),
        bbox, static_cast<unsigned int>(size.width()), static_cast<unsigned int>(size.height()),
        TString(), styleName, image.devicePixelRatio() > 1.0, false);
    scene.visibleDomainBounds = bbox;
    scene.projector = provider.GetDefaultSpatialProjector();
    scene.pixelRatio = static_cast<float>(image.devicePixelRatio());
    scene.washOpacity = static_cast<float>(options.wash);

    auto changed = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<MapRenderer> renderer;
    try {
        renderer = provider.AsVector().CreateMapRenderer(
            scene, options.immediate ? std::function<void()>([changed] { *changed = true; })
                                     : std::function<void()>());
        renderer->Update(scene);
    } catch (const MapProviderException& e) {
        err << "lmxmaps render: cannot use the map source: " << ToUtf8(e.GetMessage())
            << " (error type " << e.GetType() << ")\n";
        return ExitCode::kUsage;
    }
    const auto* vector = dynamic_cast<const MapboxVectorRenderer*>(renderer.get());
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(options.timeoutSeconds));
    try {
        while (true) {
            image.fill(Qt::white);
            QPainter painter(&image);
            renderer->Render(painter, QRect(QPoint(0, 0), size), QRectF());
            painter.end();
            // Deferred renders wait for the whole map themselves; an immediate one draws what
            // has arrived, and again when more comes or labels fade in, until the map is
            // complete and quiet.
            if (!options.immediate || vector == nullptr) {
                break;
            }
            if (!WaitForChange(*changed, vector->WasLastRenderFullyLoaded(), deadline)) {
                break;
            }
        }
    } catch (const std::runtime_error& e) {
        err << "lmxmaps render: the map failed to load: " << e.what() << "\n";
        return ExitCode::kPartialFailure;
    }
    if (vector != nullptr &&
        (vector->DidLastRenderTimeOut() || !vector->WasLastRenderFullyLoaded())) {
        err << "lmxmaps render: the map did not finish loading within " << options.timeoutSeconds
            << " s\n";
        return ExitCode::kPartialFailure;
    }
    return ExitCode::kSuccess;
}
