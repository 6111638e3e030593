// Windows, message loops, message boxes, modal dialogs and messages between threads.
// The controls themselves are in controls.cpp.
#include "win32/ui.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kernel/transcript.h"
#include "win32/ui_internal.h"
#include "world/operator.h"
#include "world/world.h"

namespace sim {

// ---------------------------------------------------------------------------------------------
// Names for transcripts.

std::string button_name(int id) {
    switch (id) {
    case IDOK: return "IDOK";
    case IDCANCEL: return "IDCANCEL";
    case IDABORT: return "IDABORT";
    case IDRETRY: return "IDRETRY";
    case IDIGNORE: return "IDIGNORE";
    case IDYES: return "IDYES";
    case IDNO: return "IDNO";
    case 10: return "IDTRYAGAIN";
    case 11: return "IDCONTINUE";
    }
    return std::to_string(id);
}

std::vector<int> message_box_buttons(UINT flags) {
    switch (flags & MB_TYPEMASK) {
    case MB_OK: return {IDOK};
    case MB_OKCANCEL: return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE: return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL: return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO: return {IDYES, IDNO};
    case MB_RETRYCANCEL: return {IDRETRY, IDCANCEL};
    case 6: return {IDCANCEL, 10, 11};  // MB_CANCELTRYCONTINUE
    }
    return {};
}

namespace {

std::string message_name(UINT msg) {
    switch (msg) {
    case WM_NULL: return "WM_NULL";
    case WM_DESTROY: return "WM_DESTROY";
    case WM_SETTEXT: return "WM_SETTEXT";
    case WM_GETTEXT: return "WM_GETTEXT";
    case WM_GETTEXTLENGTH: return "WM_GETTEXTLENGTH";
    case WM_CLOSE: return "WM_CLOSE";
    case WM_SHOWWINDOW: return "WM_SHOWWINDOW";
    case WM_INITDIALOG: return "WM_INITDIALOG";
    case WM_COMMAND: return "WM_COMMAND";
    case WM_TIMER: return "WM_TIMER";
    case BM_GETCHECK: return "BM_GETCHECK";
    case BM_SETCHECK: return "BM_SETCHECK";
    case BM_CLICK: return "BM_CLICK";
    case CB_ADDSTRING: return "CB_ADDSTRING";
    case CB_DELETESTRING: return "CB_DELETESTRING";
    case CB_GETCOUNT: return "CB_GETCOUNT";
    case CB_GETCURSEL: return "CB_GETCURSEL";
    case CB_GETLBTEXT: return "CB_GETLBTEXT";
    case CB_GETLBTEXTLEN: return "CB_GETLBTEXTLEN";
    case CB_INSERTSTRING: return "CB_INSERTSTRING";
    case CB_RESETCONTENT: return "CB_RESETCONTENT";
    case CB_FINDSTRING: return "CB_FINDSTRING";
    case CB_SELECTSTRING: return "CB_SELECTSTRING";
    case CB_SETCURSEL: return "CB_SETCURSEL";
    case CB_FINDSTRINGEXACT: return "CB_FINDSTRINGEXACT";
    case UDM_SETRANGE: return "UDM_SETRANGE";
    case UDM_GETRANGE: return "UDM_GETRANGE";
    case UDM_SETPOS: return "UDM_SETPOS";
    case UDM_GETPOS: return "UDM_GETPOS";
    case UDM_SETBUDDY: return "UDM_SETBUDDY";
    case UDM_GETBUDDY: return "UDM_GETBUDDY";
    case UDM_SETACCEL: return "UDM_SETACCEL";
    case UDM_GETACCEL: return "UDM_GETACCEL";
    case UDM_SETRANGE32: return "UDM_SETRANGE32";
    case UDM_GETRANGE32: return "UDM_GETRANGE32";
    case UDM_SETPOS32: return "UDM_SETPOS32";
    case UDM_GETPOS32: return "UDM_GETPOS32";
    }
    char b[32];
    if (msg >= WM_USER && msg < 0x8000)
        std::snprintf(b, sizeof b, "WM_USER+%u", msg - WM_USER);
    else
        std::snprintf(b, sizeof b, "msg 0x%04x", msg);
    return b;
}

// Parameters as text. Pointers never appear (they differ from run to run); texts passed in do.
std::string parameters_text(UINT msg, WPARAM wp, LPARAM lp) {
    std::string out = "wParam=" + std::to_string(static_cast<long long>(static_cast<intptr_t>(wp)));
    switch (msg) {
    case WM_SETTEXT:
    case CB_ADDSTRING:
    case CB_INSERTSTRING:
    case CB_FINDSTRING:
    case CB_FINDSTRINGEXACT:
    case CB_SELECTSTRING:
        out += lp ? " text=\"" + Transcript::escape(reinterpret_cast<const char*>(lp)) + "\"" : " lParam=0";
        break;
    case WM_GETTEXT:
    case CB_GETLBTEXT:
    case UDM_SETACCEL:
    case UDM_GETACCEL:
    case UDM_GETRANGE32:
    case UDM_GETPOS32:
        out += " lParam=<buffer>";
        break;
    default: out += " lParam=" + std::to_string(static_cast<long long>(lp));
    }
    return out;
}

std::string hex(uintptr_t v) {
    char b[32];
    std::snprintf(b, sizeof b, "0x%llx", static_cast<unsigned long long>(v));
    return b;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Window bookkeeping.

std::string Window::describe() const {
    switch (kind) {
    case WindowKind::MessageBox: return "msgbox \"" + Transcript::escape(text) + "\"";
    case WindowKind::Dialog: return "dialog " + std::to_string(resource_id);
    case WindowKind::Control:
        return (parent ? parent->describe() + " " : std::string()) + "control " + std::to_string(id);
    case WindowKind::Host: return "window \"" + Transcript::escape(text) + "\"";
    }
    return "window";
}

UiState::UiState(World& w) : world(w) { cursor = system_cursor(32512); }

Window* UiState::find(HWND hwnd) const {
    auto it = windows.find(reinterpret_cast<uintptr_t>(hwnd));
    if (it == windows.end() || !it->second->alive) return nullptr;
    return it->second.get();
}

Window* UiState::create(WindowKind kind, uint32_t thread_id) {
    auto w = std::make_unique<Window>();
    w->hwnd = reinterpret_cast<HWND>(next_hwnd);
    next_hwnd += 4;
    w->kind = kind;
    w->thread_id = thread_id;
    Window* raw = w.get();
    windows[reinterpret_cast<uintptr_t>(raw->hwnd)] = std::move(w);
    return raw;
}

ThreadQueue& UiState::queue(uint32_t thread_id) { return queues[thread_id]; }

void UiState::poke(uint32_t thread_id) {
    ThreadQueue& q = queue(thread_id);
    if (!q.in_wait) return;
    if (SimThread* t = world.kernel().find_thread(thread_id)) world.kernel().wake(t);
}

void UiState::wait(const char* call) {
    SimThread* me = world.kernel().current();
    ThreadQueue& q = queue(me->id);
    q.in_wait = true;
    world.kernel().block(call);
    q.in_wait = false;
}

uint32_t UiState::current_thread_id() const {
    SimThread* t = world.kernel().current();
    return t ? t->id : 0;
}

void UiState::record(const std::string& kind, const std::string& text) { world.kernel().record(kind, text); }

void UiState::text_changed(Window* w) {
    Window* dialog = w->kind == WindowKind::Control ? w->parent : w;
    if (dialog && dialog->kind == WindowKind::Dialog && dialog->announced && !dialog->ended)
        world.op().window_changed(dialog->hwnd);
}

void UiState::complete(const std::shared_ptr<SendRecord>& reply, LRESULT result) {
    if (!reply || reply->done) return;
    reply->done = true;
    reply->result = result;
    poke(reply->sender_id);
}

// Handles one message on the current thread: sent messages first, then posted ones, then input.
bool UiState::pump_one(bool sent_only) {
    ThreadQueue& q = queue(current_thread_id());
    Message m;
    if (!q.sent.empty()) {
        m = std::move(q.sent.front());
        q.sent.pop_front();
    } else if (sent_only) {
        return false;
    } else if (!q.posted.empty()) {
        m = std::move(q.posted.front());
        q.posted.pop_front();
    } else if (!q.input.empty()) {
        m = std::move(q.input.front());
        q.input.pop_front();
    } else {
        return false;
    }
    if (m.type == Message::Type::Input) {
        m.input();
        return true;
    }
    Window* w = find(m.hwnd);
    const LRESULT r = w ? deliver(w, m.msg, m.wp, m.lp) : 0;
    if (m.type == Message::Type::Sent) complete(m.reply, r);
    return true;
}

// Calls the window's procedure (or the control's own handling) on the current thread.
LRESULT UiState::deliver(Window* w, UINT msg, WPARAM wp, LPARAM lp) {
    switch (w->kind) {
    case WindowKind::Control: return control_message(w, msg, wp, lp);
    case WindowKind::Dialog: return dialog_message(w, msg, wp, lp);
    case WindowKind::MessageBox:
    case WindowKind::Host: return text_message(w, msg, wp, lp, nullptr);
    }
    return 0;
}

// WM_SETTEXT / WM_GETTEXT / WM_GETTEXTLENGTH on any window. *handled tells whether it was one.
LRESULT UiState::text_message(Window* w, UINT msg, WPARAM wp, LPARAM lp, bool* handled) {
    if (handled) *handled = true;
    switch (msg) {
    case WM_SETTEXT: {
        const std::string text = lp ? reinterpret_cast<const char*>(lp) : "";
        if (text != w->text) {
            w->text = text;
            text_changed(w);
        }
        return TRUE;
    }
    case WM_GETTEXT: {
        const int n = static_cast<int>(wp);
        if (n <= 0 || !lp) return 0;
        const size_t len = std::min(w->text.size(), static_cast<size_t>(n - 1));
        std::memcpy(reinterpret_cast<char*>(lp), w->text.data(), len);
        reinterpret_cast<char*>(lp)[len] = '\0';
        return static_cast<LRESULT>(len);
    }
    case WM_GETTEXTLENGTH: return static_cast<LRESULT>(w->text.size());
    }
    if (handled) *handled = false;
    return 0;
}

LRESULT UiState::dialog_message(Window* d, UINT msg, WPARAM wp, LPARAM lp) {
    const INT_PTR r = d->proc ? d->proc(d->hwnd, msg, wp, lp) : FALSE;
    if (r) {
        // A handled message's result is the dialog's message result (always 0 here), except
        // for the few messages whose result is the procedure's own return value.
        return msg == WM_INITDIALOG ? static_cast<LRESULT>(r) : 0;
    }
    switch (msg) {
    case WM_CLOSE: {
        // The close box: the dialog procedure gets the Cancel command.
        Window* cancel = dialog_item(d, IDCANCEL);
        post(d, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel ? cancel->hwnd : nullptr));
        return 0;
    }
    default: return text_message(d, msg, wp, lp, nullptr);
    }
}

Window* UiState::dialog_item(Window* d, int id) const {
    for (HWND h : d->controls) {
        Window* c = find(h);
        if (c && c->id == id) return c;
    }
    return nullptr;
}

void UiState::post(Window* w, UINT msg, WPARAM wp, LPARAM lp) {
    Message m = Message::to(Message::Type::Posted, w->hwnd, msg, wp, lp);
    queue(w->thread_id).posted.push_back(std::move(m));
    poke(w->thread_id);
}

// SendMessage: the window's own thread calls it directly; another thread waits for the reply
// (handling the messages sent to its own windows meanwhile, as Windows does).
LRESULT UiState::send(Window* w, UINT msg, WPARAM wp, LPARAM lp) {
    if (w->kind == WindowKind::Control || w->kind == WindowKind::Host) return deliver(w, msg, wp, lp);
    const uint32_t me = current_thread_id();
    if (me == w->thread_id) return deliver(w, msg, wp, lp);
    record("message", "send to " + w->describe() + " " + message_name(msg) + " " + parameters_text(msg, wp, lp));
    if (me == 0) {
        // From the scheduler nobody can wait: the message is delivered without a reply.
        notify(w, msg, wp, lp);
        return 0;
    }
    auto reply = std::make_shared<SendRecord>();
    reply->sender_id = me;
    Message m = Message::to(Message::Type::Sent, w->hwnd, msg, wp, lp);
    m.reply = reply;
    queue(w->thread_id).sent.push_back(std::move(m));
    poke(w->thread_id);
    while (!reply->done) {
        if (!pump_one(true)) wait("SendMessageA");
    }
    return reply->result;
}

void UiState::notify(Window* w, UINT msg, WPARAM wp, LPARAM lp) {
    Message m = Message::to(Message::Type::Notify, w->hwnd, msg, wp, lp);
    queue(w->thread_id).sent.push_back(std::move(m));
    poke(w->thread_id);
}

// A control tells its dialog: WM_COMMAND with the control id and a notification code.
void UiState::notify_parent(Window* c, WORD code) {
    Window* d = c->parent;
    if (!d || !d->alive) return;
    const WPARAM wp = MAKEWPARAM(c->id, code);
    const LPARAM lp = reinterpret_cast<LPARAM>(c->hwnd);
    const uint32_t me = current_thread_id();
    if (me == d->thread_id)
        dialog_message(d, WM_COMMAND, wp, lp);
    else if (me != 0)
        send(d, WM_COMMAND, wp, lp);
    else
        notify(d, WM_COMMAND, wp, lp);
}

void UiState::input(Window* target, std::function<void()> fn) {
    Message m;
    m.type = Message::Type::Input;
    m.hwnd = target->hwnd;
    m.input = std::move(fn);
    queue(target->thread_id).input.push_back(std::move(m));
    poke(target->thread_id);
}

void UiState::set_owner_disabled(Window* w, Window* owner) {
    if (owner && owner->enabled) {
        owner->enabled = false;
        w->disabled_owner = owner->hwnd;
    }
}

void UiState::restore_owner(Window* w) {
    if (!w->disabled_owner) return;
    if (Window* owner = find(w->disabled_owner)) owner->enabled = true;
    w->disabled_owner = nullptr;
}

// Destroys a box or dialog with its controls; messages still queued for them are dropped and
// their senders released with 0.
void UiState::destroy(Window* w) {
    std::vector<HWND> gone = w->controls;
    gone.push_back(w->hwnd);
    for (HWND h : gone)
        if (Window* x = find(h)) x->alive = false;
    restore_owner(w);
    ThreadQueue& q = queue(w->thread_id);
    auto is_gone = [&](const Message& m) { return std::find(gone.begin(), gone.end(), m.hwnd) != gone.end(); };
    for (auto* dq : {&q.sent, &q.posted, &q.input}) {
        std::deque<Message> keep;
        for (Message& m : *dq) {
            if (!is_gone(m)) {
                keep.push_back(std::move(m));
            } else if (m.type == Message::Type::Sent) {
                complete(m.reply, 0);
            }
        }
        dq->swap(keep);
    }
    shown.erase(std::remove(shown.begin(), shown.end(), w->hwnd), shown.end());
    if (w->announced) world.op().window_closed(w->hwnd);
    dead.insert(dead.end(), gone.begin(), gone.end());
    prune_dead();
}

void UiState::prune_dead() {
    while (dead.size() > kDeadWindowsKept) {
        windows.erase(reinterpret_cast<uintptr_t>(dead.front()));
        dead.pop_front();
    }
    // A thread that has ended never pumps again; its queue goes once nothing waits in it.
    for (auto it = queues.begin(); it != queues.end();) {
        const SimThread* t = world.kernel().find_thread(it->first);
        const bool ended = !t || t->state == ThreadState::Finished || t->state == ThreadState::Terminated;
        const ThreadQueue& q = it->second;
        if (ended && !q.in_wait && q.sent.empty() && q.posted.empty() && q.input.empty())
            it = queues.erase(it);
        else
            ++it;
    }
}

WindowInfo UiState::info(const Window* w) const {
    WindowInfo i;
    i.hwnd = w->hwnd;
    i.kind = w->kind;
    i.resource_id = w->resource_id;
    i.caption = w->kind == WindowKind::MessageBox ? w->caption : w->text;
    i.text = w->kind == WindowKind::MessageBox ? w->text : std::string();
    i.flags = w->flags;
    i.thread_id = w->thread_id;
    SimThread* t = world.kernel().find_thread(w->thread_id);
    i.thread_name = t ? t->name : "";
    i.shown_at = w->shown_at;
    i.owner = w->owner;
    i.visible = w->visible;
    i.enabled = w->enabled;
    i.minimised = w->minimised;
    i.closing = w->ended;
    return i;
}

// ---------------------------------------------------------------------------------------------
// The world's side of the screen.

Ui::Ui(World& world) : state_(std::make_unique<UiState>(world)) {}
Ui::~Ui() = default;

std::vector<WindowInfo> Ui::open_windows() const {
    std::vector<WindowInfo> out;
    for (HWND h : state_->shown)
        if (Window* w = state_->find(h)) out.push_back(state_->info(w));
    return out;
}

std::optional<WindowInfo> Ui::window(HWND hwnd) const {
    Window* w = state_->find(hwnd);
    if (!w || (w->kind != WindowKind::MessageBox && w->kind != WindowKind::Dialog)) return std::nullopt;
    return state_->info(w);
}

HWND Ui::find_dialog(int resource_id) const {
    for (auto it = state_->shown.rbegin(); it != state_->shown.rend(); ++it) {
        Window* w = state_->find(*it);
        if (w && w->kind == WindowKind::Dialog && w->resource_id == resource_id) return w->hwnd;
    }
    return nullptr;
}

std::optional<ControlState> Ui::control(HWND dialog, int id) const {
    Window* d = state_->find(dialog);
    if (!d || d->kind != WindowKind::Dialog) return std::nullopt;
    Window* c = state_->dialog_item(d, id);
    if (!c) return std::nullopt;
    return state_->control_state(c);
}

std::vector<ControlState> Ui::controls(HWND dialog) const {
    std::vector<ControlState> out;
    Window* d = state_->find(dialog);
    if (!d || d->kind != WindowKind::Dialog) return out;
    for (HWND h : d->controls)
        if (Window* c = state_->find(h)) out.push_back(state_->control_state(c));
    return out;
}

std::vector<std::string> Ui::dialog_texts(HWND dialog) const {
    std::vector<std::string> out;
    Window* d = state_->find(dialog);
    if (!d) return out;
    out.push_back(d->text);
    for (HWND h : d->controls)
        if (Window* c = state_->find(h)) out.push_back(state_->control_text(c));
    return out;
}

HWND Ui::create_host_window(const std::string& caption) {
    Window* w = state_->create(WindowKind::Host, state_->current_thread_id());
    w->text = caption;
    w->visible = true;
    return w->hwnd;
}

bool Ui::input(HWND dialog, const DialogAction& action, std::function<void()> handled) {
    Window* d = state_->find(dialog);
    if (!d || d->kind != WindowKind::Dialog || d->ended) return false;
    UiState* s = state_.get();
    s->record("operator", d->describe() + ": " + action.describe());
    s->input(d, [s, dialog, action, handled = std::move(handled)] {
        s->perform_input(dialog, action);
        if (handled) handled();
    });
    return true;
}

bool Ui::answer(HWND message_box, int button) {
    Window* b = state_->find(message_box);
    if (!b || b->kind != WindowKind::MessageBox || b->answer != 0) return false;
    const std::vector<int> buttons = message_box_buttons(b->flags);
    if (std::find(buttons.begin(), buttons.end(), button) == buttons.end()) return false;
    UiState* s = state_.get();
    s->record("operator", "msgbox \"" + Transcript::escape(b->caption) + "\": " + button_name(button));
    s->input(b, [s, message_box, button] {
        if (Window* box = s->find(message_box))
            if (box->answer == 0) box->answer = button;
    });
    return true;
}

HCURSOR Ui::cursor() const { return state_->cursor; }

}  // namespace sim

// ---------------------------------------------------------------------------------------------
// The Win32 calls.

using sim::UiState;
using sim::Window;
using sim::WindowKind;

namespace {

UiState& ui() { return sim::world().ui().state(); }

Window* window_or_error(HWND hwnd) {
    Window* w = ui().find(hwnd);
    if (!w) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return w;
}

Window* dialog_item_or_error(HWND hDlg, int id) {
    Window* d = window_or_error(hDlg);
    if (!d) return nullptr;
    Window* c = ui().dialog_item(d, id);
    if (!c) SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
    return c;
}

void copy_text(const std::string& text, LPSTR buffer, int n) {
    if (!buffer || n <= 0) return;
    const size_t len = std::min(text.size(), static_cast<size_t>(n - 1));
    std::memcpy(buffer, text.data(), len);
    buffer[len] = '\0';
}

}  // namespace

extern "C" {

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType) {
    sim::enter_call("MessageBoxA");
    UiState& s = ui();
    Window* owner = nullptr;
    if (hWnd && !(owner = window_or_error(hWnd))) return 0;
    const uint32_t me = s.current_thread_id();
    if (me == 0) {
        std::fprintf(stderr, "simulated world: MessageBoxA called outside a simulated thread\n");
        std::abort();
    }
    Window* box = s.create(WindowKind::MessageBox, me);
    box->text = lpText ? lpText : "";
    box->caption = lpCaption ? lpCaption : "Error";
    box->flags = uType;
    box->owner = hWnd;
    box->visible = true;
    box->shown_at = s.world.kernel().now();
    char flags[16];
    std::snprintf(flags, sizeof flags, "0x%x", uType);
    s.record("window", "msgbox shown caption=\"" + sim::Transcript::escape(box->caption) + "\" flags=" + flags +
                           " text=\"" + sim::Transcript::escape(box->text) + "\"");
    s.set_owner_disabled(box, owner);
    s.shown.push_back(box->hwnd);
    box->announced = true;
    s.world.op().window_shown(box->hwnd);
    while (box->answer == 0) {
        if (!s.pump_one(false)) s.wait("MessageBoxA");
    }
    const int result = box->answer;
    s.record("window", "msgbox answered " + sim::button_name(result));
    s.destroy(box);
    return result;
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent, DLGPROC lpDialogFunc,
                               LPARAM dwInitParam) {
    sim::enter_call("DialogBoxParamA");
    UiState& s = ui();
    const sim::DialogTemplate* t =
        IS_INTRESOURCE(lpTemplateName)
            ? s.world.resources().dialog(hInstance, static_cast<int>(reinterpret_cast<uintptr_t>(lpTemplateName)))
            : nullptr;
    if (!t) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return -1;
    }
    Window* owner = nullptr;
    if (hWndParent && !(owner = window_or_error(hWndParent))) return 0;  // as Windows: 0 for a bad owner
    const uint32_t me = s.current_thread_id();
    if (me == 0) {
        std::fprintf(stderr, "simulated world: DialogBoxParamA called outside a simulated thread\n");
        std::abort();
    }
    Window* d = s.create(WindowKind::Dialog, me);
    d->resource_id = t->id;
    d->text = t->caption;
    d->proc = lpDialogFunc;
    d->owner = hWndParent;
    HWND focus = nullptr;
    Window* previous = nullptr;
    for (const sim::DialogItem& item : t->items) {
        Window* c = s.create(WindowKind::Control, me);
        c->parent = d;
        s.init_control(c, item, previous);
        d->controls.push_back(c->hwnd);
        if (!focus && (item.style() & sim::ws::kTabStop) && c->visible && c->enabled) focus = c->hwnd;
        previous = c;
    }
    s.set_owner_disabled(d, owner);
    s.dialog_message(d, WM_INITDIALOG, reinterpret_cast<WPARAM>(focus), dwInitParam);
    if (!d->ended) {
        if (!d->show_called) d->visible = true;
        d->shown_at = s.world.kernel().now();
        s.record("window", "dialog " + std::to_string(d->resource_id) + " shown caption=\"" +
                               sim::Transcript::escape(d->text) + "\"" + (d->minimised ? " minimised" : "") +
                               (d->visible ? "" : " hidden"));
        s.shown.push_back(d->hwnd);
        d->announced = true;
        s.world.op().window_shown(d->hwnd);
        while (!d->ended) {
            if (!s.pump_one(false)) s.wait("DialogBoxParamA");
        }
    }
    if (d->proc) d->proc(d->hwnd, WM_DESTROY, 0, 0);
    const INT_PTR result = d->result;
    s.record("window", "dialog " + std::to_string(d->resource_id) + " closed result=" +
                           std::to_string(static_cast<long long>(result)));
    s.destroy(d);
    return result;
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult) {
    sim::enter_call("EndDialog");
    UiState& s = ui();
    Window* d = window_or_error(hDlg);
    if (!d) return FALSE;
    if (d->kind != WindowKind::Dialog) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    d->ended = true;
    d->result = nResult;
    d->visible = false;
    s.restore_owner(d);
    s.poke(d->thread_id);
    return TRUE;
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem) {
    sim::enter_call("GetDlgItem");
    Window* c = dialog_item_or_error(hDlg, nIDDlgItem);
    return c ? c->hwnd : nullptr;
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    sim::enter_call("SendMessageA");
    Window* w = window_or_error(hWnd);
    return w ? ui().send(w, Msg, wParam, lParam) : 0;
}

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    sim::enter_call("PostMessageA");
    UiState& s = ui();
    Window* w = window_or_error(hWnd);
    if (!w) return FALSE;
    if (s.current_thread_id() != w->thread_id)
        s.record("message", "post to " + w->describe() + " " + sim::message_name_for_transcript(Msg) + " " +
                                sim::parameters_for_transcript(Msg, wParam, lParam));
    if (w->kind == WindowKind::Host) return TRUE;  // nobody reads the host's queue here
    s.post(w, Msg, wParam, lParam);
    return TRUE;
}

