// The view pipeline of raster providers: tiling (with wrap-around), memory and disk look-ups,
// requests for the rest and the composite image of the view.
//
// A tile whose disk copy expired is fetched again (the requestor revalidates the copy) and
// shows that copy meanwhile, and instead when the server is unavailable. Without a connection
// (offline) an expired copy is shown like a fresh one: it is the best there is.

#include <algorithm>
#include <cmath>

#include <lmxmaps/MapConnectionAttributes.h>
#include <lmxmaps/MapDiskCache.h>
#include <lmxmaps/MapProvider.h>
#include <lmxmaps/MappedImageCache.h>
#include <lmxmaps/host/TLog.h>
#include <lmxmaps/host/net/Secrets.h>

namespace {

constexpr const char16_t* kLegendName = u"legend";

struct Rect {
    double minX, maxX, minY, maxY;
};

Rect ToRect(const DataValueRect& bbox) {
    return {bbox.MinX().GetReal(), bbox.MaxX().GetReal(), bbox.MinY().GetReal(),
            bbox.MaxY().GetReal()};
}

DataValueRect ToDataValueRect(const Rect& r) {
    return DataValueRect(DataValue::Real(r.minX), DataValue::Real(r.maxX), DataValue::Real(r.minY),
                         DataValue::Real(r.maxY));
}

// A query over another rectangle and pixel size with the flags, names, CRS and layers of the
// model.
MapQueryPtr QueryLike(const MapQuery& model, const Rect& rect, unsigned int width,
                      unsigned int height, bool requestMargin, const MapScaleLevel& level) {
    return MakeRefCnt<MapQuery>(model.GetLayers(), model.GetCRS(), ToDataValueRect(rect), width,
                                height, model.GetLayerGroup(), model.GetStyleName(),
                                model.IsHighDPI(), requestMargin, level);
}

// Adds the entries of extra whose keys are not there yet.
void AddMissing(AttributeMap& key, const AttributeMap& extra) {
    for (const auto& [name, value] : extra) {
        key.try_emplace(name, value);
    }
}

MappedImageInstancePtr NewTileInstance(const QtImageObject::BitmapOptions& options,
                                       const TString& layerGroup) {
    return MakeRefCnt<MappedImageInstance>(nullptr, options, TString(), TString(), layerGroup, true,
                                           false, false);
}

MappedImageInstancePtr NewLegendInstance(const TString& layerGroup) {
    return MakeRefCnt<MappedImageInstance>(nullptr, QtImageObject::BitmapOptions(),
                                           TStr(kLegendName), TString(), layerGroup, true, false,
                                           false);
}

struct Point {
    double x = 0.0;
    double y = 0.0;
};

Point CentreOf(const Rect& r) {
    return {(r.minX + r.maxX) / 2, (r.minY + r.maxY) / 2};
}

// The centre of the area the tiles cover together.
Point CentreOfTiles(const std::vector<MapQueryPtr>& tiles) {
    if (tiles.empty()) {
        return {};
    }
    Rect all = ToRect(tiles.front()->GetBBox());
    for (const MapQueryPtr& tile : tiles) {
        const Rect r = ToRect(tile->GetBBox());
        all = {std::min(all.minX, r.minX), std::max(all.maxX, r.maxX), std::min(all.minY, r.minY),
               std::max(all.maxY, r.maxY)};
    }
    return CentreOf(all);
}

// Tiles nearest the middle of the view are fetched first: that is where the eye goes.
double FetchPriority(const MapQuery& tile, Point viewCentre) {
    const Point centre = CentreOf(ToRect(tile.GetBBox()));
    return std::hypot(centre.x - viewCentre.x, centre.y - viewCentre.y);
}

void PlaceLikeTile(MappedImageInstance& instance, const MapQuery& tile) {
    instance.SetWidthHeight(static_cast<int>(tile.GetWidth()), static_cast<int>(tile.GetHeight()));
    instance.SetBounds(tile.GetBBox());
}

// The cached instance for the key; an entry that lost its instance is dropped.
MappedImageInstancePtr FindInMemory(const AttributeMap& key) {
    MappedImageCache& cache = MappedImageCache::Singleton();
    MappedImageCacheDataPtr data;
    if (!cache.Get(key, data)) {
        return nullptr;
    }
    MappedImageInstancePtr instance = data->GetMappedImage();
    if (!instance) {
        cache.Clear(key);
    }
    return instance;
}

// The disk cache's copy of the tile, expired ones included; null when there is none with an
// image.
RefCntPtr<IPersistentImageCache::Data> FindOnDisk(IPersistentImageCache* diskCache,
                                                  const AttributeMap& key) {
    RefCntPtr<IPersistentImageCache::Data> stored =
        diskCache != nullptr ? diskCache->LookupIncludingExpired(key) : nullptr;
    return stored && stored->GetImageObject() != nullptr ? stored : nullptr;
}

} // namespace

