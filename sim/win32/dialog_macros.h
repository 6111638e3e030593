// Expands the dialog template macros of dialogs.inc into calls on a sim::DialogListBuilder that
// must be in scope under the name rovane_dialogs. Include it right before the .inc file; it may
// be included any number of times (no include guard on purpose). The flags the templates use
// (ROVANE_HIDDEN ...) come from the module's resource.h, which the includer includes first.

#undef ROVANE_DIALOG_BEGIN
#undef ROVANE_DIALOG_END
#undef ROVANE_LTEXT
#undef ROVANE_CTEXT
#undef ROVANE_PUSHBUTTON
#undef ROVANE_DEFPUSHBUTTON
#undef ROVANE_CHECKBOX
#undef ROVANE_RADIOBUTTON
#undef ROVANE_GROUPBOX
#undef ROVANE_EDITTEXT
#undef ROVANE_COMBOBOX
#undef ROVANE_UPDOWN

#define ROVANE_DIALOG_BEGIN(id, x, y, cx, cy, caption) rovane_dialogs.begin(id, x, y, cx, cy, caption);
#define ROVANE_DIALOG_END() rovane_dialogs.end();
#define ROVANE_LTEXT(id, text, x, y, cx, cy, flags) \
    rovane_dialogs.item(::sim::ControlKind::Text, id, text, x, y, cx, cy, flags);
#define ROVANE_CTEXT(id, text, x, y, cx, cy, flags) \
    rovane_dialogs.item(::sim::ControlKind::CenteredText, id, text, x, y, cx, cy, flags);
#define ROVANE_PUSHBUTTON(id, text, x, y, cx, cy, flags) \
    rovane_dialogs.item(::sim::ControlKind::PushButton, id, text, x, y, cx, cy, flags);
#define ROVANE_DEFPUSHBUTTON(id, text, x, y, cx, cy, flags) \
    rovane_dialogs.item(::sim::ControlKind::DefPushButton, id, text, x, y, cx, cy, flags);
#define ROVANE_CHECKBOX(id, text, x, y, cx, cy, flags) \
    rovane_dialogs.item(::sim::ControlKind::CheckBox, id, text, x, y, cx, cy, flags);
#define ROVANE_RADIOBUTTON(id, text, x, y, cx, cy, flags) \
    rovane_dialogs.item(::sim::ControlKind::RadioButton, id, text, x, y, cx, cy, flags);
#define ROVANE_GROUPBOX(id, text, x, y, cx, cy, flags) \
    rovane_dialogs.item(::sim::ControlKind::GroupBox, id, text, x, y, cx, cy, flags);
#define ROVANE_EDITTEXT(id, x, y, cx, cy, flags) \
    rovane_dialogs.item(::sim::ControlKind::Edit, id, "", x, y, cx, cy, flags);
#define ROVANE_COMBOBOX(id, x, y, cx, cy, flags) \
    rovane_dialogs.item(::sim::ControlKind::ComboBox, id, "", x, y, cx, cy, flags);
#define ROVANE_UPDOWN(id, x, y, cx, cy, flags) \
    rovane_dialogs.item(::sim::ControlKind::UpDown, id, "", x, y, cx, cy, flags);