BOOL WINAPI SendNotifyMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    sim::enter_call("SendNotifyMessageA");
    UiState& s = ui();
    Window* w = window_or_error(hWnd);
    if (!w) return FALSE;
    if (w->kind == WindowKind::Control || w->kind == WindowKind::Host || s.current_thread_id() == w->thread_id) {
        s.deliver(w, Msg, wParam, lParam);
        return TRUE;
    }
    s.record("message", "notify " + w->describe() + " " + sim::message_name_for_transcript(Msg) + " " +
                            sim::parameters_for_transcript(Msg, wParam, lParam));
    s.notify(w, Msg, wParam, lParam);
    return TRUE;
}

LRESULT WINAPI SendDlgItemMessageA(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam, LPARAM lParam) {
    sim::enter_call("SendDlgItemMessageA");
    Window* c = dialog_item_or_error(hDlg, nIDDlgItem);
    return c ? ui().send(c, Msg, wParam, lParam) : 0;
}

BOOL WINAPI SetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPCSTR lpString) {
    sim::enter_call("SetDlgItemTextA");
    Window* c = dialog_item_or_error(hDlg, nIDDlgItem);
    if (!c) return FALSE;
    return ui().send(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)) != 0;
}

UINT WINAPI GetDlgItemTextA(HWND hDlg, int nIDDlgItem, LPSTR lpString, int cchMax) {
    sim::enter_call("GetDlgItemTextA");
    Window* c = dialog_item_or_error(hDlg, nIDDlgItem);
    if (!c) {
        copy_text("", lpString, cchMax);
        return 0;
    }
    return static_cast<UINT>(ui().send(c, WM_GETTEXT, static_cast<WPARAM>(cchMax), reinterpret_cast<LPARAM>(lpString)));
}

