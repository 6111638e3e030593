// Windows, message boxes and modal dialogs in the simulated world.
//
// Every window belongs to the simulated thread that created it. A thread that runs a message box
// or a modal dialog runs a message loop: it blocks until a message arrives, handles messages sent
// to its windows from other threads first, then posted messages, then the operator's input, and
// returns when the box is answered or EndDialog has been called. Messages sent from a window's
// own thread call its procedure directly. Controls (static texts, edits, buttons, check boxes,
// radio buttons, combo boxes, up-down controls) handle the messages sent to them themselves, at
// once, on the caller's thread; their notifications (BN_CLICKED, EN_CHANGE, CBN_SELCHANGE) go
// to the dialog's procedure as WM_COMMAND like any other message.
//
// HWND values are unique and never reused; a destroyed window's handle stays invalid.
//
// Transcript kinds: "window" (boxes and dialogs shown, answered, closed, minimised ...),
// "message" (messages that cross threads), "cursor" (SetCursor), "operator" (input).
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "win32/resources.h"

namespace sim {

class World;

enum class WindowKind { MessageBox, Dialog, Control, Host };

// A message box or a dialog, as the operator and the tests see it.
struct WindowInfo {
    HWND hwnd = nullptr;
    WindowKind kind = WindowKind::Dialog;
    int resource_id = 0;     // dialogs: the template id
    std::string caption;
    std::string text;        // message boxes: the message
    UINT flags = 0;          // message boxes: the MB_ flags
    uint32_t thread_id = 0;  // the thread whose loop runs it
    std::string thread_name;
    Micros shown_at = 0;
    HWND owner = nullptr;
    bool visible = false, enabled = true, minimised = false;
    bool closing = false;    // EndDialog has been called; it goes away after the current message
};

// One control of a dialog.
struct ControlState {
    HWND hwnd = nullptr;
    int id = 0;
    ControlKind kind = ControlKind::Text;
    std::string text;                 // window text (a combo box: its selected item)
    int check = BST_UNCHECKED;        // check boxes and radio buttons
    std::vector<std::string> items;   // combo boxes
    int selection = CB_ERR;           // combo boxes
    int range_low = 0, range_high = 0, pos = 0;  // up-down controls
    std::vector<UDACCEL> accels;      // up-down controls
    HWND buddy = nullptr;             // up-down controls
    bool visible = true, enabled = true;
};

// Something the operator does to a dialog. Performed on the dialog's thread, in its message
// loop: the control changes first, then the dialog procedure gets the notification.
struct DialogAction {
    enum class Kind { Click, Check, Select, SelectText, Type, Close, Spin, Hold };
    Kind kind = Kind::Click;
    int id = 0;
    bool on = false;        // Check
    int index = -1;         // Select
    std::string text;       // SelectText, Type
    int steps = 0;          // Spin: arrow clicks, negative for the down arrow; Hold: +1 up, -1 down
    Micros duration = 0;    // Hold

    // Clicks a button; a check box toggles, a radio button checks itself (BN_CLICKED).
    static DialogAction click(int id);
    // Clicks a check box or radio button only if its check differs from `on`.
    static DialogAction check(int id, bool on);
    // Chooses a combo box item by index or by its exact text (CBN_SELCHANGE).
    static DialogAction select(int id, int index);
    static DialogAction select(int id, const std::string& text);
    // Replaces the text of an edit field (EN_CHANGE).
    static DialogAction type(int id, const std::string& text);
    // The window's close box (WM_CLOSE).
    static DialogAction close();
    // Clicks an up-down control's arrow `steps` times; each click moves by the first
    // acceleration's increment.
    static DialogAction spin(int id, int steps);
    // Holds an arrow down for `duration`: one step when pressed, then, after half a second, one
    // step every 100 ms, each by the increment of the last acceleration whose time has passed.
    static DialogAction hold(int id, int direction, Micros duration);

    std::string describe() const;
};

// The buttons a message box with these flags offers, in order (IDOK, IDCANCEL, ...).
std::vector<int> message_box_buttons(UINT flags);
// "IDOK", "IDRETRY", ... or the number.
std::string button_name(int id);

struct UiState;

class Ui {
public:
    explicit Ui(World& world);
    ~Ui();
    Ui(const Ui&) = delete;
    Ui& operator=(const Ui&) = delete;

    // --- looking at the screen -------------------------------------------------------------
    // Open message boxes and dialogs, in the order they were shown.
    std::vector<WindowInfo> open_windows() const;
    std::optional<WindowInfo> window(HWND hwnd) const;
    // The most recently shown open dialog made from this template, or nullptr.
    HWND find_dialog(int resource_id) const;
    std::optional<ControlState> control(HWND dialog, int id) const;
    std::vector<ControlState> controls(HWND dialog) const;
    // The texts of a dialog's caption and controls (what the operator reads).
    std::vector<std::string> dialog_texts(HWND dialog) const;

    // A top-level window of the host application (e.g. the owner window it hands the module).
    // It belongs to the calling simulated thread and has no procedure of its own: messages sent
    // to it return 0, posted ones are dropped.
    HWND create_host_window(const std::string& caption);

    // --- the operator's hands ----------------------------------------------------------------
    // Queue input for a dialog's thread. False when the dialog is not open (or is closing).
    // `handled`, when given, runs on the dialog's thread once the dialog has dealt with the input
    // (after any message box or dialog its handling showed has gone); it does not run when the
    // dialog goes before the input reaches it.
    bool input(HWND dialog, const DialogAction& action, std::function<void()> handled = nullptr);
    bool click(HWND dialog, int id) { return input(dialog, DialogAction::click(id)); }
    bool set_check(HWND dialog, int id, bool on) { return input(dialog, DialogAction::check(id, on)); }
    bool select(HWND dialog, int id, int index) { return input(dialog, DialogAction::select(id, index)); }
    bool select(HWND dialog, int id, const std::string& text) { return input(dialog, DialogAction::select(id, text)); }
    bool type(HWND dialog, int id, const std::string& text) { return input(dialog, DialogAction::type(id, text)); }
    bool close(HWND dialog) { return input(dialog, DialogAction::close()); }
    // Presses a button of a message box. False when the box is not open or has no such button.
    bool answer(HWND message_box, int button);

    HCURSOR cursor() const;

    UiState& state() { return *state_; }

private:
    std::unique_ptr<UiState> state_;
};

}  // namespace sim
