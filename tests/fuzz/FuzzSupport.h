#pragma once
// Set-up the fuzz targets share.
#include <QString>
#include <initializer_list>
#include <memory>
#include <utility>

#include <lmxmaps/MapboxCaching.h>
#include <lmxmaps/MapboxParams.h>
#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/TLog.h>

namespace FuzzSupport {

using OptionList = std::initializer_list<std::pair<const char*, const char*>>;

// Logging off (every refused input would log why), then the target's own options.
inline void SetOptions(OptionList options = {}) {
    Options::Set(QStringLiteral("LogLevel"), QStringLiteral("off"));
    for (const auto& [name, value] : options)
        Options::Set(QString::fromLatin1(name), QString::fromLatin1(value));
    TLog::ReloadOptions();
}

inline const QString kMapboxParamsUrl = QStringLiteral("http://127.0.0.1:1/fuzz/params.json");

// Mapbox parameters that name one style or tileset, registered under kMapboxParamsUrl; nothing
// is stored on disk, no connection is tried and a failed fetch is not retried.
inline std::shared_ptr<MapboxParams> OfflineMapboxParams(const QString& catalogue) {
    SetOptions({{"ExternalCacheDirectory", ""},
                {"ForceNoConnectionMap", "true"},
                {"HttpRetryAttempts", "0"}});
    const QString document = QStringLiteral(R"({"access_token": {"token": "pk.fuzz.token"},
        "mapbox_account": "lumivex", %1})")
                                 .arg(catalogue);
    return MapboxParams::CreateTestInstance(kMapboxParamsUrl,
                                            [document](const TString&) { return document; });
}

// The document a Mapbox connection reads from its fetch cache after its fetch failed.
inline TString g_servedDocument;

class ServedDocument final : public MapboxCaching::IFetchCache {
public:
    TString Get(const TString&) override { return g_servedDocument; }
    void Put(const TString&, const TString&) override {}
};

} // namespace FuzzSupport
