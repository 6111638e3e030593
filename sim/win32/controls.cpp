// The controls of simulated dialogs: static texts, edit fields, buttons, check boxes, radio
// buttons, drop-down lists and up-down controls. Each handles the messages sent to it at once,
// on the caller's thread, as the real controls' window procedures do; notifications to the
// dialog go through UiState::notify_parent.
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kernel/transcript.h"
#include "resource.h"
#include "win32/ui_internal.h"
#include "world/world.h"

namespace sim {

namespace {

int as_int(WPARAM wp) { return static_cast<int>(static_cast<intptr_t>(wp)); }

bool is_button(ControlKind k) {
    return k == ControlKind::PushButton || k == ControlKind::DefPushButton || k == ControlKind::CheckBox ||
           k == ControlKind::RadioButton || k == ControlKind::GroupBox;
}

bool equal_nocase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
    return true;
}

bool prefix_nocase(const std::string& prefix, const std::string& s) {
    return s.size() >= prefix.size() && equal_nocase(prefix, s.substr(0, prefix.size()));
}

// The list search of CB_FINDSTRING and friends: starts after `start` (-1: at the top), wraps
// around and ends with `start` itself.
int find_item(const std::vector<std::string>& items, int start, const std::string& s, bool exact) {
    const int n = static_cast<int>(items.size());
    if (n == 0) return CB_ERR;
    if (start < -1 || start >= n) start = -1;
    for (int k = 1; k <= n; ++k) {
        const int i = (start + k) % n;
        if (exact ? equal_nocase(s, items[static_cast<size_t>(i)]) : prefix_nocase(s, items[static_cast<size_t>(i)]))
            return i;
    }
    return CB_ERR;
}

}  // namespace

void UiState::init_control(Window* c, const DialogItem& item, Window* previous) {
    c->id = item.id;
    c->control = item.kind;
    c->text = item.text;
    c->visible = !item.hidden();
    c->enabled = !item.disabled();
    c->group_start = (item.style() & ws::kGroup) != 0;
    if (item.kind == ControlKind::UpDown && previous) c->buddy = previous->hwnd;
}

std::string UiState::control_text(const Window* c) const {
    if (c->control == ControlKind::ComboBox)
        return c->selection >= 0 && c->selection < static_cast<int>(c->items.size())
                   ? c->items[static_cast<size_t>(c->selection)]
                   : std::string();
    return c->text;
}

std::string UiState::control_or_window_text(const Window* w) const {
    return w->kind == WindowKind::Control ? control_text(w) : w->text;
}

ControlState UiState::control_state(const Window* c) const {
    ControlState s;
    s.hwnd = c->hwnd;
    s.id = c->id;
    s.kind = c->control;
    s.text = control_text(c);
    s.check = c->check;
    s.items = c->items;
    s.selection = c->selection;
    s.range_low = c->range_low;
    s.range_high = c->range_high;
    s.pos = c->pos;
    s.accels = c->accels;
    s.buddy = c->buddy;
    s.visible = c->visible;
    s.enabled = c->enabled;
    return s;
}

namespace {

// Moves an up-down control, within its range, and shows the position in its buddy.
int set_updown_pos(UiState& s, Window* c, long long value) {
    const int lo = std::min(c->range_low, c->range_high), hi = std::max(c->range_low, c->range_high);
    const int v = static_cast<int>(std::max<long long>(lo, std::min<long long>(hi, value)));
    const int previous = c->pos;
    c->pos = v;
    if (Window* buddy = s.find(c->buddy)) {
        char text[16];
        std::snprintf(text, sizeof text, "%d", v);
        s.control_message(buddy, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    }
    return previous;
}

// Reads the position back from the buddy's text; false when it is not a number in range.
bool updown_pos_from_buddy(UiState& s, Window* c) {
    Window* buddy = s.find(c->buddy);
    if (!buddy) return true;
    const std::string text = s.control_text(buddy);
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end) return false;
    const int lo = std::min(c->range_low, c->range_high), hi = std::max(c->range_low, c->range_high);
    if (v < lo || v > hi) return false;
    c->pos = static_cast<int>(v);
    return true;
}

void select_item(UiState& s, Window* c, int index) {
    if (c->selection == index) return;
    c->selection = index;
    s.text_changed(c);
}

}  // namespace

