// The operator's hands for tests that work a dialog step by step from a simulated thread of
// their own, and a record of the message boxes the operator's rules answered.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "resources/resource.h"
#include "win32/resources.h"
#include "win32/ui.h"
#include "world/operator.h"
#include "world/world.h"

namespace sim_test {

struct SeenBox {
    std::string text, caption;
    UINT flags = 0;
    HWND owner = nullptr;
    sim::Micros at = 0;  // when it was shown
};

// Answers the message boxes whose text contains `text` with `button`, remembering each one; `also`
// runs before the answer (on the scheduler: it must not block).
inline sim::Operator::Rule& answer_boxes(sim::World& world, std::vector<SeenBox>& seen, const std::string& text,
                                         int button, std::function<void()> also = nullptr) {
    return world.op()
        .on_message_box(text)
        .then([&world, &seen, text, also] {
            const std::vector<sim::WindowInfo> open = world.ui().open_windows();
            for (auto w = open.rbegin(); w != open.rend(); ++w)
                if (w->kind == sim::WindowKind::MessageBox && w->text.find(text) != std::string::npos) {
                    seen.push_back({w->text, w->caption, w->flags, w->owner, w->shown_at});
                    break;
                }
            if (also) also();
        })
        .answer(button);
}

inline int count_boxes(const std::vector<SeenBox>& seen, const std::string& text) {
    int n = 0;
    for (const SeenBox& b : seen) n += b.text.find(text) != std::string::npos;
    return n;
}

// On a simulated thread: waits for the dialog, then takes a look before the first action.
inline HWND wait_for_dialog(sim::World& world, int id) {
    HWND dlg = nullptr;
    while (!(dlg = world.ui().find_dialog(id))) Sleep(100);
    Sleep(500);
    return dlg;
}

inline void wait_closed(sim::World& world, int id, HWND dlg) {
    while (world.ui().find_dialog(id) == dlg) Sleep(100);
}

// Performs an action and gives the dialog a moment; an action that opens message boxes returns
// once the rules have answered them.
inline bool act(sim::World& world, HWND dlg, const sim::DialogAction& action) {
    if (!world.ui().input(dlg, action)) return false;
    Sleep(300);
    for (;;) {
        bool box = false;
        for (const sim::WindowInfo& w : world.ui().open_windows()) box = box || w.kind == sim::WindowKind::MessageBox;
        if (!box) return true;
        Sleep(100);
    }
}

// Waits until the rules have answered `n` boxes in all (a box that follows a slow step).
inline void wait_for_boxes(const std::vector<SeenBox>& seen, size_t n) {
    while (seen.size() < n) Sleep(100);
    Sleep(300);
}

// The test templates (901 a status message dialog, 902 one control of every kind, 903 a progress
// window), as the world reads them.
inline std::vector<sim::DialogTemplate> test_dialogs() {
    std::vector<sim::DialogTemplate> list;
    sim::DialogListBuilder rovane_dialogs(list);
#include "win32/dialog_macros.h"
#include "support/test_dialogs.inc"
    return list;
}

inline bool checked(sim::World& world, HWND dlg, int id) { return world.ui().control(dlg, id)->check == BST_CHECKED; }

}  // namespace sim_test
