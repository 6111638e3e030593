// rovane-sim host: its command line. The script interpreter is in host_command.cpp.
#include <CLI/CLI.hpp>

#include "tool_commands.h"

namespace rovane_tool {

namespace {

// The command's help below its flags: what it does and the script language.
const char* const kHostHelp =
    "Runs a host application's script of export calls (SCRIPT a file, or - for standard input)\n"
    "against the module in a simulated world: a QIX robot on COM1 with its recorders (their\n"
    "serial numbers stored in the settings file), an office printer and a printer on FILE:,\n"
    "the label application installed. Prints one line per call,\n"
    "    <virtual ms> <call> -> <result>\n"
    "followed by what the call returned in its buffers (init: each selected-recorder line and\n"
    "the product name; status: the status bytes), and the message boxes and dialogs that\n"
    "were shown and answered while it ran.\n"
    "\n"
    "Message boxes with only an OK button are read and closed (after 1.5 s); every other box\n"
    "and every dialog needs an answer line, or the run stops after ten minutes with a report.\n"
    "\n"
    "Script lines:\n"
    "  # comment\n"
    "  answer PATTERN=BUTTON [once]  answer message boxes whose text contains PATTERN with\n"
    "                                OK, CANCEL, RETRY, YES, NO, ABORT or IGNORE\n"
    "  dialog ID ACTION[; ACTION]    answer the next showing of dialog ID: click CTRL,\n"
    "                                check CTRL, uncheck CTRL, select CTRL TEXT, close;\n"
    "                                each action waits until the dialog has dealt with the\n"
    "                                one before (a message box it opened answered first)\n"
    "  init HOST [LIST]              Rovane_Init; LIST is the recorder list (default: the\n"
    "                                world's), e.g. \"1,0,4,0,E,Pioneer DVD-RW DVR-112D\\r\\n\"\n"
    "  end                           Rovane_End\n"
    "  status                        Rovane_GetRoboStatus\n"
    "  options                       Rovane_Options\n"
    "  movements                     Rovane_Movements (dialogs 118 and 120, answered by dialog\n"
    "                                lines)\n"
    "  services KIND CODE            Rovane_Services\n"
    "  job begin|end|abort N         Rovane_JobBeginsOrEnds (codes 1, 2, 3) for N discs\n"
    "  job CODE N                    Rovane_JobBeginsOrEnds with that code (4: only logged)\n"
    "  move UNIT ACTION              Rovane_PostMoveDisc (100 load, 200 unload, 300 reject ...)\n"
    "  wait UNIT                     Rovane_CheckMoveDisc every 500 ms until 1 or 4\n"
    "  sleep MS                      the host waits\n"
    "  printfile PATH KIND           writes a generated print file of KIND at PATH: pellan-iv,\n"
    "                                pellan-pro, optical-disc-printer, varrow, varrow-2,\n"
    "                                tessik-6, label (a .STD design), short (31 bytes), wrong\n"
    "                                (no known header)\n"
    "  validprint ACTION FILE        Rovane_CheckValidPrint(0, ACTION, 0, FILE, 0, 0)\n"
    "  moveprint UNIT ACTION DISCNUM FILE\n"
    "                                Rovane_PostMoveAndPrint(UNIT, ACTION, 0, FILE, \"\", DISCNUM)\n"
    "                                (2000 record and print, 1000 print a blank disc ...)\n"
    "  checkprinting                 Rovane_CheckPrinting(0): 1 not printing, 2 printing,\n"
    "                                4 aborted\n"
    "Words with blanks go in double quotes; \\r \\n \\0 \\t \\\" \\\\ are escapes.\n"
    "\n"
    "Exit 0 when the script ran and the run's invariants hold; 1 on a usage or script error;\n"
    "3 when the world stopped (a window nobody answered, a deadlock, the time budget); 4 when an\n"
    "invariant broke (the seed that replays it is printed).";

}  // namespace

Command add_host_command(CLI::App& tool) {
    auto o = std::make_shared<HostOptions>();
    CLI::App* c = tool.add_subcommand("host", "Runs a host application's script of export calls against the module.");
    c->footer(kHostHelp);
    c->add_option("SCRIPT", o->script_path, "the script: a file, or - for standard input")->required()->type_name("");
    c->add_option("--seed", o->seed, "the world's seed (default 1)")->type_name("N")->check(whole_number());
    add_machine_flags(c, &o->machine, false);
    c->add_flag("--wire", o->wire, "print the robot's commands (other than _SI) as they arrive");
    c->add_flag("--transcript", o->show_transcript, "print the whole transcript at the end");
    return {c, [o] {
        if ((o->machine.printer_disc_left || o->machine.printer_silent_at >= 0) && o->machine.printer.empty())
            return usage_error("host", "--printer-disc-left and --printer-silent-at need a disc printer (--printer NAME)");
        if (o->machine.lam_disc_left && !o->machine.laminator) return usage_error("host", "--lam-disc-left needs --laminator");
        return run_host(*o);
    }};
}

}  // namespace rovane_tool
