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

bool RecordingHost::post(Recorder& r, LONG action) {
    const LONG result = Rovane_PostMoveDisc(static_cast<DWORD>(r.unit), action, 0, 0);
    if (result != 1) return false;
    if (action == ROVANE_MOVE_LOAD) ++result_.loads_posted;
    if (action == ROVANE_MOVE_UNLOAD) ++result_.unloads_posted;
    if (action == ROVANE_MOVE_REJECT) ++result_.rejects_posted;
    r.phase = action == ROVANE_MOVE_LOAD ? Phase::Loading : Phase::Unloading;
    return true;
}

void RecordingHost::poll_round() {
    const Micros now = kernel().now();
    for (Recorder& r : recorders_) {
        switch (r.phase) {
            case Phase::Idle:
                if (result_.job_aborted || loads_left_ == 0) {
                    r.phase = Phase::Done;
                } else if (post(r, ROVANE_MOVE_LOAD)) {
                    --loads_left_;
                } else {
                    r.phase = Phase::Done;
                }
                break;
            case Phase::Recording:
                if (result_.job_aborted) {
                    r.phase = Phase::Done;
                } else if (now >= r.recorded_at) {
                    if (auto drive = machine_.engine->recorder(r.unit)) drive->mark_recorded();
                    if (!post(r, r.failed ? ROVANE_MOVE_REJECT : ROVANE_MOVE_UNLOAD)) r.phase = Phase::Done;
                }
                break;
            case Phase::Loading:
            case Phase::Unloading: {
                const DWORD state = Rovane_CheckMoveDisc(static_cast<DWORD>(r.unit));
                if (state == ROVANE_IN_PROGRESS) break;
                if (state == ROVANE_DONE) {
                    ++result_.moves_done;
                    if (r.phase == Phase::Loading) {
                        r.phase = Phase::Recording;
                        r.recorded_at = now + config_.record_time;
                        r.failed = rng_.chance(config_.fail_rate);
                    } else {
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

    if (result_.init_result > 0 && !recorders_.empty()) {
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
        if (r.phase == Phase::Loading || r.phase == Phase::Unloading) ++result_.moves_unfinished;

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
    op.on_dialog(IDD_ROBOT_MESSAGE).containing("not picked").named("press Pick").then([robot] { robot->press_pick(); });
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
