#pragma once
// Mapbox tests keep the "MapboxFetch" store in a directory of the test process's own, so that
// they never read the user's documents or each other's; their vector sources are the Mapbox
// fixture's.

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <lmxmaps/host/Options.h>
#include <lmxmaps/host/TString.h>

namespace MapboxTestSupport {

class PrivateExternalCaches : public ::testing::Environment {
public:
    void SetUp() override {
        Options::Set(QStringLiteral("ExternalCacheDirectory"), m_directory.path());
    }
    void TearDown() override { Options::Set(QStringLiteral("ExternalCacheDirectory"), {}); }

private:
    QTemporaryDir m_directory;
};

inline ::testing::Environment* const g_privateExternalCaches =
    ::testing::AddGlobalTestEnvironment(new PrivateExternalCaches);

// A vector source of the Mapbox fixture at port whose parameters path, /params/tests@TAG.json,
// only its own test asks for.
inline AttributeMap VectorSource(int port, const char* tag) {
    return {
        {QStringLiteral("class"), QStringLiteral("MapboxVector")},
        {QStringLiteral("server"), QStringLiteral("http://127.0.0.1")},
        {QStringLiteral("port"), QString::number(port)},
        {QStringLiteral("url"), QStringLiteral("styles/v1")},
        {QStringLiteral("data-url"), QStringLiteral("v4")},
        {QStringLiteral("params-url"), QStringLiteral("http://127.0.0.1:%1/params/tests@%2.json")
                                           .arg(port)
                                           .arg(QLatin1String(tag))}};
}

} // namespace MapboxTestSupport
