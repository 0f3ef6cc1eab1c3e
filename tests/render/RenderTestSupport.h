#pragma once
// Vector render tests need an X display (a private Xvfb when there is none), a QGuiApplication
// and off-screen OpenGL, made once per test process.

#include <QGuiApplication>
#include <gtest/gtest.h>
#include <memory>

#include <lmxmaps/MapRenderer.h>
#include <lmxmaps/host/HeadlessDisplay.h>

namespace RenderTestSupport {

class GuiEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        TString error;
        ASSERT_TRUE(HeadlessDisplay::EnsureDisplay(error)) << error.toStdString();
        static int argc = 1;
        static char name[] = "lmx_render_tests";
        static char* argv[] = {name, nullptr};
        m_application = std::make_unique<QGuiApplication>(argc, argv);
        MapRenderer::Initialize();
    }
    void TearDown() override { m_application.reset(); }

private:
    std::unique_ptr<QGuiApplication> m_application;
};

inline ::testing::Environment* const g_guiEnvironment =
    ::testing::AddGlobalTestEnvironment(new GuiEnvironment);

} // namespace RenderTestSupport
