#pragma once
// A background map as configured in a document: its name (the key in the document's
// MapNamespace), the provider behind it (copies of the source share it), per-user settings and
// a default style set.
//
// MapSourceFactory makes a source from a flat attribute set; the provider gets the set without
// "name".

#include <memory>
#include <unordered_map>

#include <lmxmaps/MapProvider.h>
#include <lmxmaps/host/RefCnt.h>
#include <lmxmaps/host/Styles.h>
#include <lmxmaps/host/TString.h>
#include <lmxmaps/host/TUUID.h>

class MapSource {
public:
    using UserInfo = std::unordered_map<TString, TString>;

    static constexpr const char16_t* attrName = u"name";
    static constexpr const char16_t* attrMapsourceFilename = u":mapsource-filename";
    // Name reserved for the offline map that ships with the product.
    static constexpr const char16_t* offlineMapsourceName = u"Offline";
    // User-attribute keys.
    static constexpr const char16_t* attrUserWashout = u"washout";
    static constexpr const char16_t* attrUserWrap = u"wrap";

    // A new id, the host's default style set, and inline when the provider's "inline" is
    // exactly "true".
    MapSource(TString name, std::shared_ptr<MapProvider> provider);
    // The same id and provider; a copy of the style set and of the user attributes.
    MapSource(const MapSource& other);
    MapSource& operator=(const MapSource&) = delete;
    virtual ~MapSource();

    virtual std::shared_ptr<MapProvider> GetMapProvider() const;
    virtual std::shared_ptr<MapProvider> GetRootProvider() const;
    virtual TString GetName() const;
    virtual bool GetInline() const;
    virtual bool IsConnected() const;
    // Logs the connect with the provider's attributes (secrets masked) and connects the
    // provider. A MapProviderException leaves with this source's name.
    virtual void Connect();
    virtual void Disconnect();
    // Disconnects and connects again; failures as for Connect.
    virtual void ResetConnection();
    virtual bool HasConnectUI() const;
    virtual bool ShowDetailedErrors() const;
    // LogicException when there is no style set.
    virtual IStyles& GetDefaults() const;
    virtual void SetDefaults(RefCntPtr<IStyles> defaults);
    // The font size and scale factor of the attribution text.
    virtual void GetCopyrightFont(int& size, float& factor) const;
    virtual void SetUserAttribute(const TString& key, const TString& value);
    // Empty when absent.
    virtual TString GetUserAttribute(const TString& key) const;
    virtual bool HasUserAttribute(const TString& key) const;
    virtual const UserInfo& GetUserInfo() const;
    virtual void SetUserInfo(const UserInfo& userInfo);

    const TUUID& GetId() const { return m_id; }
    void SetName(TString name) { m_name = std::move(name); }
    const TString& GetFilename() const { return m_filename; }
    void SetFilename(TString filename) { m_filename = std::move(filename); }
    void SetInline(bool isInline) { m_inline = isInline; }
    bool IsModified() const { return m_modified; }
    void SetModified(bool modified) { m_modified = modified; }

    // False while not connected or without a provider.
    bool CanReplaceWithSecureConnection();
    bool ShouldUserBeWarnedAboutInsecureConnection();
    void DisallowFurtherWarningsAboutInsecureConnection();

    // Equal names and equal providers (both missing, or MapProvider::operator==).
    bool operator==(const MapSource& other) const;
    bool operator!=(const MapSource& other) const { return !(*this == other); }

private:
    // The provider, or a LogicException when there is none.
    MapProvider& RequireProvider() const;

    TUUID m_id;
    TString m_name;
    TString m_filename;
    bool m_modified = false;
    bool m_inline = false;
    RefCntPtr<IStyles> m_defaults;
    std::shared_ptr<MapProvider> m_provider;
    UserInfo m_userInfo;
};

// A new source from an attribute set. Throws MapProviderException of type eMissingSourceName
// without "name", and what MapProvider::Create throws for the provider.
std::shared_ptr<MapSource> MapSourceFactory(const AttributeMap& attributes);