LRESULT UiState::control_message(Window* c, UINT msg, WPARAM wp, LPARAM lp) {
    switch (c->control) {
    case ControlKind::Text:
    case ControlKind::CenteredText:
        return text_message(c, msg, wp, lp, nullptr);

    case ControlKind::Edit:
        if (msg == WM_SETTEXT) {
            text_message(c, msg, wp, lp, nullptr);
            notify_parent(c, EN_CHANGE);
            return TRUE;
        }
        return text_message(c, msg, wp, lp, nullptr);

    case ControlKind::PushButton:
    case ControlKind::DefPushButton:
    case ControlKind::CheckBox:
    case ControlKind::RadioButton:
    case ControlKind::GroupBox:
        switch (msg) {
        case BM_GETCHECK: return c->check;
        case BM_SETCHECK:
            if (c->control == ControlKind::CheckBox || c->control == ControlKind::RadioButton)
                c->check = static_cast<int>(wp) == BST_CHECKED ? BST_CHECKED : BST_UNCHECKED;
            return 0;
        case BM_CLICK:
            if (!c->enabled || c->control == ControlKind::GroupBox) return 0;
            if (c->control == ControlKind::CheckBox) {
                c->check = c->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
            } else if (c->control == ControlKind::RadioButton) {
                // The group: from the nearest control that starts one up to the next.
                Window* d = c->parent;
                std::vector<Window*> all;
                for (HWND h : d->controls)
                    if (Window* x = find(h)) all.push_back(x);
                const auto me = std::find(all.begin(), all.end(), c) - all.begin();
                long first = me;
                while (first > 0 && !all[static_cast<size_t>(first)]->group_start) --first;
                long last = me + 1;
                while (last < static_cast<long>(all.size()) && !all[static_cast<size_t>(last)]->group_start) ++last;
                for (long i = first; i < last; ++i)
                    if (all[static_cast<size_t>(i)]->control == ControlKind::RadioButton)
                        all[static_cast<size_t>(i)]->check = BST_UNCHECKED;
                c->check = BST_CHECKED;
            }
            notify_parent(c, BN_CLICKED);
            return 0;
        }
        return text_message(c, msg, wp, lp, nullptr);

    case ControlKind::ComboBox: {
        std::vector<std::string>& items = c->items;
        const int n = static_cast<int>(items.size());
        const char* s = reinterpret_cast<const char*>(lp);
        switch (msg) {
        case CB_ADDSTRING:
            if (!s) return CB_ERR;
            items.push_back(s);
            return n;
        case CB_INSERTSTRING: {
            if (!s) return CB_ERR;
            int i = as_int(wp);
            if (i == -1) i = n;
            if (i < 0 || i > n) return CB_ERR;
            items.insert(items.begin() + i, s);
            if (c->selection >= i) ++c->selection;
            return i;
        }
        case CB_DELETESTRING: {
            const int i = as_int(wp);
            if (i < 0 || i >= n) return CB_ERR;
            items.erase(items.begin() + i);
            if (c->selection == i)
                select_item(*this, c, CB_ERR);
            else if (c->selection > i)
                --c->selection;
            return n - 1;
        }
        case CB_RESETCONTENT:
            items.clear();
            select_item(*this, c, CB_ERR);
            // TRUE, whatever the documentation's CB_OKAY (0) says: Windows answers 1.
            return TRUE;
        case CB_GETCOUNT: return n;
        case CB_SETCURSEL: {
            const int i = as_int(wp);
            if (i == -1) {
                select_item(*this, c, CB_ERR);
                return CB_ERR;
            }
            // An index past the list is refused and leaves the selection as it was (the
            // documentation says it clears it; Windows does not).
            if (i < 0 || i >= n) return CB_ERR;
            select_item(*this, c, i);
            return i;
        }
        case CB_GETCURSEL: return c->selection;
        case CB_GETLBTEXT: {
            const int i = as_int(wp);
            if (i < 0 || i >= n || !lp) return CB_ERR;
            const std::string& t = items[static_cast<size_t>(i)];
            std::memcpy(reinterpret_cast<char*>(lp), t.c_str(), t.size() + 1);
            return static_cast<LRESULT>(t.size());
        }
        case CB_GETLBTEXTLEN: {
            const int i = as_int(wp);
            if (i < 0 || i >= n) return CB_ERR;
            return static_cast<LRESULT>(items[static_cast<size_t>(i)].size());
        }
        case CB_FINDSTRING: return s ? find_item(items, as_int(wp), s, false) : CB_ERR;
        case CB_FINDSTRINGEXACT: return s ? find_item(items, as_int(wp), s, true) : CB_ERR;
        case CB_SELECTSTRING: {
            const int i = s ? find_item(items, as_int(wp), s, false) : CB_ERR;
            if (i != CB_ERR) select_item(*this, c, i);
            return i;
        }
        case WM_SETTEXT: {
            // A drop-down list shows only its items: the text must be one of them.
            const int i = s ? find_item(items, -1, s, true) : CB_ERR;
            if (i == CB_ERR) return CB_ERR;
            select_item(*this, c, i);
            return TRUE;
        }
        case WM_GETTEXT:
        case WM_GETTEXTLENGTH: {
            Window shown_text = *c;
            shown_text.text = control_text(c);
            bool handled = false;
            return text_message(&shown_text, msg, wp, lp, &handled);
        }
        }
        return 0;
    }

    case ControlKind::UpDown:
        switch (msg) {
        case UDM_SETRANGE:
            c->range_high = static_cast<short>(LOWORD(lp));
            c->range_low = static_cast<short>(HIWORD(lp));
            return 0;
        case UDM_GETRANGE: return static_cast<LRESULT>(static_cast<DWORD>(MAKELONG(c->range_high, c->range_low)));
        case UDM_SETRANGE32:
            c->range_low = as_int(wp);
            c->range_high = static_cast<int>(lp);
            return 0;
        case UDM_GETRANGE32:
            if (wp) *reinterpret_cast<int*>(wp) = c->range_low;
            if (lp) *reinterpret_cast<int*>(lp) = c->range_high;
            return 0;
        case UDM_SETPOS: return set_updown_pos(*this, c, static_cast<short>(LOWORD(lp)));
        case UDM_SETPOS32: return set_updown_pos(*this, c, static_cast<int>(lp));
        case UDM_GETPOS: {
            const bool ok = updown_pos_from_buddy(*this, c);
            return static_cast<LRESULT>(static_cast<DWORD>(MAKELONG(c->pos, ok ? 0 : 1)));
        }
        case UDM_GETPOS32: {
            const bool ok = updown_pos_from_buddy(*this, c);
            if (lp) *reinterpret_cast<BOOL*>(lp) = ok ? FALSE : TRUE;
            return c->pos;
        }
        case UDM_SETACCEL: {
            const UINT count = static_cast<UINT>(wp);
            if (count == 0 || !lp) return FALSE;
            const UDACCEL* a = reinterpret_cast<const UDACCEL*>(lp);
            c->accels.assign(a, a + count);
            return TRUE;
        }
        case UDM_GETACCEL: {
            const size_t count = static_cast<size_t>(wp);
            if (lp) {
                UDACCEL* a = reinterpret_cast<UDACCEL*>(lp);
                for (size_t i = 0; i < std::min(count, c->accels.size()); ++i) a[i] = c->accels[i];
            }
            return static_cast<LRESULT>(c->accels.size());
        }
        case UDM_SETBUDDY: {
            HWND previous = c->buddy;
            c->buddy = reinterpret_cast<HWND>(wp);
            return reinterpret_cast<LRESULT>(previous);
        }
        case UDM_GETBUDDY: return reinterpret_cast<LRESULT>(c->buddy);
        }
        return text_message(c, msg, wp, lp, nullptr);
    }
    return 0;
}

