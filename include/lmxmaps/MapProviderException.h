#pragma once
// Thrown for anything that goes wrong while talking to a map service (providers, connections,
// requestors, sources, WMS, Mapbox). Callers show it to the user as warnings; the Type says
// which kind of failure it was, for the display and for telemetry.

#include <cstdint>
#include <vector>

#include <lmxmaps/host/LumivexException.h>
#include <lmxmaps/host/TString.h>

class MapProviderException : public LumivexException {
public:
    enum Type : std::int32_t {
        // Unreachable, or an HTTP status the fetch did not expect.
        eServiceUnavailable = 2,
        // A Mapbox style or tileset does not exist, or a view's scale came out NaN.
        eNotFound = 3,
        // MapSourceFactory was given no "name".
        eMissingSourceName = 5,
        // Nothing is registered for the source's "class".
        eUnknownClass = 6,
        // Any other HTTP or host failure during a fetch.
        eFetchFailed = 8,
        // The fetched bytes are empty or not a readable image.
        eInvalidImage = 9,
        // No image file for the blank provider.
        eBlankImageMissing = 10,
        // No image file for the local provider.
        eLocalImageMissing = 11,
        // A tile fetch got 407 from a proxy.
        eProxyAuthenticationRequired = 12,
        // The WMS capabilities leave nothing to use: version, image format, GetMap address or
        // layers.
        eNoUsableService = 13,
        // No server configured, a WMS service exception, or an address that is not allowed.
        eServiceError = 14,
        // A WMS tile is one transparent, white or black colour.
        eSolidColorTile = 16,
        // Access was denied.
        eAccessDenied = 17,
        // A Mapbox document is malformed JSON or misses a key we need.
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

    // Empty string for keys never set.
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