RefCntPtr<MappedImageCollection>
RasterMapProvider::GetMappedImages(MapQueryPtr query, bool composeWhenComplete, MapCode mapCode,
                                   int modelNumber, const ColorObject& waitColor,
                                   TileCounts* counts) {
    TileCounts found;
    auto collection = MakeRefCnt<MappedImageCollection>();
    const MapScaleLevel level = ComputeScaleLevel(*query);
    const SpatialProjectorPtr projector = GetDefaultSpatialProjector();

    std::vector<MapQueryPtr> tiles;
    const MapQueryPtr whole = projector->DoesWrap()
                                  ? ComputeTilesWithWrappedQueries(level, query, tiles)
                                  : ComputeTiles(level, query, tiles);
    if (!whole || whole->GetWidth() == 0 || whole->GetHeight() == 0) {
        return collection;
    }

    // The map code picks the tile set of a source that names none of its own.
    if (GetAttribute(attrTileSet).isEmpty()) {
        SetAttribute(attrTileSet, MapCodeString(mapCode) + u'/' + TStr(kTileSetVariant));
    }
    const MapConnectionPtr connection = IsOffline() ? nullptr : ConnectNoThrow();
    IPersistentImageCache* diskCache = MapDiskCache::Get();

    AttributeMap filtered = GetAttributes();
    MapConnectionAttributes::FilterRequiredAttributes(filtered);
    MapConnectionAttributes::FilterSecureAttributes(filtered);
    AttributeMap imageKey = filtered;
    AddMissing(imageKey, whole->GetProperties());

    MappedImageInstancePtr composite = FindInMemory(imageKey);
    if (!dynamic_cast<CompositeMappedImage*>(composite.get())) {
        QtImageObject::BitmapOptions bitmapOptions;
        ColorObject background;
        if (HasBackgroundColor(background)) {
            bitmapOptions.backgroundColor = background;
        }
        std::vector<MappedImageInstancePtr> instances;
        GetTilesAndALegendForTheFirstFetchedTile(diskCache, connection, bitmapOptions, waitColor,
                                                 modelNumber, tiles, filtered, instances,
                                                 collection->legends, found);
        auto created =
            MakeRefCnt<CompositeMappedImage>(whole, bitmapOptions, composeWhenComplete, projector);
        created->SetWaitTileFill(waitColor);
        created->AddTiles(instances);
        MappedImageCache::Singleton().Put(imageKey, created);
        composite = created;
    } else {
        found.fromMemory = static_cast<int>(tiles.size());
    }
    collection->images.emplace_back(composite);
    if (counts != nullptr) {
        *counts = found;
    }

    if (HasBitmapLegends()) {
        GetLegendsFromCache(diskCache, connection, tiles, filtered, collection->legends);
        if (collection->legends.empty() && connection && !tiles.empty()) {
            AddLegendFromFirstTile(connection, tiles, filtered, collection->legends);
        }
    }
    return collection;
}

void RasterMapProvider::AddLegendFromFirstTile(const MapConnectionPtr& connection,
                                               const std::vector<MapQueryPtr>& tiles,
                                               const AttributeMap& filtered,
                                               std::vector<MappedImageUse>& legends) {
    const MapQueryPtr& first = tiles.front();
    first->SetLegendFetch(true);
    MappedImageInstancePtr legend = NewLegendInstance(first->GetLayerGroup());
    MapRequestorPtr request = connection->CreateMapRequestor(GetDefaultSpatialProjector(), first);
    legend->SetRequest(request, true);
    legends.emplace_back(legend);
    AttributeMap key = filtered;
    AddMissing(key, first->GetLegendProperties());
    MappedImageCache::Singleton().Put(key, legend);
}

