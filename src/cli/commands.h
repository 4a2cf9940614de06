// The subcommands of korvan-cli. Each registers itself on the application and stores its
// exit status (0 done, 1 input could not be used) in `exitCode` when it runs.
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace korvan::cli {

void registerInfoCommand(CLI::App& app, int& exitCode);
void registerConvertCommand(CLI::App& app, int& exitCode);
void registerDemoCommand(CLI::App& app, int& exitCode);
// union, intersection and difference.
void registerBooleanCommands(CLI::App& app, int& exitCode);
// render and mill: pictures of the scene without a display.
void registerRenderCommands(CLI::App& app, int& exitCode);
// The demo's milling run: a few frames in the current folder; skipped with a note on stderr
// where no GL context can be had.
int runDemoMilling();

// Adds --sampling F (default 0.01), parsed in the C locale, stored in g_samplingFactor.
void addSamplingOption(CLI::App& command);

// Prints a message for the user on stderr.
void printError(const std::string& message);

}  // namespace korvan::cli
