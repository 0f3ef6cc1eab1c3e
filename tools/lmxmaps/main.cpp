// lmxmaps: command-line front of the maps library.

#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

#include <lmxmaps/Version.h>

#include "ExitCodes.h"
#include "GeomCommand.h"
#include "LayersCommand.h"
#include "ProjectCommand.h"
#include "RenderCommand.h"
#include "WmsLayersCommand.h"

#if defined(__SANITIZE_ADDRESS__)
// Qt 5's offscreen platform (render's default) never frees the screen, cursor and integration
// objects it makes with the application, and Mesa's GL driver keeps what it allocates until the
// process ends. Telling those apart from a leak of ours needs full stacks (Qt and Mesa have no
// frame pointers), and the slow unwinder deadlocks in libgcc against QMapboxGL's threads. So the
// tool runs without leak checking; the library's own leaks are checked by its test programs.
extern "C" const char* __asan_default_options() {
    return "detect_leaks=0";
}
#endif
#if defined(__SANITIZE_THREAD__)
// Qt's thread pool and wait conditions allocate and free on behalf of several threads behind
// locks ThreadSanitizer cannot see inside the uninstrumented library.
extern "C" const char* __tsan_default_options() {
    return "ignore_noninstrumented_modules=1";
}
#endif

namespace {

void PrintUsage(std::ostream& out) {
    out << "lmxmaps " << LMX_VERSION_STRING << ": maps from the command line\n"
        << "\n"
        << "usage: lmxmaps COMMAND [OPTIONS]\n"
        << "\n"
        << "Commands:\n"
        << "  geom        plump, generalize, unite or find centroids of WKT geometries\n"
        << "  layers      list the feature and data layers of a map source\n"
        << "  project     project longitude/latitude points (or back) with a map projection\n"
        << "  render      draw one map view of a map source to a PNG\n"
        << "  wms-layers  list the layers a WMS server offers\n"
        << "\n"
        << "Run 'lmxmaps COMMAND --help' for a command's options.\n";
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        PrintUsage(args.empty() ? std::cerr : std::cout);
        return args.empty() ? ExitCode::kUsage : ExitCode::kSuccess;
    }
    if (args[0] == "--version") {
        std::cout << "lmxmaps " << LMX_VERSION_STRING << "\n";
        return ExitCode::kSuccess;
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "geom") {
        std::ios::sync_with_stdio(false);
        return RunGeomCommand(rest, std::cin, std::cout, std::cerr);
    }
    if (args[0] == "layers") {
        return RunLayersCommand(rest, std::cout, std::cerr);
    }
    if (args[0] == "project") {
        std::ios::sync_with_stdio(false);
        return RunProjectCommand(rest, std::cin, std::cout, std::cerr);
    }
    if (args[0] == "render") {
        return RunRenderCommand(rest, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
    }
    if (args[0] == "wms-layers") {
        return RunWmsLayersCommand(rest, std::cout, std::cerr);
    }
    std::cerr << "lmxmaps: unknown command '" << args[0] << "'\n";
    PrintUsage(std::cerr);
    return ExitCode::kUsage;
}