void RasterMapProvider::GetTilesAndALegendForTheFirstFetchedTile(
    IPersistentImageCache* diskCache, const MapConnectionPtr& connection,
    const QtImageObject::BitmapOptions& bitmapOptions, const ColorObject& waitColor,
    int modelNumber, const std::vector<MapQueryPtr>& tiles, const AttributeMap& filtered,
    std::vector<MappedImageInstancePtr>& instances, std::vector<MappedImageUse>& legends,
    TileCounts& counts) {
    const TString className = GetAttribute(attrClass);
    TLog::LogMessage(TLog::Severity::Info, className + QStringLiteral(": Begin lookup of") +
                                               TString::number(tiles.size()) +
                                               QStringLiteral(" tiles."));
    const bool logTiles = TLog::IsDetailTagOn(kTileLogTag) || TLog::IsDetailTagOn(kTileUrlLogTag);
    const SpatialProjectorPtr projector = GetDefaultSpatialProjector();
    MappedImageCache& memory = MappedImageCache::Singleton();
    const Point viewCentre = CentreOfTiles(tiles);
    int tileIndex = 0;

    for (const MapQueryPtr& tile : tiles) {
        AttributeMap key = filtered;
        AddMissing(key, tile->GetProperties());
        GenerateIndexProperty(key, tile);

        MappedImageInstancePtr instance = FindInMemory(key);
        RefCntPtr<IPersistentImageCache::Data> stored;
        if (!instance) {
            stored = FindOnDisk(diskCache, key);
        }
        if (instance) {
            ++counts.fromMemory;
        } else if (stored && (!stored->IsExpired() || !connection)) {
            ++counts.fromDisk;
            instance = MakeRefCnt<MappedImageInstance>(stored->CloneImageObject(), bitmapOptions,
                                                       TString(), TString(), tile->GetLayerGroup(),
                                                       true, false, false);
            PlaceLikeTile(*instance, *tile);
            if (connection) {
                instance->SetUrl(connection->CreateMapRequestor(projector, tile)->GetResultUrl());
            }
            memory.Put(key, instance);
        } else {
            instance = NewTileInstance(bitmapOptions, tile->GetLayerGroup());
            const bool legendFromThisTile = HasBitmapLegends() && legends.empty() && connection;
            if (legendFromThisTile) {
                tile->SetLegendFetch(true);
            }
            if (stored) {
                instance->SetOutOfDateImage(stored->CloneImageObject());
            } else {
                FetchTileFromCache(instance, tile, waitColor);
            }
            PlaceLikeTile(*instance, *tile);
            if (connection) {
                ++counts.fresh;
                MapRequestorPtr request = connection->CreateMapRequestor(projector, tile);
                request->SetFetchPriority(FetchPriority(*tile, viewCentre));
                instance->SetRequest(std::move(request), false);
            } else {
                ++counts.missing;
            }
            memory.Put(key, instance);
            if (legendFromThisTile) {
                MappedImageInstancePtr legend = NewLegendInstance(tile->GetLayerGroup());
                legend->UseLegendFrom(*instance);
                legends.emplace_back(legend);
                AttributeMap legendKey = filtered;
                AddMissing(legendKey, tile->GetLegendProperties());
                memory.Put(legendKey, legend);
            }
        }

        instance->SetLogIndexes(modelNumber, tileIndex);
        if (logTiles) {
            const TString url = TLog::IsDetailTagOn(kTileUrlLogTag)
                                    ? Secrets::RedactUrl(instance->GetUrl())
                                    : TString();
            TLog::LogMessage(TLog::Severity::Info,
                             QStringLiteral("Found map tile in disk cache model %1 tile %2 %3")
                                 .arg(modelNumber)
                                 .arg(tileIndex)
                                 .arg(url));
        }
        ++tileIndex;
        instances.push_back(instance);
    }

    TLog::LogMessage(
        TLog::Severity::Info,
        QStringLiteral("%1: %2 total tiles, %3 new %4 from disk %5 from memory %6 missing")
            .arg(className)
            .arg(counts.fresh + counts.fromDisk + counts.fromMemory + counts.missing)
            .arg(counts.fresh)
            .arg(counts.fromDisk)
            .arg(counts.fromMemory)
            .arg(counts.missing));
}

void RasterMapProvider::GetLegendsFromCache(IPersistentImageCache* diskCache,
                                            const MapConnectionPtr& connection,
                                            const std::vector<MapQueryPtr>& tiles,
                                            const AttributeMap& filtered,
                                            std::vector<MappedImageUse>& legends) {
    MappedImageCache& memory = MappedImageCache::Singleton();
    for (const MapQueryPtr& tile : tiles) {
        AttributeMap key = filtered;
        AddMissing(key, tile->GetLegendProperties());
        if (MappedImageInstancePtr found = FindInMemory(key)) {
            legends.emplace_back(found);
            return;
        }
        const auto stored = diskCache ? diskCache->Lookup(key) : nullptr;
        if (!stored || stored->GetImageObject() == nullptr) {
            continue;
        }
        const MapQueryPtr& first = tiles.front();
        auto legend = MakeRefCnt<MappedImageInstance>(
            stored->GetImageObject()->Clone(), QtImageObject::BitmapOptions(), TStr(kLegendName),
            TString(), first->GetLayerGroup(), true, false, false);
        PlaceLikeTile(*legend, *first);
        if (connection) {
            auto legendQuery = MakeRefCnt<MapQuery>(*first);
            legendQuery->SetLegendFetch(true);
            legend->SetUrl(connection->CreateMapRequestor(GetDefaultSpatialProjector(), legendQuery)
                               ->GetLegendUrl());
        }
        legends.emplace_back(legend);
        memory.Put(key, legend);
        return;
    }
}

