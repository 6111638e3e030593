#include "harness/recording_host.h"

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
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
    if (action == ROVANE_MOVE_LOAD) {
        ++result_.loads_posted;
        // The module queues a load behind the batch's print steps; a request joining after it
        // would have its disc carried back onto its input bin by the first print's "XFER:" before
        // the load picks from that bin, and the load would take the recorded disc as a blank.
        if (batch_.size > 0) batch_.open = false;
    }
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
                const Micros elapsed = kernel().now() - result_.started;
                if (config_.end_at && elapsed >= config_.end_at) {
                    result_.ended_mid_job = true;
                    result_.job_aborted = true;
                    break;
                }
                if (config_.abort_at && elapsed >= config_.abort_at && !result_.host_aborted) {
                    // The host gives up: the module turns every posted move to 4 at once.
                    Rovane_JobBeginsOrEnds(0, discs, ROVANE_JOB_ABORT);
                    result_.host_aborted = true;
                    result_.job_aborted = true;
                }
                poll_round();
                if (config_.on_progress) config_.on_progress();
                // The job ends once every recorder is done and the last batch of prints is over:
                // with "Record-Print" on, a print's move reports done as soon as its disc left
                // the recorder, and ending the job then would leave the prints to a job that no
                // longer counts (an error meanwhile would abort it unseen).
                bool busy = batch_.size > 0 && !result_.job_aborted;
                for (const Recorder& r : recorders_) busy = busy || r.phase != Phase::Done;
                if (!busy) break;
                Sleep(static_cast<DWORD>(config_.poll_interval / kMs));
            }
            if (!result_.ended_mid_job && !result_.host_aborted)
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

    if (config_.end_module || result_.ended_mid_job) {
        char end_text[ROVANE_END_TEXT_SIZE] = {};
        const Micros end_called = kernel().now();
        Rovane_End(end_text);
        result_.end_took = kernel().now() - end_called;
        result_.ended = true;
    }
    result_.finished = kernel().now();
    if (config_.on_progress) config_.on_progress();
}

// ---------------------------------------------------------------------------------------------
// The default operator.

void install_default_operator(Autoloader& machine, bool job_prints) {
    Operator& op = machine.world.op();
    Robot* robot = machine.robot.get();
    const bool laminator = machine.laminator != nullptr;

    // The status message: what the person does at the machine, after which the message closes
    // by itself once the robot works again.
    // The module has moved on by itself from bin to bin until the last, and the stacks that are
    // output stacks too are cleared before the job goes on: they hold finished discs, taken away
    // before they fill up, or blank discs of a bin the module passed over because the robot
    // reported it empty when it was not, taken back so that no finished disc is stacked on them.
    // In a job that prints, a stack may also hold recorded discs that wait there for their label:
    // a print request that joins a batch has its disc set down on the disc's output stack, and
    // the batch's first print ("XFER:") comes back for it later to carry it to the printer. The
    // person sees which discs carry a label and, turning a disc over, which have been written:
    // they lift the pile, keep the written discs that have no label yet apart and put them back
    // on the same stack in their order, so that the print finds its disc where it left it. (A
    // disc whose print failed for good looks the same and stays too, until the job's end.)
    // The bin the arm waits at is refilled.
    Autoloader* m = &machine;
    std::function<bool(const Disc&)> leave;
    if (job_prints) leave = [](const Disc& d) { return d.recorded && d.prints == 0; };
    op.on_dialog(IDD_ROBOT_MESSAGE).containing("input bin is empty").named("refill the input bin").then([m, robot, leave] {
        for (char output : {'3', '4', '2', '5'}) m->take_away(output, leave);
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
    // The robot's panel: an error or a pause that the module shows no message for (an invalid
    // command "D", a pause while the module waits for the printer) still stops the machine. The
    // person notices the panel and deals with it once it has stood for two minutes.
    struct PanelWatch {
        bool armed = false;
        uint64_t alarm = 0;   // the alarm the watch waits out
        std::function<void()> check;
    };
    // The robot's alarm handler and a pending look hold the watch; its own check holds it weakly
    // (holding itself, it would outlive the world, in every run of a runner process).
    auto watch = std::make_shared<PanelWatch>();
    const std::weak_ptr<PanelWatch> weak_watch = watch;
    Kernel* k = &machine.world.kernel();
    auto arm = [weak_watch, robot, k] {
        const auto watch = weak_watch.lock();
        if (!watch) return;
        watch->armed = true;
        watch->alarm = robot->alarm_serial();
        k->after(2 * kMinute, [watch] { watch->check(); });
    };
    watch->check = [weak_watch, robot, arm] {
        const auto watch = weak_watch.lock();
        if (!watch) return;
        watch->armed = false;
        if (!robot->paused() && robot->error() == '.') return;
        // A newer alarm since: it gets its two minutes too.
        if (robot->alarm_serial() != watch->alarm) return arm();
        // A pick that failed is tried again with Pick; any other error is cleared with Pause
        // and Pick together.
        if (robot->paused()) robot->press_pause();
        else if (robot->error() == 'A' || robot->error() == 'F') robot->press_pick();
        else robot->press_pause_and_pick();
        // An error that stood behind the pause is looked at next.
        if (robot->paused() || robot->error() != '.') arm();
    };
    robot->on_alarm([watch, arm] {
        if (!watch->armed) arm();
    });
    // Any other status message (waiting for the printer ...) is read and left to close itself.
    op.on_dialog(IDD_ROBOT_MESSAGE).named("read the status message");

    // Questions.
    // The robot still reports an error or a pause when a job begins: the person does what the
    // message says, then answers Retry.
    op.on_message_box("Press both Pause & Pick").named("clear the error, then Retry").answer(IDRETRY).then([robot] {
        if (robot->error() != '.') robot->press_pause_and_pick();
    });
    op.on_message_box("Robotics are PAUSED").named("un-pause, then Retry").answer(IDRETRY).then([robot] {
        if (robot->paused()) robot->press_pause();
    });
    op.on_message_box("reject position").named("empty the reject positions").answer(IDRETRY).then([m] {
        m->take_away('G');
        m->take_away('H');
    });
    // A robot that does not answer: a few tries, then the operator gives up.
    op.on_message_box("No response").named("try the robot again").answer(IDRETRY).times(3);
    op.on_message_box("No response").named("give up on the robot").answer(IDCANCEL);
    // The same for a disc printer that does not answer (the job goes on without it) or whose tray
    // does not move (the job is aborted).
    op.on_message_box("The printer is not responding").named("try the printer again").answer(IDRETRY).times(3);
    op.on_message_box("The printer is not responding").named("go on without the printer").answer(IDCANCEL);
    op.on_message_box("Unable to move the printer tray").named("try the printer tray again").answer(IDRETRY).times(3);
    op.on_message_box("Unable to move the printer tray").named("give up on the printer tray").answer(IDCANCEL);
    // The laminator likewise: a few tries where there is one, then the operator gives up.
    if (laminator)
        op.on_message_box("Unable to communicate with the laminator").named("retry the laminator").answer(IDRETRY).times(3);
    op.on_message_box("Unable to communicate with the laminator")
        .named(laminator ? "give up on the laminator" : "no laminator here")
        .answer(IDCANCEL);
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