BOOL UiState::show(Window* w, int cmd) {
    const bool was_visible = w->visible;
    const bool was_minimised = w->minimised;
    switch (cmd) {
    case SW_HIDE: w->visible = false; break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE:
        w->visible = true;
        w->minimised = true;
        break;
    case SW_SHOWNORMAL:
    case SW_SHOWMAXIMIZED:
    case SW_SHOWNOACTIVATE:
    case SW_RESTORE:
        w->visible = true;
        w->minimised = false;
        break;
    default: w->visible = true; break;  // SW_SHOW, SW_SHOWNA: as it was, now visible
    }
    w->show_called = true;
    if (w->announced && (w->visible != was_visible || w->minimised != was_minimised)) {
        const char* state = !w->visible ? "hidden" : w->minimised ? "minimised" : was_minimised ? "restored" : "shown";
        record("window", w->describe() + " " + state);
    }
    return was_visible ? TRUE : FALSE;
}

// The operator's input, on the dialog's thread.
void UiState::perform_input(HWND dialog, const DialogAction& a) {
    Window* d = find(dialog);
    const std::string what = a.describe();
    if (!d || d->ended) {
        record("operator", "dialog gone before: " + what);
        return;
    }
    const std::string where = d->describe() + ": " + what;
    if (!d->enabled || !d->visible) {
        record("operator", where + " ignored: the dialog is " + (d->enabled ? "hidden" : "disabled"));
        return;
    }
    if (a.kind == DialogAction::Kind::Close) {
        deliver(d, WM_CLOSE, 0, 0);
        return;
    }
    Window* c = dialog_item(d, a.id);
    auto refuse = [&](const std::string& why) {
        world.kernel().fail("operator: " + where + " is impossible: " + why);
    };
    if (!c) return refuse("the dialog has no such control");
    if (!c->visible || !c->enabled) {
        record("operator", where + " ignored: the control is " + (c->enabled ? "hidden" : "disabled"));
        return;
    }
    switch (a.kind) {
    case DialogAction::Kind::Click:
        if (is_button(c->control)) control_message(c, BM_CLICK, 0, 0);
        return;
    case DialogAction::Kind::Check: {
        if (c->control != ControlKind::CheckBox && c->control != ControlKind::RadioButton)
            return refuse(std::string("it is a ") + control_kind_name(c->control));
        const int want = a.on ? BST_CHECKED : BST_UNCHECKED;
        if (c->check == want) return;
        if (c->control == ControlKind::RadioButton && !a.on) {
            record("operator", where + " ignored: a radio button is cleared by choosing another");
            return;
        }
        control_message(c, BM_CLICK, 0, 0);
        return;
    }
    case DialogAction::Kind::Select:
    case DialogAction::Kind::SelectText: {
        if (c->control != ControlKind::ComboBox) return refuse(std::string("it is a ") + control_kind_name(c->control));
        int index = a.index;
        if (a.kind == DialogAction::Kind::SelectText) {
            auto it = std::find(c->items.begin(), c->items.end(), a.text);
            index = it == c->items.end() ? -1 : static_cast<int>(it - c->items.begin());
        }
        if (index < 0 || index >= static_cast<int>(c->items.size())) {
            std::string items;
            for (const std::string& i : c->items) items += (items.empty() ? "\"" : ", \"") + Transcript::escape(i) + "\"";
            return refuse("the list holds " + (items.empty() ? std::string("nothing") : items));
        }
        select_item(*this, c, index);
        notify_parent(c, CBN_SELCHANGE);
        return;
    }
    case DialogAction::Kind::Type:
        if (c->control != ControlKind::Edit) return refuse(std::string("it is a ") + control_kind_name(c->control));
        control_message(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a.text.c_str()));
        return;
    case DialogAction::Kind::Spin:
    case DialogAction::Kind::Hold: {
        if (c->control != ControlKind::UpDown) return refuse(std::string("it is a ") + control_kind_name(c->control));
        updown_pos_from_buddy(*this, c);
        long long pos = c->pos;
        const int lo = std::min(c->range_low, c->range_high), hi = std::max(c->range_low, c->range_high);
        auto step = [&](Micros held, int direction) {
            int inc = 1;
            for (const UDACCEL& acc : c->accels)
                if (static_cast<Micros>(acc.nSec) * kSecond <= held) inc = static_cast<int>(acc.nInc);
            pos = std::max<long long>(lo, std::min<long long>(hi, pos + static_cast<long long>(direction) * inc));
        };
        if (a.kind == DialogAction::Kind::Spin) {
            for (int i = 0; i < std::abs(a.steps); ++i) step(0, a.steps > 0 ? 1 : -1);
        } else {
            const int direction = a.steps < 0 ? -1 : 1;
            step(0, direction);
            for (Micros t = 500 * kMs; t < a.duration; t += 100 * kMs) step(t, direction);
        }
        set_updown_pos(*this, c, pos);
        return;
    }
    case DialogAction::Kind::Close: return;
    }
}

