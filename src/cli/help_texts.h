// Croatian texts for what the argument library prints itself: the help's headings, the help
// and version flags, and its error messages.
#pragma once

#include <string>

namespace CLI {
class App;
class Error;
}  // namespace CLI

namespace korvan::cli {

// Call once every command is registered: relabels the help of `app` and of all its commands
// and makes their usage errors Croatian.
void applyCroatianTexts(CLI::App& app);

// The library's English error text in Croatian (names and values it quotes stay as they are).
std::string croatianErrorText(const std::string& english);

}  // namespace korvan::cli
