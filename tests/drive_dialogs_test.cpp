// The "Choose Drives" dialogs as the operator meets them: what they show, the choices and their
// messages, the labels and settings they leave behind, and the Open/Close buttons.
#include <windows.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "foundation/settings.h"
#include "resources/resource.h"
#include "robot/robo_status.h"
#include "setup/host_engine.h"
#include "setup/recorders.h"
#include "setup/tray_control.h"
#include "support/module_world.h"
#include "win32/components.h"
#include "win32/ui.h"
#include "world/operator.h"

namespace {

using sim::kMs;
using sim::kSecond;

// --- the operator's hands, from a thread of their own -----------------------------------------

HWND wait_for_dialog(sim::World& world, int id) {
    HWND dlg = nullptr;
    while (!(dlg = world.ui().find_dialog(id))) Sleep(100);
    Sleep(500);  // a look before the first click
    return dlg;
}

// Clicks and gives the dialog a moment; a click that opens a message box returns once the
// operator's rule has answered it.
void click(sim::World& world, HWND dlg, int id) {
    ASSERT_TRUE(world.ui().click(dlg, id)) << "dialog closed before click on " << id;
    Sleep(300);
    while (true) {
        bool box = false;
        for (const sim::WindowInfo& w : world.ui().open_windows()) box = box || w.kind == sim::WindowKind::MessageBox;
        if (!box) break;
        Sleep(100);
    }
}

bool checked(sim::World& world, HWND dlg, int id) { return world.ui().control(dlg, id)->check == BST_CHECKED; }
bool visible(sim::World& world, HWND dlg, int id) { return world.ui().control(dlg, id)->visible; }
std::string text(sim::World& world, HWND dlg, int id) { return world.ui().control(dlg, id)->text; }

struct Box {
    std::string text, caption;
    UINT flags;
};

// Records the boxes a rule answers.
std::vector<Box> g_boxes;
std::function<void()> remember_box(sim::World& world) {
    return [&world] {
        for (const sim::WindowInfo& w : world.ui().open_windows())
            if (w.kind == sim::WindowKind::MessageBox) g_boxes.push_back({w.text, w.caption, w.flags});
    };
}

void run_ok(sim::World& world) {
    const sim::RunResult r = world.run();
    ASSERT_TRUE(r.ok()) << r.report;
}

std::string module_string(UINT id) {
    char s[512];
    LoadStringA(sim::world().module_instance(), id, s, sizeof s);
    return s;
}

std::string stored(const char* key) {
    char value[64];
    GetPrivateProfileStringA(SETTINGS_SECTION, key, "(none)", value, sizeof value, g_szSettingsPath);
    return value;
}

// --- a job-processor library that records the tray calls --------------------------------------

struct DqCall {
    LONG unit, direction;
};
std::vector<DqCall> g_dq_calls;

extern "C" LONG WINAPI fake_dq_open_close_tray(LONG, LONG unit, LONG direction) {
    g_dq_calls.push_back({unit, direction});
    return 0;
}

void prepare(sim::World& world, BYTE recorders_reported) {
    sim_test::prepare_module(world);
    world.components().add_library("Dorquel.dll",
                                   {{"DQ_OpenCloseTray", 0, reinterpret_cast<void*>(&fake_dq_open_close_tray)}});
    g_bRecorderCount = recorders_reported;
    SetHostFacts("VeltoDVD", NULL, 0);
}

const int L = IDC_DRIVE_LEFT_FIRST, R = IDC_DRIVE_RIGHT_FIRST;
const int RT = IDC_DRIVE_RIGHT_TOP_FIRST, RB = IDC_DRIVE_RIGHT_BOTTOM_FIRST, LT = IDC_DRIVE_LEFT_TOP_FIRST,
          LB = IDC_DRIVE_LEFT_BOTTOM_FIRST;

// ---------------------------------------------------------------------------------------------
// Two-drive dialog.

TEST(TwoDriveDialog, OneLeftAndNoRightOnATwoRecorderUnitAsksForOneMoreAndStaysOpen) {
    sim::World world(sim_test::config());
    prepare(world, 2);
    world.op().on_message_box("").then(remember_box(world)).answer(IDOK);
    int result = -1;
    world.spawn("host", [&] {
        ClearRecorders();
        AddRecorder(3, 0, 1, 0, 'E', "PIONEER DVD-RW DVR-112D");
        AddRecorder(4, 0, 1, 1, 'F', "LITE-ON DVDRW SHM-165P6S");
        AddRecorder(7, 0, 2, 0, 'G', "HL-DT-ST DVDRAM GH22NS50");
        result = ChooseTwoDrives();
    });
    world.spawn("operator", [&] {
        HWND dlg = wait_for_dialog(world, IDD_CHOOSE_TWO_DRIVES);
        EXPECT_EQ(world.ui().window(dlg)->caption, "VeltoDVD") << "titled with the host title";
        EXPECT_EQ(text(world, dlg, IDC_DRIVE_ROW_TEXT_FIRST + 0), "Recorder at Host:1 ID:0   PIONEER DVD-RW DVR-112D");
        EXPECT_EQ(text(world, dlg, IDC_DRIVE_ROW_TEXT_FIRST + 2), "Recorder at Host:2 ID:0   HL-DT-ST DVDRAM GH22NS50");
        for (int i = 0; i < 3; ++i) {
            EXPECT_TRUE(visible(world, dlg, IDC_DRIVE_OPEN_CLOSE_FIRST + i));
            EXPECT_TRUE(visible(world, dlg, L + i)) << "two recorders: a LEFT column";
            EXPECT_TRUE(visible(world, dlg, R + i));
        }
        EXPECT_FALSE(visible(world, dlg, R + 3)) << "no fourth recorder";
        EXPECT_FALSE(visible(world, dlg, IDC_DRIVE_ROW_TEXT_FIRST + 3));
        EXPECT_TRUE(visible(world, dlg, IDC_LEFT_HEADING));
        EXPECT_EQ(text(world, dlg, IDC_RIGHT_HEADING), "RIGHT");

        click(world, dlg, IDC_DRIVES_OK);  // nothing chosen
        ASSERT_EQ(g_boxes.size(), 1u);
        EXPECT_EQ(g_boxes[0].text, module_string(IDS_SELECT_ONE_DRIVE));

        click(world, dlg, L + 1);
        EXPECT_EQ(RecorderRowAt('B'), 1) << "the position is given at the click";
        EXPECT_STREQ(g_szPosition[1].szPosition, "B");
        click(world, dlg, IDC_DRIVES_OK);
        ASSERT_EQ(g_boxes.size(), 2u);
        EXPECT_EQ(g_boxes[1].text,
                  "You have selected only one drive and the Optical Disc Duplicator has two drives installed.\n"
                  "Select one more recorder.");
        EXPECT_EQ(g_boxes[1].caption, "Optical Disc Duplicator");
        EXPECT_EQ(g_boxes[1].flags, static_cast<UINT>(MB_ICONINFORMATION));
        ASSERT_EQ(world.ui().find_dialog(IDD_CHOOSE_TWO_DRIVES), dlg) << "the dialog stays open";

        // RIGHT on the same row clears its LEFT.
        click(world, dlg, R + 1);
        EXPECT_FALSE(checked(world, dlg, L + 1));
        EXPECT_EQ(RecorderRowAt('A'), 1);
        click(world, dlg, L + 2);
        click(world, dlg, R + 0);  // the RIGHT column holds one row
        EXPECT_FALSE(checked(world, dlg, R + 1));
        click(world, dlg, IDC_DRIVES_OK);
    });
    run_ok(world);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(g_boxes.size(), 2u);
    EXPECT_TRUE(g_Recorders[0].fSelected);
    EXPECT_STREQ(g_Recorders[0].szDescription, "Duplicator Drive RIGHT (E:)");
    EXPECT_STREQ(g_szPosition[0].szPosition, "A");
    EXPECT_FALSE(g_Recorders[1].fSelected);
    EXPECT_STREQ(g_szPosition[1].szPosition, "") << "a row left without a choice keeps no position";
    EXPECT_TRUE(g_Recorders[2].fSelected);
    EXPECT_STREQ(g_Recorders[2].szDescription, "Duplicator Drive LEFT (G:)");
    EXPECT_STREQ(g_szPosition[2].szPosition, "B");
    EXPECT_EQ(RecorderRowAt('A'), 0);
    EXPECT_EQ(RecorderRowAt('B'), 2);
    EXPECT_TRUE(g_dq_calls.empty());
}

TEST(TwoDriveDialog, SingleRecorderUnitOffersOneSelectColumnAndCancelChoosesNothing) {
    sim::World world(sim_test::config());
    prepare(world, 1);
    world.op().on_message_box("").then(remember_box(world)).answer(IDOK);
    std::vector<int> results;
    world.spawn("host", [&] {
        ClearRecorders();
        AddRecorder(3, 0, 1, 0, 'E', "PIONEER DVD-RW DVR-112D");
        AddRecorder(4, 0, 1, 1, 'F', "LITE-ON DVDRW SHM-165P6S");
        results.push_back(ChooseTwoDrives());
        results.push_back(ChooseTwoDrives());
    });
    world.spawn("operator", [&] {
        HWND dlg = wait_for_dialog(world, IDD_CHOOSE_TWO_DRIVES);
        EXPECT_EQ(text(world, dlg, IDC_DRIVE_PROMPT), "Choose the drive in your Optical Disc Duplicator.");
        EXPECT_EQ(text(world, dlg, IDC_DRIVE_HINT),
                  "If you are unsure, try each Open/Close button to determine the proper drive.");
        EXPECT_EQ(text(world, dlg, IDC_RIGHT_HEADING), "SELECT");
        EXPECT_FALSE(visible(world, dlg, IDC_LEFT_HEADING));
        EXPECT_FALSE(visible(world, dlg, L + 0));
        click(world, dlg, L + 0);  // hidden: ignored
        EXPECT_FALSE(checked(world, dlg, L + 0));
        click(world, dlg, R + 1);
        click(world, dlg, IDC_DRIVES_OK);
        while (world.ui().find_dialog(IDD_CHOOSE_TWO_DRIVES) == dlg) Sleep(100);

        // Shown again: nothing is checked; Cancel ends it with 0 and leaves the tables alone.
        dlg = wait_for_dialog(world, IDD_CHOOSE_TWO_DRIVES);
        EXPECT_FALSE(checked(world, dlg, R + 1));
        click(world, dlg, R + 0);
        click(world, dlg, IDC_DRIVES_CANCEL);
    });
    run_ok(world);
    EXPECT_EQ(results, std::vector<int>({1, 0}));
    EXPECT_TRUE(g_boxes.empty());
    EXPECT_FALSE(g_Recorders[0].fSelected);
    EXPECT_TRUE(g_Recorders[1].fSelected);
    EXPECT_STREQ(g_Recorders[1].szDescription, "Duplicator Drive 1 (F:)");
    EXPECT_EQ(RecorderRowAt('A'), 0) << "the cancelled click gave the position; OK did not decide";
}

// ---------------------------------------------------------------------------------------------
// Four-drive dialog.

TEST(FourDriveDialog, ThreeRowsChosenOnAFourDriveUnitAsksRetryAndCancelAcceptsThem) {
    sim::World world(sim_test::config());
    prepare(world, 4);
    // The first count message is answered Retry, the second Cancel.
    world.op()
        .on_message_box("proper number of drives")
        .then(remember_box(world))
        .answer(IDRETRY)
        .times(1);
    world.op().on_message_box("proper number of drives").then(remember_box(world)).answer(IDCANCEL);
    int result = -1;
    world.spawn("host", [&] {
        ClearRecorders();
        const char* serials[5] = {"SNA", "", "  SN0042", "SND", "SNX"};
        for (int i = 0; i < 5; ++i) {
            AddRecorder(20 + i, 0, 4, i, static_cast<char>('E' + i), "PIONEER DVD-RW DVR-112D");
            std::strcpy(g_Recorders[i].szSerial, serials[i]);
        }
        g_Recorders[4].fSelected = TRUE;  // as if mapped automatically before
        result = ChooseFourDrives();
    });
    world.spawn("operator", [&] {
        HWND dlg = wait_for_dialog(world, IDD_CHOOSE_FOUR_DRIVES);
        EXPECT_EQ(world.ui().window(dlg)->caption, "VeltoDVD");
        for (int col : {RT, RB, LT, LB}) {
            EXPECT_TRUE(visible(world, dlg, col + 4));
            EXPECT_FALSE(visible(world, dlg, col + 5));
            EXPECT_FALSE(checked(world, dlg, col + 4)) << "nothing is chosen when the dialog opens";
        }
        click(world, dlg, RT + 0);
        click(world, dlg, LT + 0);
        click(world, dlg, LB + 0);  // a row holds one choice
        EXPECT_FALSE(checked(world, dlg, RT + 0));
        EXPECT_FALSE(checked(world, dlg, LT + 0));
        EXPECT_TRUE(checked(world, dlg, LB + 0));
        click(world, dlg, RB + 1);
        click(world, dlg, LT + 2);
        click(world, dlg, IDC_DRIVES_OK);
        ASSERT_EQ(g_boxes.size(), 1u);
        ASSERT_EQ(world.ui().find_dialog(IDD_CHOOSE_FOUR_DRIVES), dlg) << "Retry: the dialog stays open";
        click(world, dlg, IDC_DRIVES_OK);
    });
    run_ok(world);
    EXPECT_EQ(result, 1) << "Cancel accepts the three";
    ASSERT_EQ(g_boxes.size(), 2u);
    EXPECT_EQ(g_boxes[0].text,
              "You have not selected the proper number of drives.\nThis unit should have 4  recorder drives.\n"
              "Click Retry to choose again.\nClick Cancel to continue anyway.");
    EXPECT_EQ(g_boxes[0].caption, "VeltoDVD");
    EXPECT_EQ(g_boxes[0].flags, static_cast<UINT>(MB_RETRYCANCEL | MB_ICONINFORMATION));

    EXPECT_STREQ(g_Recorders[0].szDescription, "Duplicator LEFT-BOTTOM (E:)");
    EXPECT_STREQ(g_Recorders[1].szDescription, "Duplicator RIGHT-BOTTOM (F:)");
    EXPECT_STREQ(g_Recorders[2].szDescription, "Duplicator LEFT-TOP (G:)");
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(g_Recorders[i].fSelected) << i;
    EXPECT_FALSE(g_Recorders[3].fSelected);
    EXPECT_FALSE(g_Recorders[4].fSelected) << "OK decides anew";
    EXPECT_EQ(RecorderRowAt('D'), 0);
    EXPECT_EQ(RecorderRowAt('C'), 1);
    EXPECT_EQ(RecorderRowAt('B'), 2);
    EXPECT_STREQ(g_szPosition[2].szPosition, "B");

    const std::vector<std::string> log = sim_test::log_texts(world);
    EXPECT_EQ(sim_test::count_lines(log, "Drive D Index = 0"), 2) << "once per OK";
    EXPECT_EQ(sim_test::count_lines(log, "Drive C Index = 1"), 2);
    EXPECT_EQ(sim_test::count_lines(log, "Drive B Index = 2"), 2);

    // The serial numbers of the chosen rows are stored (the one without a number is not), and
    // read back as they are, blanks included.
    std::vector<std::string> keys;
    world.spawn("check", [&] {
        keys = {stored(KEY_DRIVE1_SERIAL), stored(KEY_DRIVE2_SERIAL), stored(KEY_DRIVE3_SERIAL),
                stored(KEY_DRIVE4_SERIAL)};
    });
    run_ok(world);
    EXPECT_EQ(keys, std::vector<std::string>({"(none)", "  SN0042", "(none)", "SNA"}));
}

TEST(FourDriveDialog, StoredSerialsForAAndBOnlyOpenTheDialogWithNothingMapped) {
    sim::World world(sim_test::config());
    prepare(world, 4);
    int mapped = -1, result = -1;
    world.spawn("host", [&] {
        WritePrivateProfileStringA(SETTINGS_SECTION, KEY_DRIVE1_SERIAL, "SN1", g_szSettingsPath);
        WritePrivateProfileStringA(SETTINGS_SECTION, KEY_DRIVE2_SERIAL, "SN2", g_szSettingsPath);
        ClearRecorders();
        const char* serials[4] = {"SN2", "SN1", "SN3", "SN4"};
        for (int i = 0; i < 4; ++i) {
            AddRecorder(i, 0, 4, i, static_cast<char>('E' + i), "PIONEER DVD-RW DVR-112D");
            std::strcpy(g_Recorders[i].szSerial, serials[i]);
        }
        // As start-up does on a four-drive unit.
        mapped = MapFourDrivesAutomatically();
        if (!mapped) result = ChooseFourDrives();
    });
    world.spawn("operator", [&] {
        HWND dlg = wait_for_dialog(world, IDD_CHOOSE_FOUR_DRIVES);
        for (int i = 0; i < 2; ++i) EXPECT_FALSE(g_Recorders[i].fSelected) << "no automatic mapping";
        // All four, so no count message.
        click(world, dlg, RT + 3);
        click(world, dlg, LT + 2);
        click(world, dlg, RB + 1);
        click(world, dlg, LB + 0);
        click(world, dlg, IDC_DRIVES_OK);
    });
    run_ok(world);
    EXPECT_EQ(mapped, 0);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(RecorderRowAt('A'), 3);
    EXPECT_EQ(RecorderRowAt('B'), 2);
    EXPECT_EQ(RecorderRowAt('C'), 1);
    EXPECT_EQ(RecorderRowAt('D'), 0);
    const std::vector<std::string> log = sim_test::log_texts(world);
    EXPECT_EQ(sim_test::count_lines(log, "Drive A Index = 3"), 1) << "logged by the dialog only";

    // The next start-up finds all four by their stored numbers.
    int next = -1;
    world.spawn("next start-up", [&] {
        ClearRecorders();
        const char* serials[4] = {"SN4", "SN1", "SN2", "SN3"};
        for (int i = 0; i < 4; ++i) {
            AddRecorder(i, 0, 4, i, static_cast<char>('E' + i), "PIONEER DVD-RW DVR-112D");
            std::strcpy(g_Recorders[i].szSerial, serials[i]);
        }
        next = MapFourDrivesAutomatically();
    });
    run_ok(world);
    EXPECT_EQ(next, 1);
    EXPECT_EQ(RecorderRowAt('A'), 0);  // SN4 was chosen RIGHT-TOP
    EXPECT_EQ(RecorderRowAt('B'), 3);  // SN3 LEFT-TOP
    EXPECT_EQ(RecorderRowAt('C'), 1);  // SN1 RIGHT-BOTTOM
    EXPECT_EQ(RecorderRowAt('D'), 2);  // SN2 LEFT-BOTTOM
}

// ---------------------------------------------------------------------------------------------
// Open/Close buttons.

TEST(DriveDialogTrays, OpenFlagIsKeptFromOneShowingToTheNextPerDialog) {
    sim::World world(sim_test::config());
    prepare(world, 2);
    std::vector<int> results;
    world.spawn("host", [&] {
        ClearRecorders();
        AddRecorder(30, 0, 4, 0, 'E', "PIONEER DVD-RW DVR-112D");
        AddRecorder(31, 0, 4, 1, 'F', "PIONEER DVD-RW DVR-112D");
        results.push_back(ChooseTwoDrives());
        EXPECT_EQ(g_Recorders[1].bTrayState, TRAY_STATE_OPEN_EMPTY);
        results.push_back(ChooseTwoDrives());
        results.push_back(ChooseFourDrives());
    });
    world.spawn("operator", [&] {
        HWND dlg = wait_for_dialog(world, IDD_CHOOSE_TWO_DRIVES);
        click(world, dlg, IDC_DRIVE_OPEN_CLOSE_FIRST + 1);  // opens
        click(world, dlg, IDC_DRIVES_CANCEL);
        while (world.ui().find_dialog(IDD_CHOOSE_TWO_DRIVES) == dlg) Sleep(100);

        dlg = wait_for_dialog(world, IDD_CHOOSE_TWO_DRIVES);
        click(world, dlg, IDC_DRIVE_OPEN_CLOSE_FIRST + 1);  // closes: the tray was left open
        EXPECT_EQ(g_Recorders[1].bTrayState, TRAY_STATE_CLOSED_EMPTY);
        click(world, dlg, IDC_DRIVE_OPEN_CLOSE_FIRST + 1);  // opens again
        click(world, dlg, IDC_DRIVE_OPEN_CLOSE_FIRST + 0);  // opens
        click(world, dlg, IDC_DRIVE_OPEN_CLOSE_FIRST + 2);  // no such row: hidden, ignored
        world.ui().close(dlg);                              // the close box cancels too
        while (world.ui().find_dialog(IDD_CHOOSE_TWO_DRIVES) == dlg) Sleep(100);

        // The four-drive dialog keeps flags of its own.
        dlg = wait_for_dialog(world, IDD_CHOOSE_FOUR_DRIVES);
        click(world, dlg, IDC_DRIVE_OPEN_CLOSE_FIRST + 1);
        click(world, dlg, IDC_DRIVES_CANCEL);
    });
    run_ok(world);
    EXPECT_EQ(results, std::vector<int>({0, 0, 0}));
    ASSERT_EQ(g_dq_calls.size(), 5u);
    const LONG units[5] = {31, 31, 31, 30, 31};
    const LONG directions[5] = {DQ_TRAY_OPEN, DQ_TRAY_CLOSE, DQ_TRAY_OPEN, DQ_TRAY_OPEN, DQ_TRAY_OPEN};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(g_dq_calls[i].unit, units[i]) << i;
        EXPECT_EQ(g_dq_calls[i].direction, directions[i]) << i;
    }
    EXPECT_EQ(g_Recorders[0].bTrayState, TRAY_STATE_OPEN_EMPTY);
    EXPECT_NE(g_dwTrayTick[0], 0u);
}

}  // namespace
