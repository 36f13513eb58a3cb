// The command line every tool shares: --help on stdout, --version, --opt value
// and --opt=value, exit 0 ok / 1 failure / 2 usage.
#pragma once
#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>

enum { EXIT_OK = 0, EXIT_FAILED = 1, EXIT_USAGE = 2 };

// Names the tool (also for toolError) and adds --version.
void cliSetup(CLI::App& app, const char* name);

// -1 when the tool goes on; otherwise its exit code, the message printed.
int cliParse(CLI::App& app, int argc, char** argv);

// "NAME: message" and a pointer to --help on stderr; returns EXIT_USAGE.
int usageError(const std::string& message);

// Values CLI11 checks with messages that name the bad value.
CLI::Validator wholeNumber(int64_t low, int64_t high);
CLI::Validator secondsUpTo(double high);   // HUGE_VAL: no upper limit

// The longest length in seconds, to two decimals, whose count of units at
// perSecond (rounded to the nearest) is at most `most`.
double longestSeconds(uint64_t most, double perSecond);
