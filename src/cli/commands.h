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

// Adds --sampling F (default 0.01), parsed in the C locale, stored in g_samplingFactor.
void addSamplingOption(CLI::App& command);

// Prints a message for the user on stderr.
void printError(const std::string& message);

}  // namespace korvan::cli