BOOL WINAPI SetDlgItemInt(HWND hDlg, int nIDDlgItem, UINT uValue, BOOL bSigned) {
    sim::enter_call("SetDlgItemInt");
    Window* c = dialog_item_or_error(hDlg, nIDDlgItem);
    if (!c) return FALSE;
    char text[16];
    if (bSigned)
        std::snprintf(text, sizeof text, "%d", static_cast<int>(uValue));
    else
        std::snprintf(text, sizeof text, "%u", uValue);
    ui().send(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    return TRUE;
}

UINT WINAPI GetDlgItemInt(HWND hDlg, int nIDDlgItem, BOOL* lpTranslated, BOOL bSigned) {
    sim::enter_call("GetDlgItemInt");
    if (lpTranslated) *lpTranslated = FALSE;
    Window* c = dialog_item_or_error(hDlg, nIDDlgItem);
    if (!c) return 0;
    char text[64];
    ui().send(c, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    // Leading blanks are skipped, then an optional sign (signed only) and decimal digits; the
    // translation stops at the first character that is no digit ("12ab" is 12, "0x10" is 0). No
    // digit at all fails, as does a value out of range.
    const char* p = text;
    while (*p == ' ') ++p;
    bool negative = false;
    if (bSigned && (*p == '-' || *p == '+')) negative = *p++ == '-';
    if (*p < '0' || *p > '9') return 0;
    unsigned long long v = 0;
    while (*p >= '0' && *p <= '9') {
        v = v * 10 + static_cast<unsigned>(*p++ - '0');
        if (v > 0xFFFFFFFFull) return 0;
    }
    if (bSigned) {
        if ((!negative && v > 0x7FFFFFFFull) || (negative && v > 0x80000000ull)) return 0;
        if (lpTranslated) *lpTranslated = TRUE;
        return negative ? static_cast<UINT>(-static_cast<long long>(v)) : static_cast<UINT>(v);
    }
    if (lpTranslated) *lpTranslated = TRUE;
    return static_cast<UINT>(v);
}

BOOL WINAPI CheckDlgButton(HWND hDlg, int nIDButton, UINT uCheck) {
    sim::enter_call("CheckDlgButton");
    Window* c = dialog_item_or_error(hDlg, nIDButton);
    if (!c) return FALSE;
    ui().send(c, BM_SETCHECK, uCheck, 0);
    return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND hDlg, int nIDButton) {
    sim::enter_call("IsDlgButtonChecked");
    Window* c = dialog_item_or_error(hDlg, nIDButton);
    return c ? static_cast<UINT>(ui().send(c, BM_GETCHECK, 0, 0)) : 0;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) {
    sim::enter_call("ShowWindow");
    Window* w = window_or_error(hWnd);
    return w ? ui().show(w, nCmdShow) : FALSE;
}

BOOL WINAPI EnableWindow(HWND hWnd, BOOL bEnable) {
    sim::enter_call("EnableWindow");
    Window* w = window_or_error(hWnd);
    if (!w) return FALSE;
    const BOOL was_disabled = !w->enabled;
    w->enabled = bEnable != FALSE;
    return was_disabled;
}

BOOL WINAPI IsWindow(HWND hWnd) {
    sim::enter_call("IsWindow");
    return ui().find(hWnd) != nullptr;
}

BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString) {
    sim::enter_call("SetWindowTextA");
    Window* w = window_or_error(hWnd);
    if (!w) return FALSE;
    return ui().send(w, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)) != 0;
}