MapQueryPtr RasterMapProvider::ComputeTilesWithWrappedQueries(const MapScaleLevel& level,
                                                              MapQueryPtr query,
                                                              std::vector<MapQueryPtr>& tiles) {
    const Rect world = ToRect(GetDefaultSpatialProjector()->GetWorldBounds());
    const double worldWidth = world.maxX - world.minX;
    Rect shifted = ToRect(query->GetBBox());

    // Whole world widths that bring the view's centre into the world.
    const double centre = (shifted.minX + shifted.maxX) / 2.0;
    double turns = 0.0;
    if (centre < world.minX || centre > world.maxX) {
        turns = std::floor((centre - world.minX) / worldWidth);
    }
    shifted.minX -= turns * worldWidth;
    shifted.maxX -= turns * worldWidth;
    const double back = turns * worldWidth;

    if (shifted.maxX - shifted.minX >= worldWidth) {
        const Rect span{world.minX, world.maxX, shifted.minY, shifted.maxY};
        MapQueryPtr result =
            ComputeTiles(level,
                         QueryLike(*query, span, query->GetWidth(), query->GetHeight(),
                                   query->GetRequestMargin(), level),
                         tiles);
        if (!result || result->GetWidth() == 0 || result->GetHeight() == 0 || tiles.empty()) {
            return result;
        }
        // At most a world either side of the view's own centre, wherever that lies.
        const double mid = (shifted.minX + shifted.maxX) / 2.0;
        double left = std::max(shifted.minX, mid - worldWidth);
        double right = std::min(shifted.maxX, mid + worldWidth);
        const double tileWidth = tiles.front()->GetBBox().Width();
        // Outwards (away from zero) to whole tiles.
        left = left < 0 ? std::floor(left / tileWidth) * tileWidth
                        : std::ceil(left / tileWidth) * tileWidth;
        right = right < 0 ? std::floor(right / tileWidth) * tileWidth
                          : std::ceil(right / tileWidth) * tileWidth;
        const Rect resultRect = ToRect(result->GetBBox());
        const Rect wide{left + back, right + back, resultRect.minY, resultRect.maxY};
        const auto width =
            static_cast<unsigned int>(std::floor((right - left) * result->GetScale() + 0.5));
        return QueryLike(*result, wide, width, result->GetHeight(), result->GetRequestMargin(),
                         level);
    }

    if (shifted.minX >= world.minX && shifted.maxX <= world.maxX) {
        MapQueryPtr result =
            ComputeTiles(level,
                         QueryLike(*query, shifted, query->GetWidth(), query->GetHeight(),
                                   query->GetRequestMargin(), level),
                         tiles);
        if (!result || back == 0.0) {
            return result;
        }
        Rect moved = ToRect(result->GetBBox());
        moved.minX += back;
        moved.maxX += back;
        return QueryLike(*result, moved, result->GetWidth(), result->GetHeight(),
                         result->GetRequestMargin(), level);
    }

    // Across one world edge: the part inside, and the part beyond moved one world back in.
    const bool crossesWest = shifted.minX < world.minX;
    const double edge = crossesWest ? world.minX : world.maxX;
    const Rect inside = crossesWest ? Rect{edge, shifted.maxX, shifted.minY, shifted.maxY}
                                    : Rect{shifted.minX, edge, shifted.minY, shifted.maxY};
    const double wrapShift = crossesWest ? worldWidth : -worldWidth;
    const Rect beyond =
        crossesWest ? Rect{shifted.minX + wrapShift, world.maxX, shifted.minY, shifted.maxY}
                    : Rect{world.minX, shifted.maxX + wrapShift, shifted.minY, shifted.maxY};
    MapQueryPtr first = ComputeTiles(
        level, QueryLike(*query, inside, query->GetWidth(), query->GetHeight(), false, level),
        tiles);
    MapQueryPtr second = ComputeTiles(
        level, QueryLike(*query, beyond, query->GetWidth(), query->GetHeight(), false, level),
        tiles);
    Rect united = ToRect(first->GetBBox());
    Rect other = ToRect(second->GetBBox());
    other.minX -= wrapShift;
    other.maxX -= wrapShift;
    united = {std::min(united.minX, other.minX), std::max(united.maxX, other.maxX),
              std::min(united.minY, other.minY), std::max(united.maxY, other.maxY)};
    united.minX += back;
    united.maxX += back;
    return QueryLike(*query, united, query->GetWidth(), query->GetHeight(),
                     query->GetRequestMargin(), level);
}
