// korvan-cli: the Boolean engine without a window.
#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "cli/help_texts.h"
#include "cli/interrupt.h"
#include "heap/program_heap.h"

int main(int argc, char** argv) {
    korvan::cli::installSignalHandlers();
    korvan::setUpProgramHeap();
    CLI::App app{"Korvan: unija, presjek i razlika zatvorenih mreza trokuta"};
    app.require_subcommand(1);
    app.set_version_flag("--version", "korvan-cli 0.1.0");

    int exitCode = 0;
    korvan::cli::registerInfoCommand(app, exitCode);
    korvan::cli::registerConvertCommand(app, exitCode);
    korvan::cli::registerDemoCommand(app, exitCode);
    korvan::cli::registerBooleanCommands(app, exitCode);
    korvan::cli::registerRenderCommands(app, exitCode);
    korvan::cli::registerCncCommand(app, exitCode);
    // Last: the texts of every registered command and option.
    korvan::cli::applyCroatianTexts(app);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return 2;
    }
    // A report that did not reach its reader is a failure (a full disk, a closed pipe), unless
    // the command failed or was stopped already.
    if (exitCode == 0 && !korvan::cli::flushStandardOutput()) {
        return 1;
    }
    return exitCode;
}
