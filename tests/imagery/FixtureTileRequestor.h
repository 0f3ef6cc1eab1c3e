#pragma once
// A map requestor that fetches one image from the loopback fixture server, as a tile requestor
// does: GET over HTTP, decode, and failures turned into MapProviderExceptions.

#include <lmxmaps/MapProviderException.h>
#include <lmxmaps/MapRequestor.h>
#include <lmxmaps/host/net/HTTPRequestor.h>

#include "FixtureServer.h"

class FixtureTileRequestor : public MapRequestor {
public:
    // rejectSolid: a single-colour image fails as a solid-colour tile.
    FixtureTileRequestor(const MapQueryPtr& query, const FixtureServer& server, QString path,
                         bool rejectSolid = false)
        : MapRequestor(query), m_port(server.Port()), m_path(std::move(path)),
          m_rejectSolid(rejectSolid) {}

    TString GetResultUrl() const override { return m_resultUrl; }

    RefCntPtr<MapRequestor> Clone() const override {
        return RefCntPtr<MapRequestor>(new FixtureTileRequestor(*this));
    }

protected:
    void ExecuteImpl() override {
        const RefCntPtr<BinaryHTTPRequestor> request = MakeRefCnt<BinaryHTTPRequestor>(
            QStringLiteral("127.0.0.1"), m_port, QStringLiteral("GET"),
            HTTPRequest::RequestInfo(m_path));
        request->SetShowAuthenticationUI(IsShowAuthUI());
        request->SetOuterTask(this);
        m_resultUrl = request->GetFullUrl();
        try {
            request->Execute();
            std::vector<unsigned char> bytes;
            request->GetBytes(bytes, true);
            std::unique_ptr<QtImageObject> image = QtImageObject::FromEncoded(QByteArray(
                reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size())));
            ThrowIfCancelled();
            if (!image || !image->IsValid()) {
                SetError(true);
                throw MapProviderException(MapProviderException::eInvalidImage,
                                           QStringLiteral("not an image"),
                                           MapProviderException::Site(1));
            }
            if (m_rejectSolid && image->GetSolidColor()) {
                throw MapProviderException(MapProviderException::eSolidColorTile,
                                           QStringLiteral("solid colour"),
                                           MapProviderException::Site(2));
            }
            SetResult(std::move(image));
        } catch (...) {
            HandleException(m_resultUrl);
        }
    }

private:
    FixtureTileRequestor(const FixtureTileRequestor& other)
        : MapRequestor(other.GetQuery()), m_port(other.m_port), m_path(other.m_path),
          m_rejectSolid(other.m_rejectSolid) {}

    unsigned int m_port;
    QString m_path;
    bool m_rejectSolid;
    TString m_resultUrl;
};
