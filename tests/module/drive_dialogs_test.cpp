// The "Choose Drives" dialogs as the operator meets them: what they show, the choices and their
// messages, the labels and settings they leave behind, and the Open/Close buttons.
#include <windows.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "foundation/settings.h"
#include "resources/resource.h"
#include "robot/robo_status.h"
#include "setup/host_engine.h"
#include "setup/recorders.h"
#include "setup/tray_control.h"
#include "support/dialog_hands.h"
#include "support/module_world.h"
#include "support/module_state.h"
#include "win32/components.h"
#include "win32/ui.h"
#include "world/operator.h"

namespace {

using sim_test::checked;
using sim_test::run_ok;
using sim_test::SeenBox;
using sim_test::wait_closed;
using sim_test::wait_for_dialog;

// Clicks and gives the dialog a moment; a click that opens a message box returns once the
// operator's rule has answered it.
void click(sim::World& world, HWND dlg, int id) {
    ASSERT_TRUE(sim_test::act(world, dlg, sim::DialogAction::click(id))) << "dialog closed before click on " << id;
}
bool visible(sim::World& world, HWND dlg, int id) { return world.ui().control(dlg, id)->visible; }
std::string text(sim::World& world, HWND dlg, int id) { return world.ui().control(dlg, id)->text; }

// --- a job-processor library that records the tray calls --------------------------------------

struct DqCall {
    LONG unit, direction;
    bool operator==(const DqCall& o) const { return unit == o.unit && direction == o.direction; }
};
void PrintTo(const DqCall& c, std::ostream* os) { *os << "{unit " << c.unit << ", direction " << c.direction << "}"; }
std::vector<DqCall> g_dq_calls;

extern "C" LONG WINAPI fake_dq_open_close_tray(LONG, LONG unit, LONG direction) {
    g_dq_calls.push_back({unit, direction});
    return 0;
}

void prepare(sim::World& world, BYTE recorders_reported) {
    sim_test::prepare_module(world);
    world.components().add_library("Dorquel.dll",
                                   {{"DQ_OpenCloseTray", 0, reinterpret_cast<void*>(&fake_dq_open_close_tray)}});
    sim_test::with_recorders_on_the_robot(recorders_reported);
    SetHostFacts("VeltoDVD", NULL, 0);
}

const int L = IDC_DRIVE_LEFT_FIRST, R = IDC_DRIVE_RIGHT_FIRST, OC = IDC_DRIVE_OPEN_CLOSE_FIRST;
const int RT = IDC_DRIVE_RIGHT_TOP_FIRST, RB = IDC_DRIVE_RIGHT_BOTTOM_FIRST, LT = IDC_DRIVE_LEFT_TOP_FIRST,
          LB = IDC_DRIVE_LEFT_BOTTOM_FIRST;

// ---------------------------------------------------------------------------------------------
// Two-drive dialog.

// One world, four showings: a two-recorder unit (LEFT and RIGHT), then a single-recorder unit
// (one SELECT column) shown twice, then the four-drive dialog; the Open/Close flags carry over.
TEST(TwoDriveDialog, OneLeftNoRightAsksForOneMoreSingleRecorderUnitSelectsOneAndTrayFlagsOutliveTheDialog) {
    sim::World world(sim_test::config());
    prepare(world, 2);
    std::vector<SeenBox> seen;  // their texts, and the dialog's caption: tests/scenarios/startup-two-drive-dialog
    sim_test::answer_boxes(world, seen, "", IDOK);
    std::vector<int> results;
    world.spawn("host", [&] {
        ClearRecorders();
        AddRecorder(3, 0, 1, 0, 'E', "PIONEER DVD-RW DVR-112D");
        AddRecorder(4, 0, 1, 1, 'F', "LITE-ON DVDRW SHM-165P6S");
        AddRecorder(7, 0, 2, 0, 'G', "HL-DT-ST DVDRAM GH22NS50");
        results.push_back(ChooseTwoDrives());
        EXPECT_STREQ(g_Recorders[0].szDescription, "Duplicator Drive RIGHT (E:)");
        EXPECT_FALSE(g_Recorders[1].fSelected);
        EXPECT_STREQ(g_szPosition[1].szPosition, "") << "a row left without a choice keeps no position";
        EXPECT_STREQ(g_Recorders[2].szDescription, "Duplicator Drive LEFT (G:)");
        EXPECT_EQ(sim_test::rows_at_abcd(), std::vector<int>({0, 2, 0, 0}));
        EXPECT_EQ(seen.size(), 2u);

        sim_test::with_recorders_on_the_robot(1);
        results.push_back(ChooseTwoDrives());
        EXPECT_EQ(g_Recorders[1].bTrayState, TRAY_STATE_OPEN_EMPTY);
        EXPECT_STREQ(g_Recorders[1].szDescription, "Duplicator Drive 1 (F:)");
        EXPECT_FALSE(g_Recorders[0].fSelected || g_Recorders[2].fSelected) << "OK decides anew";
        results.push_back(ChooseTwoDrives());
        results.push_back(ChooseFourDrives());
    });
    world.spawn("operator", [&] {
        HWND dlg = wait_for_dialog(world, IDD_CHOOSE_TWO_DRIVES);
        EXPECT_EQ(text(world, dlg, IDC_DRIVE_ROW_TEXT_FIRST + 2), "Recorder at Host:2 ID:0   HL-DT-ST DVDRAM GH22NS50");
        for (int i = 0; i < 3; ++i)
            EXPECT_TRUE(visible(world, dlg, OC + i) && visible(world, dlg, R + i) && visible(world, dlg, L + i)) << i;
        EXPECT_FALSE(visible(world, dlg, R + 3)) << "no fourth recorder";
        EXPECT_TRUE(visible(world, dlg, IDC_LEFT_HEADING)) << "two recorders: a LEFT column";
        EXPECT_EQ(text(world, dlg, IDC_RIGHT_HEADING), "RIGHT");

        click(world, dlg, IDC_DRIVES_OK);  // none chosen, then one: each asks (startup-two-drive-dialog)
        click(world, dlg, L + 1);
        EXPECT_EQ(RecorderRowAt('B'), 1) << "the position is given at the click";
        click(world, dlg, IDC_DRIVES_OK);
        ASSERT_EQ(world.ui().find_dialog(IDD_CHOOSE_TWO_DRIVES), dlg) << "the dialog stays open";
        click(world, dlg, R + 1);
        EXPECT_FALSE(checked(world, dlg, L + 1)) << "RIGHT on the same row clears its LEFT";
        click(world, dlg, L + 2);
        click(world, dlg, R + 0);
        EXPECT_FALSE(checked(world, dlg, R + 1)) << "the RIGHT column holds one row";
        click(world, dlg, IDC_DRIVES_OK);
        wait_closed(world, IDD_CHOOSE_TWO_DRIVES, dlg);

        dlg = wait_for_dialog(world, IDD_CHOOSE_TWO_DRIVES);
        EXPECT_EQ(text(world, dlg, IDC_DRIVE_PROMPT), "Choose the drive in your Optical Disc Duplicator.");
        EXPECT_EQ(text(world, dlg, IDC_DRIVE_HINT),
                  "If you are unsure, try each Open/Close button to determine the proper drive.");
        EXPECT_EQ(text(world, dlg, IDC_RIGHT_HEADING), "SELECT");
        EXPECT_FALSE(visible(world, dlg, IDC_LEFT_HEADING) || visible(world, dlg, L + 0)) << "no LEFT column";
        EXPECT_FALSE(checked(world, dlg, R + 0)) << "shown again, nothing is checked";
        click(world, dlg, L + 0);
        EXPECT_FALSE(checked(world, dlg, L + 0)) << "a hidden button ignores clicks";
        click(world, dlg, OC + 1);  // opens
        click(world, dlg, R + 1);
        click(world, dlg, IDC_DRIVES_OK);
        wait_closed(world, IDD_CHOOSE_TWO_DRIVES, dlg);

        dlg = wait_for_dialog(world, IDD_CHOOSE_TWO_DRIVES);
        click(world, dlg, OC + 1);
        EXPECT_EQ(g_Recorders[1].bTrayState, TRAY_STATE_CLOSED_EMPTY) << "closes: the tray was left open";
        click(world, dlg, OC + 1);  // opens again
        click(world, dlg, OC + 0);  // opens
        click(world, dlg, OC + 3);  // no such row: hidden, ignored
        click(world, dlg, R + 0);
        world.ui().close(dlg);  // the close box cancels
        wait_closed(world, IDD_CHOOSE_TWO_DRIVES, dlg);

        dlg = wait_for_dialog(world, IDD_CHOOSE_FOUR_DRIVES);
        click(world, dlg, OC + 1);  // opens: this dialog keeps flags of its own
        click(world, dlg, IDC_DRIVES_CANCEL);
    });
    run_ok(world);
    EXPECT_EQ(results, std::vector<int>({1, 1, 0, 0}));
    EXPECT_EQ(seen.size(), 2u) << "the single-recorder unit asked nothing";
    EXPECT_TRUE(g_Recorders[1].fSelected);
    EXPECT_EQ(RecorderRowAt('A'), 0) << "the cancelled click gave the position; OK did not decide";
    EXPECT_EQ(g_dq_calls,
              std::vector<DqCall>({{4, DQ_TRAY_OPEN}, {4, DQ_TRAY_CLOSE}, {4, DQ_TRAY_OPEN}, {3, DQ_TRAY_OPEN},
                                   {4, DQ_TRAY_OPEN}}));
    EXPECT_EQ(g_Recorders[0].bTrayState, TRAY_STATE_OPEN_EMPTY);
    EXPECT_NE(g_dwTrayTick[0], 0u);
}

// ---------------------------------------------------------------------------------------------
// Four-drive dialog.

TEST(FourDriveDialog, ThreeRowsChosenOnAFourDriveUnitAsksRetryAndCancelAcceptsThem) {
    sim::World world(sim_test::config());
    prepare(world, 4);
    // The first count message is answered Retry, the second Cancel. (Its text and looks, and the
    // dialog's caption: tests/scenarios/startup-17-recorders and startup-four-drive-dialog.)
    std::vector<SeenBox> seen;
    sim_test::answer_boxes(world, seen, "proper number of drives", IDRETRY).times(1);
    sim_test::answer_boxes(world, seen, "proper number of drives", IDCANCEL);
    int result = -1;
    std::vector<std::string> keys;
    world.spawn("host", [&] {
        sim_test::with_external_recorders({"SNA", "", "  SN0042", "SND", "SNX"});
        sim_test::with_recorder_selected(4);  // as if mapped automatically before
        result = ChooseFourDrives();
        for (const char* key : {KEY_DRIVE1_SERIAL, KEY_DRIVE2_SERIAL, KEY_DRIVE3_SERIAL, KEY_DRIVE4_SERIAL})
            keys.push_back(sim_test::stored(key));
    });
    world.spawn("operator", [&] {
        HWND dlg = wait_for_dialog(world, IDD_CHOOSE_FOUR_DRIVES);
        for (int col : {RT, RB, LT, LB}) {
            EXPECT_TRUE(visible(world, dlg, col + 4));
            EXPECT_FALSE(visible(world, dlg, col + 5));
            EXPECT_FALSE(checked(world, dlg, col + 4)) << "nothing is chosen when the dialog opens";
        }
        click(world, dlg, RT + 0);
        click(world, dlg, LT + 0);
        click(world, dlg, LB + 0);
        EXPECT_FALSE(checked(world, dlg, RT + 0) || checked(world, dlg, LT + 0)) << "a row holds one choice";
        click(world, dlg, RB + 1);
        click(world, dlg, LT + 2);
        click(world, dlg, IDC_DRIVES_OK);
        ASSERT_EQ(seen.size(), 1u);
        ASSERT_EQ(world.ui().find_dialog(IDD_CHOOSE_FOUR_DRIVES), dlg) << "Retry: the dialog stays open";
        click(world, dlg, IDC_DRIVES_OK);
    });
    run_ok(world);
    EXPECT_EQ(result, 1) << "Cancel accepts the three";
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_STREQ(g_Recorders[0].szDescription, "Duplicator LEFT-BOTTOM (E:)");
    EXPECT_STREQ(g_Recorders[1].szDescription, "Duplicator RIGHT-BOTTOM (F:)");
    EXPECT_STREQ(g_Recorders[2].szDescription, "Duplicator LEFT-TOP (G:)");
    EXPECT_FALSE(g_Recorders[3].fSelected);
    EXPECT_FALSE(g_Recorders[4].fSelected) << "OK decides anew";
    EXPECT_EQ(sim_test::rows_at_abcd(), std::vector<int>({0, 2, 1, 0}));
    const std::vector<std::string> log = sim_test::log_texts(world);
    EXPECT_EQ(sim_test::count_lines(log, "Drive D Index = 0"), 2) << "once per OK";
    EXPECT_EQ(sim_test::count_lines(log, "Drive B Index = 2"), 2);
    EXPECT_EQ(keys, std::vector<std::string>({"(none)", "SN0042", "(none)", "SNA"}))
        << "the chosen rows' numbers are stored as they are (not an empty one); the profile format drops the "
           "blanks when they are read back";
}

}  // namespace
