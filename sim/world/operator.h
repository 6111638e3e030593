// The person at the machine: reads the message boxes and dialogs the module shows and answers
// them, after a moment's thought, according to rules a test sets up.
//
//   world.op().on_message_box("The input bin is empty").answer(IDRETRY).after(3 * sim::kSecond);
//   world.op().on_dialog(117).containing("paused").then([&] { robot.press_pause(); }).times(1);
//   world.op().on_dialog(119).select(1080, "COM2").click(IDOK);
//
// Rules are tried in the order they were added (fallback rules after all others); the first that
// matches a window answers it.
// A message box is examined when it appears; a dialog when it appears and again whenever the
// text of its caption or of one of its controls changes (a dialog that updates its message in
// place is answered by its new text). An answer is given after the rule's think time (default
// 1.5 s of virtual time): first the rule's side effect runs (on the scheduler, it must not
// block), then the message box button is pressed or the dialog actions are performed, in order.
// A window that changes so that its pending rule no longer matches is examined afresh.
//
// A dialog's actions follow each other as a person's hands do: each waits until the dialog has
// dealt with the one before, so that a message box (or dialog) the one before opened has been
// answered by the rules and has gone first. Meanwhile the operator is busy with that dialog: an
// answer that comes due for it joins the end of the actions, and a change of its texts is looked
// at once the last action has been dealt with.
//
// A window that is still open `unanswered_window_limit` (WorldConfig) after it appeared or was
// last answered, with no answer pending, stops the run with a report that names it. What a window
// waits on decides when its time starts: a message box waits on nobody but the operator; a
// dialog with something to press, tick, choose or type can also close by itself once the module
// goes on, and the module may be waiting on a message box meanwhile, so its time starts again
// whenever a message box was open; a window with nothing to answer at all (a progress window such
// as "Printing") waits on whatever its owner waits on, so its time starts again whenever any
// window that asks for an answer was open. The watch thus names the window the run is really
// stuck on, and a progress window that its owner never closes is still reported, the limit after
// the last window that asked for an answer went.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "win32/ui.h"

namespace sim {

class World;

class Operator {
public:
    struct Rule {
        // --- what it matches -------------------------------------------------------------
        bool for_dialog = false;
        std::string text;                    // substring of the box's text / of a dialog text
        std::optional<std::string> caption;  // message boxes: the exact caption
        std::optional<UINT> flags;           // message boxes: the exact flags
        int dialog_id = 0;                   // dialogs: the template id
        // --- how it answers --------------------------------------------------------------
        int button = 0;                      // message boxes
        std::vector<DialogAction> actions;   // dialogs
        std::function<void()> side_effect;
        std::optional<Micros> think;
        // Dialogs: when the dialog is still open, unchanged and unanswered this long after the
        // answer, the operator looks at it again (a person presses Pick once more when the
        // message is still there).
        std::optional<Micros> again;
        int uses_left = -1;                  // -1: unlimited
        int used = 0;                        // answers given (or scheduled)
        std::string name;
        bool fallback = false;               // tried after the other rules (make_rules_fallbacks)

        Rule& with_caption(const std::string& c) { caption = c; return *this; }
        Rule& with_flags(UINT f) { flags = f; return *this; }
        Rule& containing(const std::string& t) { text = t; return *this; }
        Rule& answer(int b) { button = b; return *this; }
        Rule& click(int id) { actions.push_back(DialogAction::click(id)); return *this; }
        Rule& check(int id, bool on = true) { actions.push_back(DialogAction::check(id, on)); return *this; }
        Rule& select(int id, int index) { actions.push_back(DialogAction::select(id, index)); return *this; }
        Rule& select(int id, const std::string& t) { actions.push_back(DialogAction::select(id, t)); return *this; }
        Rule& type(int id, const std::string& t) { actions.push_back(DialogAction::type(id, t)); return *this; }
        Rule& close() { actions.push_back(DialogAction::close()); return *this; }
        Rule& spin(int id, int steps) { actions.push_back(DialogAction::spin(id, steps)); return *this; }
        Rule& hold(int id, int direction, Micros d) { actions.push_back(DialogAction::hold(id, direction, d)); return *this; }
        Rule& then(std::function<void()> fn) { side_effect = std::move(fn); return *this; }
        Rule& after(Micros t) { think = t; return *this; }
        Rule& again_after(Micros t) { again = t; return *this; }
        Rule& times(int n) { uses_left = n; return *this; }
        Rule& named(const std::string& n) { name = n; return *this; }
    };

    enum class DefaultAnswer {
        None,         // a message box no rule matches stays open
        FirstButton,  // ... is answered with its first button (OK, Abort, Yes or Retry)
        OkOnly,       // ... is answered when OK is its only button (a notice); others stay open
    };

    explicit Operator(World& world);
    ~Operator();
    Operator(const Operator&) = delete;
    Operator& operator=(const Operator&) = delete;

    // A rule for message boxes whose text contains `text_contains` ("" matches every box).
    Rule& on_message_box(const std::string& text_contains);
    // A rule for dialogs made from this template.
    Rule& on_dialog(int resource_id);
    void clear_rules();
    // The rules added so far are tried after every rule added later, whenever that is added: a
    // default operator installed first, whose rules a host script's own answer lines override.
    // A fallback rule for message boxes answers only the boxes that offer its button.
    void make_rules_fallbacks();

    void set_default_answer(DefaultAnswer a) { default_answer_ = a; }
    void set_think_time(Micros t) { think_time_ = t; }
    Micros think_time() const { return think_time_; }
    size_t answers_given() const { return answers_given_; }

    // --- called by the windows ----------------------------------------------------------------
    void window_shown(HWND hwnd);
    void window_changed(HWND hwnd);
    void window_closed(HWND hwnd);

private:
    struct Pending {
        Rule* rule = nullptr;  // nullptr: the default answer
        uint64_t token = 0;
    };
    // What a window asks of the operator, most first; a window may be waiting on an open one
    // that asks more than it does.
    enum class Asks { Answer = 0, Input = 1, Nothing = 2 };  // a message box, a dialog, a progress window
    struct Watched {
        Micros attention = 0;  // shown, or last answered
        Asks asks = Asks::Answer;
    };
    // A dialog the operator's hands are on: the actions still to come after the one it is
    // dealing with, and whether its texts changed meanwhile.
    struct Hands {
        std::deque<DialogAction> actions;
        bool changed = false;
    };

    void examine(HWND hwnd);
    bool matches(const Rule& rule, const WindowInfo& info) const;
    void schedule(HWND hwnd, Rule* rule, Micros think);
    void perform(HWND hwnd, uint64_t token);
    void act(HWND hwnd);
    void arm_watchdog(Micros when);
    void watchdog();
    std::string describe(const WindowInfo& info) const;
    Asks asks_of(const WindowInfo& info) const;

    World& world_;
    std::vector<std::unique_ptr<Rule>> rules_;
    std::map<HWND, Pending> pending_;
    std::map<HWND, Watched> watched_;
    std::map<HWND, Hands> hands_;
    DefaultAnswer default_answer_ = DefaultAnswer::None;
    Micros think_time_ = 1500 * kMs;
    uint64_t next_token_ = 0;
    size_t answers_given_ = 0;
    bool watchdog_armed_ = false;
    Micros watchdog_at_ = 0;
    // When a window of each kind (Asks) last closed.
    Micros last_closed_[3] = {0, 0, 0};
};

}  // namespace sim
