#include "tools/common/cli.h"
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <unistd.h>
#include "tools/common/toolkit.h"

#ifndef TUMBLE_VERSION
#error "TUMBLE_VERSION comes from tools/CMakeLists.txt"
#endif

namespace {

// The last word on anything the tools do not handle themselves: a message
// and exit 1, the temporary files gone, never an abort.
[[noreturn]] void uncaught() {
    try {
        if (const std::exception_ptr e = std::current_exception())
            std::rethrow_exception(e);
        toolError("stopped by an unexpected error");
    } catch (const std::bad_alloc&) {
        toolError("out of memory");
    } catch (const std::exception& e) {
        toolError("%s", e.what());
    } catch (...) {
        toolError("stopped by an unexpected error");
    }
    removeTempFiles();
    std::fflush(nullptr);
    _exit(EXIT_FAILED);
}

}  // namespace

void cliSetup(CLI::App& app, const char* name) {
    toolName = name;
    std::set_terminate(uncaught);
    app.name(name);
    app.set_version_flag("--version", std::string(name) + " " + TUMBLE_VERSION, "Print the version and exit");
}

int usageError(const std::string& message) {
    std::fprintf(stderr, "%s: %s\nRun with --help for more information.\n", toolName, message.c_str());
    return EXIT_USAGE;
}

int cliParse(CLI::App& app, int argc, char** argv) {
    // CLI11 reports through exceptions; they stop here.
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e) == 0 ? EXIT_OK : EXIT_USAGE;
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e) == 0 ? EXIT_OK : EXIT_USAGE;
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e) == 0 ? EXIT_OK : EXIT_USAGE;
    } catch (const CLI::ParseError& e) {
        return usageError(e.what());
    }
    return -1;
}

CLI::Validator wholeNumber(int64_t low, int64_t high) {
    const std::string range = std::to_string(low) + " to " + std::to_string(high);
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            errno = 0;
            char* end = nullptr;
            const long long v = std::strtoll(text.c_str(), &end, 10);
            if (errno || end == text.c_str() || *end || v < low || v > high)
                return "bad value '" + text + "': want a whole number from " + range;
            return "";
        },
        "INT in " + range);
}

CLI::Validator secondsUpTo(double high) {
    char limit[32];
    std::snprintf(limit, sizeof limit, "%g", high);
    const std::string range = std::isinf(high) ? std::string("above 0") : std::string("above 0 up to ") + limit;
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            errno = 0;
            char* end = nullptr;
            const double v = std::strtod(text.c_str(), &end);
            if (errno || end == text.c_str() || *end || !std::isfinite(v) || !(v > 0.0) || v > high)
                return "bad value '" + text + "': want a number of seconds " + range;
            return "";
        },
        "SECONDS " + range);
}

double longestSeconds(uint64_t most, double perSecond) {
    double s = std::floor(static_cast<double>(most) / perSecond * 100.0) / 100.0;
    while (static_cast<uint64_t>(std::llround(s * perSecond)) > most)
        s -= 0.01;
    return s;
}