int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount) {
    sim::enter_call("GetWindowTextA");
    Window* w = window_or_error(hWnd);
    if (!w) {
        copy_text("", lpString, nMaxCount);
        return 0;
    }
    // The text is read without a message, so that a busy window's thread does not hold it up.
    const std::string text = ui().control_or_window_text(w);
    if (!lpString || nMaxCount <= 0) return 0;
    copy_text(text, lpString, nMaxCount);
    return static_cast<int>(std::min(text.size(), static_cast<size_t>(nMaxCount - 1)));
}

HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName) {
    sim::enter_call("LoadCursorA");
    const uintptr_t id = reinterpret_cast<uintptr_t>(lpCursorName);
    // The system's cursors (IDC_ARROW 32512 to IDC_HELP 32651); the module has none of its own.
    if (hInstance || !IS_INTRESOURCE(lpCursorName) || id < 32512 || id > 32651) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    return sim::system_cursor(static_cast<int>(id));
}

HCURSOR WINAPI SetCursor(HCURSOR hCursor) {
    sim::enter_call("SetCursor");
    UiState& s = ui();
    HCURSOR previous = s.cursor;
    s.cursor = hCursor;
    if (hCursor != previous) s.record("cursor", "cursor " + sim::cursor_name(hCursor));
    return previous;
}

BOOL WINAPI InitCommonControlsEx(const INITCOMMONCONTROLSEX* picce) {
    sim::enter_call("InitCommonControlsEx");
    return picce && picce->dwSize == sizeof(INITCOMMONCONTROLSEX) ? TRUE : FALSE;
}

}  // extern "C"

namespace sim {

std::string message_name_for_transcript(UINT msg) { return message_name(msg); }
std::string parameters_for_transcript(UINT msg, WPARAM wp, LPARAM lp) { return parameters_text(msg, wp, lp); }

HCURSOR system_cursor(int id) { return reinterpret_cast<HCURSOR>(static_cast<uintptr_t>(0x00650000u + id)); }

std::string cursor_name(HCURSOR c) {
    if (!c) return "none";
    const uintptr_t v = reinterpret_cast<uintptr_t>(c);
    if (v == 0x00650000u + 32512) return "arrow";
    if (v == 0x00650000u + 32514) return "wait";
    if (v > 0x00650000u && v < 0x00660000u) return "system " + std::to_string(v - 0x00650000u);
    return hex(v);
}

}  // namespace sim
