#pragma once
// The exception of the map-service side: providers, connections, requestors, sources, WMS and
// Mapbox raise it, and the display turns it into warnings. Its type number tells the display
// and telemetry what went wrong.

#include <cstdint>
#include <vector>

#include <lmxmaps/host/LumivexException.h>
#include <lmxmaps/host/TString.h>

class MapProviderException : public LumivexException {
public:
    enum Type : std::int32_t {
        // The service could not be reached or answered with an unexpected HTTP status.
        eServiceUnavailable = 2,
        // The query's map scale is NaN, or a Mapbox style or tileset was not found.
        eNotFound = 3,
        // A map-source attribute set lacks "name".
        eMissingSourceName = 5,
        // No provider can be created for the "class" attribute.
        eUnknownClass = 6,
        // A fetch failed with another HTTP status or a host error.
        eFetchFailed = 8,
        // A fetched image is empty or cannot be decoded.
        eInvalidImage = 9,
        // The blank map's image file is missing.
        eBlankImageMissing = 10,
        // A local map's image file is missing.
        eLocalImageMissing = 11,
        // The server asked for proxy authentication on a tile fetch.
        eProxyAuthenticationRequired = 12,
        // A WMS server offers no usable version, format, GetMap address or layer.
        eNoUsableService = 13,
        // No server configured, a WMS service exception, or an address that is not allowed.
        eServiceError = 14,
        // A WMS tile is one transparent, white or black colour.
        eSolidColorTile = 16,
        // Access was denied.
        eAccessDenied = 17,
        // A Mapbox document is not valid JSON or lacks a required key.
        eInvalidDocument = 18,
        // The Mapbox access token was refused.
        eTokenRejected = 19,
    };

    MapProviderException(Type type, TString message, TError::ErrorInfo errorInfo);
    MapProviderException(Type type, TString message, TError::ErrorInfo errorInfo,
                         TString mapSourceName, bool shouldCloseConnection);
    // The message is the non-empty parts joined with single blanks.
    MapProviderException(Type type, const std::vector<TStringCore>& messageParts,
                         TError::ErrorInfo errorInfo);
    MapProviderException(const MapProviderException&) = default;

    // "MapProviderException_AutoGen_0x<ID>" with the id.
    static TError::ErrorInfo Site(std::uint32_t id);

    std::unique_ptr<LumivexException> Clone() const override;
    [[noreturn]] void Throw() const override;

    Type GetType() const { return m_type; }
    void SetType(Type type) { m_type = type; }
    const TString& GetMapSourceName() const { return m_mapSourceName; }
    void SetMapSourceName(const TString& name) { m_mapSourceName = name; }
    bool GetShouldCloseConnection() const { return m_shouldCloseConnection; }
    void SetShouldCloseConnection(bool value) { m_shouldCloseConnection = value; }
    bool GetDidCloseConnection() const { return m_didCloseConnection; }
    void SetDidCloseConnection(bool value) { m_didCloseConnection = value; }

    // Empty for a key that was never set.
    TString GetAttribute(const TString& key) const;
    void SetAttribute(const TString& key, const TString& value);
    std::vector<TString> GetAttributeKeys() const;

private:
    bool m_shouldCloseConnection = false;
    bool m_didCloseConnection = false;
    Type m_type;
    TString m_mapSourceName;
    AttributeMap m_attributes;
};
