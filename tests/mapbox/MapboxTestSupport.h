#pragma once
// Mapbox tests keep the "MapboxFetch" store in a directory of the test process's own, so that
// they never read the user's documents or each other's.

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <lmxmaps/host/Options.h>

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

} // namespace MapboxTestSupport
