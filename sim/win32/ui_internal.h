// Inside the simulated windows: shared by ui.cpp (windows, loops, messages) and controls.cpp.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "win32/resources.h"
#include "win32/ui.h"

namespace sim {

class World;

struct Window {
    HWND hwnd = nullptr;
    WindowKind kind = WindowKind::Dialog;
    uint32_t thread_id = 0;
    bool alive = true;
    std::string text;  // caption (dialogs, host windows), message (boxes), window text (controls)
    bool visible = false, enabled = true, minimised = false;
    bool show_called = false;  // ShowWindow was used before the dialog first appeared
    bool announced = false;    // shown to the operator
    HWND owner = nullptr;
    HWND disabled_owner = nullptr;  // the owner this modal window disabled
    Micros shown_at = 0;

    // Dialogs.
    int resource_id = 0;
    DLGPROC proc = nullptr;
    bool ended = false;
    INT_PTR result = 0;
    std::vector<HWND> controls;

    // Message boxes.
    std::string caption;
    UINT flags = 0;
    int answer = 0;

    // Controls.
    Window* parent = nullptr;
    int id = 0;
    ControlKind control = ControlKind::Text;
    bool group_start = false;
    int check = BST_UNCHECKED;
    std::vector<std::string> items;
    int selection = CB_ERR;
    int range_low = 100, range_high = 0, pos = 0;  // an up-down control's initial range is 100..0
    std::vector<UDACCEL> accels{UDACCEL{0, 1}};
    HWND buddy = nullptr;

    std::string describe() const;
};

struct SendRecord {
    uint32_t sender_id = 0;
    bool done = false;
    LRESULT result = 0;
};

struct Message {
    enum class Type { Sent, Notify, Posted, Input };
    Type type = Type::Posted;
    HWND hwnd = nullptr;
    UINT msg = 0;
    WPARAM wp = 0;
    LPARAM lp = 0;
    std::shared_ptr<SendRecord> reply;  // Sent
    std::function<void()> input;        // Input

    static Message to(Type type, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
        Message m;
        m.type = type;
        m.hwnd = hwnd;
        m.msg = msg;
        m.wp = wp;
        m.lp = lp;
        return m;
    }
};

// The messages waiting for one thread.
struct ThreadQueue {
    std::deque<Message> sent;    // sent from other threads (with or without a reply)
    std::deque<Message> posted;
    std::deque<Message> input;   // the operator's
    bool in_wait = false;        // the thread is blocked waiting for one of them
};

struct UiState {
    explicit UiState(World& w);

    World& world;
    // Destroyed windows stay a while, marked dead (code that destroyed one may still look at
    // it); the oldest dead ones are let go once more than kDeadWindowsKept have piled up. HWND
    // values are never reused, so a handle to a window let go stays invalid all the same.
    std::map<uintptr_t, std::unique_ptr<Window>> windows;
    std::deque<HWND> dead;  // oldest first
    static constexpr size_t kDeadWindowsKept = 64;
    std::map<uint32_t, ThreadQueue> queues;
    std::vector<HWND> shown;  // open boxes and dialogs, in the order shown
    uintptr_t next_hwnd = 0x000200A4;
    HCURSOR cursor = nullptr;  // set to the arrow by the constructor

    Window* find(HWND hwnd) const;
    Window* create(WindowKind kind, uint32_t thread_id);
    ThreadQueue& queue(uint32_t thread_id);
    uint32_t current_thread_id() const;
    void poke(uint32_t thread_id);
    void wait(const char* call);
    void record(const std::string& kind, const std::string& text);

    bool pump_one(bool sent_only);
    LRESULT deliver(Window* w, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT send(Window* w, UINT msg, WPARAM wp, LPARAM lp);
    void post(Window* w, UINT msg, WPARAM wp, LPARAM lp);
    void notify(Window* w, UINT msg, WPARAM wp, LPARAM lp);
    void notify_parent(Window* control, WORD code);
    void input(Window* target, std::function<void()> fn);
    void complete(const std::shared_ptr<SendRecord>& reply, LRESULT result);

    LRESULT dialog_message(Window* d, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT text_message(Window* w, UINT msg, WPARAM wp, LPARAM lp, bool* handled);
    Window* dialog_item(Window* d, int id) const;
    void text_changed(Window* w);

    void set_owner_disabled(Window* w, Window* owner);
    void restore_owner(Window* w);
    void destroy(Window* w);
    // Lets go the oldest dead windows beyond kDeadWindowsKept, and the empty message queues of
    // threads that have ended.
    void prune_dead();
    WindowInfo info(const Window* w) const;
    BOOL show(Window* w, int cmd);

    // controls.cpp
    void init_control(Window* c, const DialogItem& item, Window* previous);
    LRESULT control_message(Window* c, UINT msg, WPARAM wp, LPARAM lp);
    ControlState control_state(const Window* c) const;
    std::string control_text(const Window* c) const;
    std::string control_or_window_text(const Window* w) const;
    void perform_input(HWND dialog, const DialogAction& action);
};

std::string message_name_for_transcript(UINT msg);
std::string parameters_for_transcript(UINT msg, WPARAM wp, LPARAM lp);
HCURSOR system_cursor(int id);
std::string cursor_name(HCURSOR c);

}  // namespace sim
