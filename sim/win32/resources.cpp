// The module's string table and dialog templates, and LoadStringA.
#include "win32/resources.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "resource.h"
#include "world/world.h"

namespace sim {

const char* control_kind_name(ControlKind kind) {
    switch (kind) {
    case ControlKind::Text: return "text";
    case ControlKind::CenteredText: return "centred text";
    case ControlKind::PushButton: return "push button";
    case ControlKind::DefPushButton: return "default push button";
    case ControlKind::CheckBox: return "check box";
    case ControlKind::RadioButton: return "radio button";
    case ControlKind::GroupBox: return "group box";
    case ControlKind::Edit: return "edit";
    case ControlKind::ComboBox: return "combo box";
    case ControlKind::UpDown: return "up-down";
    }
    return "?";
}

bool DialogItem::hidden() const { return (flags & ROVANE_HIDDEN) != 0; }
bool DialogItem::disabled() const { return (flags & ROVANE_DISABLED) != 0; }

std::string DialogItem::window_class() const {
    switch (kind) {
    case ControlKind::Text:
    case ControlKind::CenteredText: return "Static";
    case ControlKind::PushButton:
    case ControlKind::DefPushButton:
    case ControlKind::CheckBox:
    case ControlKind::RadioButton:
    case ControlKind::GroupBox: return "Button";
    case ControlKind::Edit: return "Edit";
    case ControlKind::ComboBox: return "ComboBox";
    case ControlKind::UpDown: return "msctls_updown32";
    }
    return "";
}

uint32_t DialogItem::style() const {
    uint32_t s = 0;
    switch (kind) {
    case ControlKind::Text: s = ws::kSsLeft | ws::kGroup; break;
    case ControlKind::CenteredText: s = ws::kSsCenter | ws::kGroup; break;
    case ControlKind::PushButton: s = ws::kBsPushButton | ws::kTabStop; break;
    case ControlKind::DefPushButton: s = ws::kBsDefPushButton | ws::kTabStop; break;
    case ControlKind::CheckBox: s = ws::kBsAutoCheckBox | ws::kTabStop; break;
    case ControlKind::RadioButton: s = ws::kBsAutoRadioButton; break;
    case ControlKind::GroupBox: s = ws::kBsGroupBox; break;
    case ControlKind::Edit: s = ws::kEsLeft | ws::kEsAutoHScroll | ws::kBorder | ws::kTabStop; break;
    case ControlKind::ComboBox: s = ws::kCbsDropDownList | ws::kVScroll | ws::kTabStop; break;
    case ControlKind::UpDown:
        s = ws::kUdsSetBuddyInt | ws::kUdsAlignRight | ws::kUdsAutoBuddy | ws::kUdsArrowKeys | ws::kUdsNoThousands;
        break;
    }
    s |= ws::kChild | ws::kVisible | (flags & ~static_cast<uint32_t>(ROVANE_HIDDEN));
    if (hidden()) s &= ~ws::kVisible;
    return s;
}

uint32_t DialogTemplate::style() const {
    return ws::kDsSetFont | ws::kDsModalFrame | ws::kDs3dLook | ws::kPopup | ws::kVisible | ws::kCaption |
           ws::kSysMenu;
}

const DialogItem* DialogTemplate::item(int control_id) const {
    for (const DialogItem& i : items)
        if (i.id == control_id) return &i;
    return nullptr;
}

void DialogListBuilder::begin(int id, int x, int y, int cx, int cy, const char* caption) {
    if (open_) {
        std::fprintf(stderr, "dialog templates: dialog %d begins inside another dialog\n", id);
        std::abort();
    }
    DialogTemplate t;
    t.id = id;
    t.x = x;
    t.y = y;
    t.cx = cx;
    t.cy = cy;
    t.caption = caption;
    out_.push_back(t);
    open_ = true;
}

void DialogListBuilder::item(ControlKind kind, int id, const char* text, int x, int y, int cx, int cy,
                             uint32_t flags) {
    if (!open_) {
        std::fprintf(stderr, "dialog templates: control %d outside a dialog\n", id);
        std::abort();
    }
    DialogItem i;
    i.kind = kind;
    i.id = id;
    i.text = text;
    i.x = x;
    i.y = y;
    i.cx = cx;
    i.cy = cy;
    i.flags = flags;
    out_.back().items.push_back(i);
}

void DialogListBuilder::end() {
    if (!open_) {
        std::fprintf(stderr, "dialog templates: end without a dialog\n");
        std::abort();
    }
    open_ = false;
}

namespace {

std::vector<DialogTemplate> module_dialogs() {
    std::vector<DialogTemplate> list;
    DialogListBuilder rovane_dialogs(list);
#include "win32/dialog_macros.h"
#include "dialogs.inc"
    (void)rovane_dialogs;
    return list;
}

}  // namespace

Resources::Resources(World& world) : world_(world) {
#define ROVANE_STRING(id, text) strings_[id] = std::string(text, sizeof(text) - 1);
#include "strings.inc"
#undef ROVANE_STRING
    for (const DialogTemplate& d : module_dialogs()) dialogs_[d.id] = d;
}

bool Resources::is_module(HINSTANCE instance) const { return instance == world_.module_instance(); }

const std::string* Resources::string(HINSTANCE instance, UINT id) const {
    if (!is_module(instance)) return nullptr;
    auto it = strings_.find(id);
    return it == strings_.end() ? nullptr : &it->second;
}

const DialogTemplate* Resources::dialog(HINSTANCE instance, int id) const {
    if (!is_module(instance)) return nullptr;
    auto it = dialogs_.find(id);
    return it == dialogs_.end() ? nullptr : &it->second;
}

void Resources::add_dialog(const DialogTemplate& dialog) { dialogs_[dialog.id] = dialog; }

}  // namespace sim

extern "C" int WINAPI LoadStringA(HINSTANCE hInstance, UINT uID, LPSTR lpBuffer, int cchBufferMax) {
    sim::enter_call("LoadStringA");
    const std::string* text = sim::world().resources().string(hInstance, uID);
    if (!text) {
        // A string that is not there still leaves an empty text in the buffer.
        if (lpBuffer && cchBufferMax > 0) lpBuffer[0] = '\0';
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return 0;
    }
    if (!lpBuffer || cchBufferMax < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (cchBufferMax == 0) {
        // The caller receives a pointer to the text inside the loaded resource (read-only).
        const char* p = text->c_str();
        std::memcpy(lpBuffer, &p, sizeof p);
        return static_cast<int>(text->size());
    }
    const size_t n = std::min(text->size(), static_cast<size_t>(cchBufferMax - 1));
    std::memcpy(lpBuffer, text->data(), n);
    lpBuffer[n] = '\0';
    return static_cast<int>(n);
}
