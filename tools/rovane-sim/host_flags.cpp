// rovane-sim host: its command line. The script interpreter is in host_command.cpp, the script's
// reader in tools/host-script.
#include <CLI/CLI.hpp>

#include "flag_checks.h"
#include "host_command.h"
#include "host_script.h"
#include "machine_flags.h"
#include "tool_commands.h"

namespace rovane_tool {

namespace {

// The command's help below its flags: what it does, the script language (shared with the
// Windows host program), the operator and the exit codes.
std::string host_help() {
    return std::string(
               "Runs a host application's script of export calls (SCRIPT a file, or - for standard input)\n"
               "against the module in a simulated world: a QIX robot on COM1 with its recorders (their\n"
               "serial numbers stored in the settings file), 25 blank discs in each input bin, an office\n"
               "printer and a printer on FILE:, the label application installed. Prints one line per call,\n"
               "    <virtual ms> <call> -> <result>\n"
               "followed by what the call returned in its buffers (init: each selected-recorder line and\n"
               "the product name; status: the status bytes), and the message boxes and dialogs that\n"
               "were shown and answered while it ran. The Windows host program (rovane-host.exe) runs the\n"
               "same scripts against the real DLL.\n"
               "\n") +
           hs_language_help() +
           "\n"
           "The operator is the person of `run`, whose rules come after the script's answer and dialog\n"
           "lines (those are tried first, in the order the script reached them): refills an empty input\n"
           "bin (taking the finished discs off the output stacks) and presses Pick, presses Pick after\n"
           "a failed pick, un-pauses the robot, clears a robot error (Pause and Pick) and answers\n"
           "Retry, empties the reject positions and answers Retry, clears the laminator and puts a\n"
           "fallen disc back, clears a robot error or pause its panel has shown for two minutes;\n"
           "tries a robot, printer, printer tray or laminator that does not answer\n"
           "three times (Retry) and then gives up (Cancel; at once for a laminator that is not there);\n"
           "answers Retry to \"Wait for printing timed out\" and \"Wait for lamination timed out\",\n"
           "No to keeping a printer on FILE:, Yes to the input bin questions, OK to the printer\n"
           "selection dialog, Cancel to the options dialog, chooses the drives where they sit, and\n"
           "answers any other message box with its first button (OK to a notice). A window that stays\n"
           "open ten minutes stops the run with a report.\n"
           "\n"
           "Exit 0 when the script ran and the run's invariants hold; 1 on a usage or script error;\n"
           "3 when the world stopped (a window nobody answered, a deadlock, the time budget); 4 when an\n"
           "invariant broke (the seed that replays it is printed).";
}

}  // namespace

Command add_host_command(CLI::App& tool) {
    auto o = std::make_shared<HostOptions>();
    CLI::App* c = tool.add_subcommand("host", "Runs a host application's script of export calls against the module.");
    c->footer(host_help());
    c->add_option("SCRIPT", o->script_path, "the script: a file, or - for standard input")->required()->type_name("");
    c->add_option("--seed", o->seed, "the world's seed (default 1)")->type_name("N")->check(whole_number());
    add_machine_flags(c, &o->machine, false);
    add_counted_fault_flags(c, &o->machine);
    add_speed_flag(c, &o->machine);
    c->add_option("--think", o->think, "how long the operator takes before each answer, in seconds (default 1.5)")
        ->type_name("SECONDS")
        ->check(CLI::Range(0.0, 3600.0));
    c->add_flag("--wire", o->wire,
                "print the robot's commands (other than _SI) as they arrive, and each document a printer receives: "
                "\"lam TRAYIN\" (TRAYOUT, LAMINATE, HEATER) for a laminator command, 'doc \"PRINTER\" SIZE bytes "
                "HASH' for any other (HASH its FNV-1a hash), as serve prints them; at the end, the places as --places");
    c->add_flag("--places", o->places, "print 'place NAME COUNT' for every place that holds discs at the end, as serve does");
    c->add_option("--transcript", o->transcript_path, "the run's transcript, streamed to FILE")->type_name("FILE");
    c->add_option("--module-log", o->module_log_path,
                  "copy the module's log (Rovane_QIX.dbg) out of the world to FILE at the end, whatever the run came to")
        ->type_name("FILE");
    c->add_flag("--check", o->check_only,
                "read and check the script only: print each call as read (LINE CALL ARGUMENTS), run nothing");
    return {c, [o] {
        if ((o->machine.printer_disc_left || o->machine.printer_silent_at >= 0) && o->machine.printer.empty())
            return usage_error("host", "--printer-disc-left and --printer-silent-at need a disc printer (--printer NAME)");
        if (o->machine.lam_disc_left && !o->machine.laminator) return usage_error("host", "--lam-disc-left needs --laminator");
        return run_host(*o);
    }};
}

}  // namespace rovane_tool
