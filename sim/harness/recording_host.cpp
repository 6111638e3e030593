#include "harness/recording_host.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "devices/recorders.h"
#include "resources/resource.h"
#include "rovane.h"
#include "win32/ui.h"
#include "world/operator.h"

namespace sim {

namespace {

constexpr uint64_t kHostRngSalt = 0x484F5354ULL;  // the host's own draws, apart from the robot's

}  // namespace

RecordingHost::RecordingHost(Autoloader& machine, const RecordingHostConfig& config)
    : machine_(machine), config_(config), rng_(machine.config().seed ^ kHostRngSalt) {}

void RecordingHost::start() {
    machine_.world.spawn("host", [this] { run(); });
}

bool RecordingHost::watch_printing() {
    if (batch_.size == 0) return true;
    const Micros now = kernel().now();
    const DWORD state = Rovane_CheckPrinting(0);
    if (state == ROVANE_ABORTED) return false;
    if (state == ROVANE_IN_PROGRESS && last_printing_ != ROVANE_IN_PROGRESS) {
        ++batch_.started;
        ++result_.prints_seen_starting;
        batch_.open = false;
    }
    if (state != ROVANE_IN_PROGRESS && last_printing_ == ROVANE_IN_PROGRESS) {
        ++batch_.finished;
        ++result_.prints_seen_finishing;
        if (batch_.finished >= batch_.size) batch_.all_finished_at = now;
    }
    last_printing_ = state;
    if (batch_.open && batch_.first_reports_at_end && now - batch_.opened_at > config_.batch_join_window)
        batch_.open = false;
    if (batch_.finished >= batch_.size && batch_.reporting_at_end == 0 &&
        now - batch_.all_finished_at >= config_.print_carry_time)
        batch_ = Batch{};
    return true;
}

bool RecordingHost::post(Recorder& r, LONG action) {
    LONG result = 0;
    if (action == ROVANE_RECORD_AND_PRINT) {
        result = Rovane_PostMoveAndPrint(static_cast<DWORD>(r.unit), action, 0, config_.print_file.c_str(), "",
                                         r.disc_number);
    } else {
        result = Rovane_PostMoveDisc(static_cast<DWORD>(r.unit), action, 0, 0);
    }
    if (result != 1) return false;
    if (action == ROVANE_RECORD_AND_PRINT) {
        ++result_.prints_posted;
        r.reports_at_end = !config_.record_print || r.disc_number == static_cast<DWORD>(config_.discs);
        if (batch_.size == 0) {
            batch_ = Batch{};
            batch_.open = true;
            batch_.first_unit = r.unit;
            batch_.first_reports_at_end = r.reports_at_end;
            batch_.opened_at = kernel().now();
            last_printing_ = ROVANE_DONE;
            ++result_.print_batches;
        } else {
            ++result_.prints_joined;
        }
        ++batch_.size;
        if (r.reports_at_end) ++batch_.reporting_at_end;
    }
    if (action == ROVANE_MOVE_LOAD) ++result_.loads_posted;
    if (action == ROVANE_MOVE_UNLOAD) ++result_.unloads_posted;
    if (action == ROVANE_MOVE_REJECT) ++result_.rejects_posted;
    r.phase = action == ROVANE_MOVE_LOAD ? Phase::Loading
              : action == ROVANE_RECORD_AND_PRINT ? Phase::Printing
                                                  : Phase::Unloading;
    return true;
}

void RecordingHost::poll_round() {
    const Micros now = kernel().now();
    if (!watch_printing()) result_.job_aborted = true;
    for (Recorder& r : recorders_) {
        switch (r.phase) {
            case Phase::Idle:
                if (result_.job_aborted || loads_left_ == 0) {
                    r.phase = Phase::Done;
                } else if (batch_.reporting_at_end > 0) {
                    // A print that reports only at the end is on its way: it has the arm to itself.
                } else {
                    r.disc_number = discs_loaded_ + 1;
                    if (post(r, ROVANE_MOVE_LOAD)) {
                        --loads_left_;
                        ++discs_loaded_;
                    } else {
                        r.phase = Phase::Done;
                    }
                }
                break;
            case Phase::Recording:
                if (result_.job_aborted) {
                    r.phase = Phase::Done;
                } else if (now >= r.recorded_at) {
                    const bool print = !r.failed && !config_.print_file.empty();
                    const bool at_end = !config_.record_print || r.disc_number == static_cast<DWORD>(config_.discs);
                    const bool starts_batch = batch_.size == 0 || at_end;
                    if (batch_.reporting_at_end > 0 || (print && !may_post_print()) ||
                        (print && starts_batch && (batch_.size > 0 || moves_in_flight() > 0))) {
                        // A batch is in progress and closed: the disc waits in its recorder.
                        if (!r.waiting_for_batch) ++result_.print_waits;
                        r.waiting_for_batch = true;
                        break;
                    }
                    r.waiting_for_batch = false;
                    if (auto drive = machine_.engine->recorder(r.unit)) drive->mark_recorded();
                    const LONG action = r.failed ? ROVANE_MOVE_REJECT : print ? ROVANE_RECORD_AND_PRINT : ROVANE_MOVE_UNLOAD;
                    if (!post(r, action)) r.phase = Phase::Done;
                }
                break;
            case Phase::Loading:
            case Phase::Unloading:
            case Phase::Printing: {
                const DWORD state = Rovane_CheckMoveDisc(static_cast<DWORD>(r.unit));
                if (state == ROVANE_IN_PROGRESS) break;
                if (state == ROVANE_DONE) {
                    ++result_.moves_done;
                    if (r.phase == Phase::Loading) {
                        r.phase = Phase::Recording;
                        r.recorded_at = now + config_.record_time;
                        r.failed = rng_.chance(config_.fail_rate);
                    } else {
                        if (r.phase == Phase::Printing) {
                            if (r.unit == batch_.first_unit) batch_.open = false;
                            if (r.reports_at_end && batch_.reporting_at_end > 0) --batch_.reporting_at_end;
                        }
                        ++result_.discs_finished;
                        r.phase = Phase::Idle;
                    }
                } else {
                    // 4 (aborted), or 0 for a recorder the module does not know: the move is over.
                    ++result_.moves_aborted;
                    result_.job_aborted = true;
                    r.phase = Phase::Done;
                }
                break;
            }
            case Phase::Done:
                break;
        }
    }
}

void RecordingHost::run() {
    result_.started = kernel().now();
    const InitOutcome init = machine_.init_module(config_.host_name);
    result_.init_result = init.result;
    for (LONG unit : init.units) {
        Recorder r;
        r.unit = unit;
        recorders_.push_back(r);
    }
    result_.recorders = static_cast<int>(recorders_.size());

    bool can_run = result_.init_result > 0 && !recorders_.empty();
    if (can_run && !config_.print_file.empty()) {
        // The host checks its print file before the job, for the action it will ask for.
        result_.valid_print = Rovane_CheckValidPrint(0, ROVANE_RECORD_AND_PRINT, 0, config_.print_file.c_str(), 0, 0);
        can_run = result_.valid_print == 1;
    }
    if (can_run) {
        const DWORD discs = static_cast<DWORD>(config_.discs);
        result_.begin_result = Rovane_JobBeginsOrEnds(0, discs, ROVANE_JOB_BEGIN);
        if (result_.begin_result == ROVANE_JOB_OK) {
            loads_left_ = config_.discs;
            for (;;) {
                poll_round();
                if (config_.on_progress) config_.on_progress();
                bool busy = false;
                for (const Recorder& r : recorders_) busy = busy || r.phase != Phase::Done;
                if (!busy) break;
                Sleep(static_cast<DWORD>(config_.poll_interval / kMs));
            }
            Rovane_JobBeginsOrEnds(0, discs, result_.job_aborted ? ROVANE_JOB_ABORT : ROVANE_JOB_END);
        } else {
            // The job was counted but cannot start: the host takes it back.
            result_.job_aborted = true;
            Rovane_JobBeginsOrEnds(0, discs, ROVANE_JOB_ABORT);
        }
    } else {
        result_.job_aborted = true;
    }
    for (const Recorder& r : recorders_)
        if (r.phase == Phase::Loading || r.phase == Phase::Unloading || r.phase == Phase::Printing)
            ++result_.moves_unfinished;

    if (config_.end_module) {
        char end_text[ROVANE_END_TEXT_SIZE] = {};
        Rovane_End(end_text);
        result_.ended = true;
    }
    result_.finished = kernel().now();
    if (config_.on_progress) config_.on_progress();
}

// ---------------------------------------------------------------------------------------------
// The default operator.

void install_default_operator(Autoloader& machine) {
    Operator& op = machine.world.op();
    Robot* robot = machine.robot.get();
    const bool laminator = machine.laminator != nullptr;

    // The status message: what the person does at the machine, after which the message closes
    // by itself once the robot works again.
    // Every input bin is empty by now (the module moves on by itself until the last): the
    // output stacks hold finished discs only. They are taken away before they fill up, and the
    // bin the arm waits at is refilled.
    Autoloader* m = &machine;
    op.on_dialog(IDD_ROBOT_MESSAGE).containing("input bin is empty").named("refill the input bin").then([m, robot] {
        for (char output : {'3', '4', '2', '5'}) m->take_away(output);
        const char bin = robot->position();
        if (std::strchr("1245", bin)) robot->refill(bin, 25);
        robot->press_pick();
    });
    // A laminator error or its open cover: cleared at the laminator as its message says — a new
    // ribbon when it ran out, the error cleared, the cover closed, and the "Laminate" button
    // pressed, which runs a lamination the fault stopped again.
    if (laminator) {
        Laminator* lam = machine.laminator.get();
        op.on_dialog(IDD_ROBOT_MESSAGE).containing("aminator").named("clear the laminator").then([lam] {
            if (lam->error() & kLamErrRibbonOut) lam->set_ribbon(lam->config().ribbon);
            lam->clear_error();
            lam->close_cover();
            if (lam->lamination_stopped()) lam->press_laminate();
        });
    }
    // The message stays when the pick fails again: the person presses Pick once more.
    op.on_dialog(IDD_ROBOT_MESSAGE).containing("not picked").named("press Pick").again_after(10 * kSecond).then([robot] {
        robot->press_pick();
    });
    op.on_dialog(IDD_ROBOT_MESSAGE).containing("paused").named("un-pause").then([robot] { robot->press_pause(); });
    op.on_dialog(IDD_ROBOT_MESSAGE).containing("error").named("clear the error").then([robot] {
        robot->press_pause_and_pick();
    });
    // Any other status message (waiting for the printer ...) is read and left to close itself.
    op.on_dialog(IDD_ROBOT_MESSAGE).named("read the status message");

    // Questions.
    op.on_message_box("reject position").named("empty the reject positions").answer(IDRETRY).then([m] {
        m->take_away('G');
        m->take_away('H');
    });
    // A robot that does not answer: a few tries, then the operator gives up.
    op.on_message_box("No response").named("try the robot again").answer(IDRETRY).times(3);
    op.on_message_box("No response").named("give up on the robot").answer(IDCANCEL);
    op.on_message_box("Unable to communicate with the laminator")
        .named(laminator ? "retry the laminator" : "no laminator here")
        .answer(laminator ? IDRETRY : IDCANCEL);
    // A disc that fell off the laminator's tray goes back on it.
    op.on_message_box("fallen out of the laminator tray").named("put the disc back on the laminator").answer(IDRETRY)
        .then([m] {
            if (m->laminator) m->laminator->put_fallen_back();
        });
    op.on_message_box("Wait for lamination timed out").named("wait for the lamination again").answer(IDRETRY);
    op.on_message_box("already holds").named("cannot take the disc off the picker").answer(IDCANCEL);
    op.on_message_box("connected to FILE:").named("keep the printer").answer(IDNO);
    op.on_message_box("Initial input bin").named("start at the first bin").answer(IDYES);
    op.on_message_box("all 4 input bins").named("use all four bins").answer(IDYES);

    // Dialogs of start-up: the printer as preselected, the drives where they sit.
    op.on_dialog(IDD_SELECT_PRINTER).named("keep the preselected printer").click(IDOK);
    op.on_dialog(IDD_OPTIONS).named("leave the options").click(IDCANCEL);
    auto& four = op.on_dialog(IDD_CHOOSE_FOUR_DRIVES).named("choose the four drives");
    const int four_columns[4] = {IDC_DRIVE_RIGHT_TOP_FIRST, IDC_DRIVE_LEFT_TOP_FIRST, IDC_DRIVE_RIGHT_BOTTOM_FIRST,
                                 IDC_DRIVE_LEFT_BOTTOM_FIRST};
    for (size_t i = 0; i < machine.drives.size() && i < 4; ++i) four.click(four_columns[i] + static_cast<int>(i));
    four.click(IDC_DRIVES_OK);
    auto& two = op.on_dialog(IDD_CHOOSE_TWO_DRIVES).named("choose the drives");
    two.click(IDC_DRIVE_RIGHT_FIRST + 0);
    if (machine.drives.size() > 1) two.click(IDC_DRIVE_LEFT_FIRST + 1);
    two.click(IDC_DRIVES_OK);

    // Everything else: Retry where it is offered, else the first button.
    op.set_default_answer(Operator::DefaultAnswer::FirstButton);
}

}  // namespace sim
