#include "ProjectCommand.h"

#include <QProcess>
#include <gtest/gtest.h>
#include <sstream>

namespace {

struct Result {
    int status;
    std::string out;
    std::string err;
};

Result RunProject(const std::vector<std::string>& args, const std::string& input) {
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    const int status = RunProjectCommand(args, in, out, err);
    return {status, out.str(), err.str()};
}

} // namespace

TEST(ProjectCommand, ForwardAndInverseWithFullPrecision) {
    const Result forward =
        RunProject({"--projection", "webmercator"}, "180 85.0511287798066\n0,0\n");
    EXPECT_EQ(forward.status, 0);
    EXPECT_EQ(forward.out, "20037508.342789244 20037508.342789244\n0 -7.0811545516136221e-10\n");
    EXPECT_TRUE(forward.err.empty());

    const Result inverse =
        RunProject({"--projection=webmercator", "--inverse"}, "20037508.342789244 0\n");
    EXPECT_EQ(inverse.out, "180 0\n");

    const Result plate = RunProject({"--projection", "platecarree"}, "200 10\n");
    EXPECT_EQ(plate.out, "-160 10\n");
}

TEST(ProjectCommand, UnitSquareUsesTheWorldTransforms) {
    const Result forward =
        RunProject({"--projection", "platecarree", "--unit-square"}, "-180 -90\n450 0\n");
    EXPECT_EQ(forward.out, "0 0\n1.75 0.5\n");
    const Result inverse =
        RunProject({"--projection", "platecarree", "--unit-square", "--inverse"}, "1.5 0.5\n");
    EXPECT_EQ(inverse.out, "360 0\n");

    // A world without bounds has no unit square.
    for (const char* unbounded : {"identity", "albers:-96,23,29.5,45.5,6378206.44,0.08"}) {
        const Result result = RunProject({"--projection", unbounded, "--unit-square"}, "0 0\n");
        EXPECT_EQ(result.status, 2) << unbounded;
        EXPECT_TRUE(result.out.empty()) << unbounded;
        EXPECT_NE(result.err.find("--unit-square: "), std::string::npos) << result.err;
    }
}

TEST(ProjectCommand, BadLinesAreReportedWithTheirNumberAndSkipped) {
    const Result result = RunProject({"--projection", "mercator"}, "0 0\nten 20\n1 2 3\n\n0 0\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("line 2"), std::string::npos);
    EXPECT_NE(result.err.find("line 3"), std::string::npos);
    EXPECT_NE(result.err.find("line 4"), std::string::npos);
    EXPECT_EQ(result.err.find("line 1"), std::string::npos);
    EXPECT_EQ(result.err.find("line 5"), std::string::npos);
    // One output line per input line, empty where the input was bad.
    EXPECT_EQ(result.out, "0 -7.0811545516136221e-10\n\n\n\n0 -7.0811545516136221e-10\n");
}

TEST(ProjectCommand, ParametrisedProjectionsAndTheirErrors) {
    EXPECT_EQ(RunProject({"--projection", "cea:1"}, "180 90\n").out, "3.1415926535897931 1\n");
    const Result albers = RunProject(
        {"--projection", "albers:-96,23,29.5,45.5,6378206.44,0.0822718542230038", "--inverse"},
        "1e9 0\n");
    EXPECT_EQ(albers.out, "nan nan\n");
    EXPECT_EQ(albers.status, 0);

    for (const char* bad :
         {"cea:1.5", "cea", "cea:1,2", "cea:nan", "albers:1,2,3",
          "albers:-96,23,30,30,6378206.44,0.08", "webmercator:3", "lambert", "cea:x"}) {
        const Result result = RunProject({"--projection", bad}, "0 0\n");
        EXPECT_EQ(result.status, 2) << bad;
        EXPECT_TRUE(result.out.empty()) << bad;
        EXPECT_NE(result.err.find("--projection: "), std::string::npos) << bad;
    }
    EXPECT_EQ(RunProject({}, "").status, 2);
    EXPECT_EQ(RunProject({"--projection"}, "").status, 2);
    EXPECT_EQ(RunProject({"--projection", "mercator", "--fast"}, "").status, 2);
}

TEST(ProjectCommand, HelpNamesEveryProjection) {
    const Result help = RunProject({"--help"}, "");
    EXPECT_EQ(help.status, 0);
    for (const char* name : {"webmercator", "mercator", "platecarree", "identity",
                             "albers:", "cea:", "smyth", "--unit-square", "--inverse"}) {
        EXPECT_NE(help.out.find(name), std::string::npos) << name;
    }
}

TEST(LmxmapsTool, RunsItsCommandsAsAProcessAndReportsStatus) {
    QProcess tool;
    tool.start(
        QStringLiteral(LMX_TOOL_PATH),
        {QStringLiteral("project"), QStringLiteral("--projection"), QStringLiteral("smyth")});
    ASSERT_TRUE(tool.waitForStarted());
    tool.write("0 90\nnot a point\n");
    tool.closeWriteChannel();
    ASSERT_TRUE(tool.waitForFinished());
    EXPECT_EQ(tool.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(tool.exitCode(), 1);
    EXPECT_EQ(tool.readAllStandardOutput().toStdString(), "0 1.2533141373155001\n\n");
    EXPECT_TRUE(tool.readAllStandardError().contains("line 2"));

    QProcess geom;
    geom.start(QStringLiteral(LMX_TOOL_PATH), {QStringLiteral("geom"), QStringLiteral("centroid")});
    ASSERT_TRUE(geom.waitForStarted());
    geom.write("POLYGON ((0 0, 2 0, 2 2, 0 2, 0 0))\n");
    geom.closeWriteChannel();
    ASSERT_TRUE(geom.waitForFinished());
    EXPECT_EQ(geom.exitCode(), 0);
    EXPECT_EQ(geom.readAllStandardOutput(), QByteArray("POINT (1 1)\n"));

    QProcess unknown;
    unknown.start(QStringLiteral(LMX_TOOL_PATH), {QStringLiteral("fly")});
    ASSERT_TRUE(unknown.waitForFinished());
    EXPECT_EQ(unknown.exitCode(), 2);
}
