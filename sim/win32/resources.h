// The module's resources in the simulated world: its string table and its dialog templates.
//
// Both come from the same files the resource compiler reads for Rovane.dll (strings.inc and
// dialogs.inc in src/resources), expanded here through the same macros, so the simulated module
// sees byte for byte the texts and controls the real library carries. Only the module's own
// instance (World::module_instance) has resources; LoadStringA and DialogBoxParamA with any other
// instance find none.
//
// Tests may add templates of their own (add_dialog), e.g. from an .inc file written with the same
// macros:
//
//   std::vector<sim::DialogTemplate> dialogs;
//   {
//       sim::DialogListBuilder rovane_dialogs(dialogs);
//   #include "win32/dialog_macros.h"
//   #include "support/test_dialogs.inc"
//   }
//   for (auto& d : dialogs) world.resources().add_dialog(d);
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sim {

class World;

// Window style bits of the controls and dialogs, with their Windows values.
namespace ws {
constexpr uint32_t kChild = 0x40000000;
constexpr uint32_t kVisible = 0x10000000;
constexpr uint32_t kDisabled = 0x08000000;
constexpr uint32_t kGroup = 0x00020000;
constexpr uint32_t kTabStop = 0x00010000;
constexpr uint32_t kBorder = 0x00800000;
constexpr uint32_t kVScroll = 0x00200000;
constexpr uint32_t kPopup = 0x80000000;
constexpr uint32_t kCaption = 0x00C00000;
constexpr uint32_t kSysMenu = 0x00080000;
constexpr uint32_t kDsSetFont = 0x40;
constexpr uint32_t kDsModalFrame = 0x80;
constexpr uint32_t kDs3dLook = 0x4;
constexpr uint32_t kSsLeft = 0x0;
constexpr uint32_t kSsCenter = 0x1;
constexpr uint32_t kBsPushButton = 0x0;
constexpr uint32_t kBsDefPushButton = 0x1;
constexpr uint32_t kBsAutoCheckBox = 0x3;
constexpr uint32_t kBsGroupBox = 0x7;
constexpr uint32_t kBsAutoRadioButton = 0x9;
constexpr uint32_t kEsLeft = 0x0;
constexpr uint32_t kEsAutoHScroll = 0x80;
constexpr uint32_t kCbsDropDownList = 0x3;
constexpr uint32_t kUdsSetBuddyInt = 0x2;
constexpr uint32_t kUdsAlignRight = 0x4;
constexpr uint32_t kUdsAutoBuddy = 0x10;
constexpr uint32_t kUdsArrowKeys = 0x20;
constexpr uint32_t kUdsNoThousands = 0x80;
}  // namespace ws

enum class ControlKind {
    Text,          // static text, left aligned
    CenteredText,  // static text, centred
    PushButton,
    DefPushButton,
    CheckBox,      // automatic check box
    RadioButton,   // automatic radio button
    GroupBox,
    Edit,          // one-line edit field
    ComboBox,      // drop-down list
    UpDown,        // up-down control; buddy: the control before it
};

const char* control_kind_name(ControlKind kind);

struct DialogItem {
    ControlKind kind = ControlKind::Text;
    int id = 0;
    std::string text;
    int x = 0, y = 0, cx = 0, cy = 0;
    uint32_t flags = 0;  // ROVANE_HIDDEN, ROVANE_DISABLED, ROVANE_GROUP

    bool hidden() const;
    bool disabled() const;
    // The window class and style the resource compiler gives this control.
    std::string window_class() const;  // "Static", "Button", "Edit", "ComboBox", "msctls_updown32"
    uint32_t style() const;
};

struct DialogTemplate {
    int id = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::string caption;
    std::vector<DialogItem> items;

    uint32_t style() const;  // the dialog's own window style
    const DialogItem* item(int control_id) const;
};

// Collects templates from ROVANE_DIALOG_BEGIN / control lines / ROVANE_DIALOG_END (see
// win32/dialog_macros.h, which expands the macros into calls on a builder named rovane_dialogs).
class DialogListBuilder {
public:
    explicit DialogListBuilder(std::vector<DialogTemplate>& out) : out_(out) {}
    void begin(int id, int x, int y, int cx, int cy, const char* caption);
    void item(ControlKind kind, int id, const char* text, int x, int y, int cx, int cy, uint32_t flags);
    void end();

private:
    std::vector<DialogTemplate>& out_;
    bool open_ = false;
};

class Resources {
public:
    explicit Resources(World& world);

    // The module's string with this id, or nullptr. Other instances have no strings.
    const std::string* string(HINSTANCE instance, UINT id) const;
    // The module's dialog template with this id, or nullptr.
    const DialogTemplate* dialog(HINSTANCE instance, int id) const;

    const std::map<UINT, std::string>& strings() const { return strings_; }
    const std::map<int, DialogTemplate>& dialogs() const { return dialogs_; }

    // Adds (or replaces) a template of the module, for tests.
    void add_dialog(const DialogTemplate& dialog);

private:
    bool is_module(HINSTANCE instance) const;

    World& world_;
    std::map<UINT, std::string> strings_;
    std::map<int, DialogTemplate> dialogs_;
};

}  // namespace sim