// ---------------------------------------------------------------------------------------------

DialogAction DialogAction::click(int id) {
    DialogAction a;
    a.kind = Kind::Click;
    a.id = id;
    return a;
}

DialogAction DialogAction::check(int id, bool on) {
    DialogAction a;
    a.kind = Kind::Check;
    a.id = id;
    a.on = on;
    return a;
}

DialogAction DialogAction::select(int id, int index) {
    DialogAction a;
    a.kind = Kind::Select;
    a.id = id;
    a.index = index;
    return a;
}

DialogAction DialogAction::select(int id, const std::string& text) {
    DialogAction a;
    a.kind = Kind::SelectText;
    a.id = id;
    a.text = text;
    return a;
}

DialogAction DialogAction::type(int id, const std::string& text) {
    DialogAction a;
    a.kind = Kind::Type;
    a.id = id;
    a.text = text;
    return a;
}

DialogAction DialogAction::close() {
    DialogAction a;
    a.kind = Kind::Close;
    return a;
}

DialogAction DialogAction::spin(int id, int steps) {
    DialogAction a;
    a.kind = Kind::Spin;
    a.id = id;
    a.steps = steps;
    return a;
}

DialogAction DialogAction::hold(int id, int direction, Micros duration) {
    DialogAction a;
    a.kind = Kind::Hold;
    a.id = id;
    a.steps = direction;
    a.duration = duration;
    return a;
}

std::string DialogAction::describe() const {
    const std::string i = std::to_string(id);
    switch (kind) {
    case Kind::Click: return "click " + i;
    case Kind::Check: return "check " + i + (on ? " on" : " off");
    case Kind::Select: return "select " + i + " item " + std::to_string(index);
    case Kind::SelectText: return "select " + i + " \"" + Transcript::escape(text) + "\"";
    case Kind::Type: return "type " + i + " \"" + Transcript::escape(text) + "\"";
    case Kind::Close: return "close";
    case Kind::Spin: return "spin " + i + " by " + std::to_string(steps);
    case Kind::Hold:
        return std::string("hold ") + i + (steps < 0 ? " down" : " up") + " for " + std::to_string(duration / kMs) + " ms";
    }
    return "?";
}

}  // namespace sim
