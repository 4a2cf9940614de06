#include "cli/help_texts.h"

#include <CLI/CLI.hpp>

#include <array>
#include <regex>
#include <utility>

namespace korvan::cli {
namespace {

const char* const kHelpText = "Ispisuje ovu pomoc i izlazi";

// Whole messages first, where the order of words changes.
const std::array<std::pair<const char*, const char*>, 5> kPatterns = {{
    {R"(^(.*: )?Check (.*) value in (.*) FAILED$)", "$1vrijednost $2 nije iz $3"},
    {R"(^(.*: )?Value (.*) not in range (.*) to (.*)$)",
     "$1vrijednost $2 nije u rasponu od $3 do $4"},
    {R"(^A subcommand is required$)", "Potrebna je naredba"},
    {R"(^(.*): (\d+) required (.*) missing$)", "$1: nedostaje vrijednost ($3)"},
    {R"(^Requires at least (\d+) subcommands?$)", "Potrebna je naredba (barem $1)"},
}};

// Then the pieces of the other messages.
const std::array<std::pair<const char*, const char*>, 16> kPieces = {{
    {"The following arguments were not expected: ", "Neocekivani argumenti: "},
    {"The following argument was not expected: ", "Neocekivani argument: "},
    {"Could not convert: ", "Nije moguce pretvoriti: "},
    {" is not an allowed value for ", " nije dozvoljena vrijednost za "},
    {"Expected exactly ", "Ocekuje se tocno "},
    {"Expected at least ", "Ocekuje se barem "},
    {" arguments to ", " argumenata za "},
    {", got ", ", dobiveno "},
    {" required but received ", " potrebno, dobiveno "},
    {" was given a disallowed flag override", " ne prima vrijednost"},
    {" is required", " je obavezan"},
    {" requires ", " trazi "},
    {" excludes ", " iskljucuje "},
    {" not in ", " nije jedno od "},
    {"Runtime error", "Greska u izvodenju"},
    {" OR ", " ili "},
}};

const std::array<std::pair<const char*, const char*>, 6> kValidatorWords = {{
    {"value in {", "vrijednost iz {"},
    {" OR ", " ili "},
    {"INT", "CIJELI_BROJ"},
    {"FLOAT", "BROJ"},
    {"TEXT", "TEKST"},
    {" in [", " u ["},
}};

std::string croatianFailureMessage(const CLI::App* app, const CLI::Error& e) {
    std::string text = "Greska: " + croatianErrorText(e.what()) + "\n";
    if (app != nullptr && app->get_help_ptr() != nullptr) {
        text += "Za pomoc: " + app->get_help_ptr()->get_name() + "\n";
    }
    return text;
}

const char* croatianTypeName(const std::string& type) {
    if (type == "TEXT") {
        return "TEKST";
    }
    if (type == "INT" || type == "UINT") {
        return "CIJELI_BROJ";
    }
    if (type == "FLOAT") {
        return "BROJ";
    }
    return nullptr;
}

void relabel(CLI::App& command) {
    command.set_help_flag("-h,--help", kHelpText);
    command.failure_message(croatianFailureMessage);
    for (CLI::Option* option : command.get_options()) {
        if (option->get_group() == "Options") {
            option->group("Opcije");
        }
        const std::string full = option->get_type_name();
        const size_t colon = full.find(':');
        if (colon != std::string::npos) {
            // The check's own description follows the type: "INT in [1 - 1000]".
            CLI::Validator* check = option->get_validator(0);
            std::string text = check->get_description();
            for (const auto& [from, to] : kValidatorWords) {
                for (size_t at = text.find(from); at != std::string::npos;
                     at = text.find(from, at)) {
                    text.replace(at, std::string(from).size(), to);
                    at += std::string(to).size();
                }
            }
            check->description(text);
        }
        if (const char* type = croatianTypeName(full.substr(0, colon))) {
            option->type_name(type);
        }
    }
    for (CLI::App* sub : command.get_subcommands({})) {
        if (sub->get_group() == "Subcommands") {
            sub->group("Naredbe");
        }
        relabel(*sub);
    }
}

CLI::App* subcommandNamed(CLI::App& app, const std::string& name) {
    for (CLI::App* sub : app.get_subcommands({})) {
        if (sub->get_name() == name) {
            return sub;
        }
    }
    return nullptr;
}

}  // namespace

std::string croatianErrorText(const std::string& english) {
    std::string text = english;
    for (const auto& [pattern, replacement] : kPatterns) {
        const std::regex re(pattern);
        if (std::regex_match(english, re)) {
            text = std::regex_replace(english, re, replacement);
            break;
        }
    }
    for (const auto& [from, to] : kPieces) {
        const std::string f = from;
        for (size_t at = text.find(f); at != std::string::npos; at = text.find(f, at)) {
            text.replace(at, f.size(), to);
            at += std::string(to).size();
        }
    }
    return text;
}

void applyCroatianTexts(CLI::App& app) {
    auto formatter = app.get_formatter();
    formatter->label("Usage", "Uporaba");
    formatter->label("OPTIONS", "OPCIJE");
    formatter->label("SUBCOMMAND", "NAREDBA");
    formatter->label("SUBCOMMANDS", "NAREDBE");
    formatter->label("Positionals", "Argumenti");
    formatter->label("REQUIRED", "OBAVEZNO");
    formatter->label("Needs", "Treba");
    formatter->label("Excludes", "Iskljucuje");
    formatter->label("Env", "Varijabla okruzenja");
    relabel(app);
    if (CLI::Option* version = app.get_option_no_throw("--version")) {
        version->description("Ispisuje inacicu programa i izlazi");
    }
    // Texts of commands registered elsewhere that the help would otherwise get wrong.
    if (CLI::App* mill = subcommandNamed(app, "mill")) {
        for (const char* axis : {"--x", "--y", "--z"}) {
            if (CLI::Option* motion = mill->get_option_no_throw(axis)) {
                motion->type_name("lin:KORAK|sin:AMPLITUDA,KUT,INKREMENT");
            }
        }
    }
    if (CLI::App* render = subcommandNamed(app, "render")) {
        if (CLI::Option* colored = render->get_option_no_throw("--colored")) {
            colored->description("Obojeni materijali");
        }
    }
}

}  // namespace korvan::cli
