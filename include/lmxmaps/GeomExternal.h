#pragma once
// The runtime's external value type for geometry: a shared geometry, one generalized copy for
// the level of detail drawn last, and the compact float byte form the runtime stores.

#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include <lmxmaps/Geom.h>
#include <lmxmaps/host/Locks.h>
#include <lmxmaps/host/RuntimeValue.h>

class GeomExternal : public lrt::core::ValueExternal {
public:
    static constexpr lrt::core::ExternalTypeCode kTypeCode = 0x8001;
    static constexpr const char* kTypeName = "GeomExternal";

    using SerializeMethod = std::function<lrt::core::ByteArray(const geom::ConstGeom&)>;
    using DeserializeMethod = std::function<geom::ConstGeomPtr(const TString&)>;

    // geometry may be empty.
    explicit GeomExternal(geom::ConstGeomPtr geometry);
    static std::shared_ptr<GeomExternal> Make(geom::ConstGeomPtr geometry);

    // A new value sharing the same geometry.
    std::shared_ptr<lrt::core::ValueExternal> Clone() const override;
    // True for another GeomExternal whose ungeneralized shape is equal.
    bool IsEqual(const lrt::core::ValueExternal& other) const override;
    // Always throws LogicException: hashing shapes is not supported.
    std::size_t GetHashValue() const override;

    const geom::ConstGeomPtr& GetNonGeneralizedGeometryPtr() const { return m_geometry; }
    // The cached simplification for this level if there is one; otherwise (and for level 0)
    // the ungeneralized shape.
    geom::ConstGeomPtr GetGeometryPtr(int level) const;
    // Generalizes for level (tolerance 360 / level) and caches the result in place of any other
    // level. Safe to call from many threads sharing the value.
    void GeneralizeGeometry(int level) const;

    // Registers the type with the runtime and makes Serialize write the float byte form.
    static void Register();
    // The registered byte form of the value's full-detail geometry; empty when no serializer
    // is installed.
    static lrt::core::ByteArray Serialize(const lrt::core::ValueExternal& value);
    // Null when no deserializer is installed.
    static std::shared_ptr<GeomExternal> Deserialize(lrt::core::ArrayView bytes);
    // The float stream of the value's full-detail geometry (the byte form before it becomes
    // bytes). Raises a logic error unless the value is of the type registered as GeomExternal.
    static std::vector<float> FloatarizeUncastGeometry(const lrt::core::ValueExternal& value);
    static void SetSerializerMethodsForTest(SerializeMethod serialize,
                                            DeserializeMethod deserialize);

private:
    // Little-endian bytes of the float stream.
    static lrt::core::ByteArray ByterizeGeometry(const geom::ConstGeom& geometry);

    static SerializeMethod s_serialize;
    static DeserializeMethod s_deserialize;

    geom::ConstGeomPtr m_geometry;
    mutable std::unordered_map<std::int32_t, geom::ConstGeomPtr> m_generalized;
    mutable TReadWriteLock m_lock;
};
