// The operator: rules, think times, answers and the watch for windows nobody answers.
#include "world/operator.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "kernel/transcript.h"
#include "world/world.h"

namespace sim {

namespace {

std::string time_at(Micros t) {
    char b[48];
    std::snprintf(b, sizeof b, "t=%llu.%06llus", static_cast<unsigned long long>(t / kSecond),
                  static_cast<unsigned long long>(t % kSecond));
    return b;
}

std::string quoted(const std::string& s) { return "\"" + Transcript::escape(s) + "\""; }

}  // namespace

Operator::Operator(World& world) : world_(world) {}
Operator::~Operator() = default;

Operator::Rule& Operator::on_message_box(const std::string& text_contains) {
    rules_.push_back(std::make_unique<Rule>());
    Rule& r = *rules_.back();
    r.for_dialog = false;
    r.text = text_contains;
    r.name = "message box " + quoted(text_contains);
    return r;
}

Operator::Rule& Operator::on_dialog(int resource_id) {
    rules_.push_back(std::make_unique<Rule>());
    Rule& r = *rules_.back();
    r.for_dialog = true;
    r.dialog_id = resource_id;
    r.name = "dialog " + std::to_string(resource_id);
    return r;
}

void Operator::clear_rules() {
    // Answers on their way are called off with their rules.
    pending_.clear();
    rules_.clear();
}

void Operator::make_rules_fallbacks() {
    for (auto& r : rules_) r->fallback = true;
}

void Operator::window_shown(HWND hwnd) {
    const Micros now = world_.kernel().now();
    Watched& w = watched_[hwnd];
    w.attention = now;
    if (const std::optional<WindowInfo> info = world_.ui().window(hwnd)) w.asks = asks_of(*info);
    arm_watchdog(now + world_.config().unanswered_window_limit);
    examine(hwnd);
}

void Operator::window_changed(HWND hwnd) {
    if (!watched_.count(hwnd)) return;
    auto h = hands_.find(hwnd);
    if (h != hands_.end()) {
        h->second.changed = true;  // looked at once the hands are off it
        return;
    }
    examine(hwnd);
}

void Operator::window_closed(HWND hwnd) {
    auto w = watched_.find(hwnd);
    if (w != watched_.end()) {
        last_closed_[static_cast<int>(w->second.asks)] = world_.kernel().now();
        watched_.erase(w);
    }
    hands_.erase(hwnd);
    auto p = pending_.find(hwnd);
    if (p == pending_.end()) return;
    if (Rule* r = p->second.rule) {
        if (r->uses_left >= 0) ++r->uses_left;
        --r->used;
    }
    pending_.erase(p);
}

bool Operator::matches(const Rule& rule, const WindowInfo& info) const {
    if (rule.for_dialog) {
        if (info.kind != WindowKind::Dialog || info.resource_id != rule.dialog_id) return false;
        if (rule.text.empty()) return true;
        for (const std::string& t : world_.ui().dialog_texts(info.hwnd))
            if (t.find(rule.text) != std::string::npos) return true;
        return false;
    }
    if (info.kind != WindowKind::MessageBox) return false;
    if (info.text.find(rule.text) == std::string::npos) return false;
    if (rule.caption && *rule.caption != info.caption) return false;
    if (rule.flags && *rule.flags != info.flags) return false;
    // A fallback rule answers only the boxes that offer its button (a "No response" notice with
    // only OK is not the Retry/Cancel question of the same text).
    if (rule.fallback) {
        const std::vector<int> buttons = message_box_buttons(info.flags);
        if (std::find(buttons.begin(), buttons.end(), rule.button) == buttons.end()) return false;
    }
    return true;
}

void Operator::examine(HWND hwnd) {
    const std::optional<WindowInfo> info = world_.ui().window(hwnd);
    if (!info || info->closing) return;
    auto p = pending_.find(hwnd);
    if (p != pending_.end()) {
        // An answer is on its way: it stands as long as what the operator reads still fits it.
        if (!p->second.rule || matches(*p->second.rule, *info)) return;
        Rule* r = p->second.rule;
        if (r->uses_left >= 0) ++r->uses_left;
        --r->used;
        pending_.erase(p);
    }
    for (const bool fallback : {false, true})
        for (auto& r : rules_) {
            if (r->fallback == fallback && r->uses_left != 0 && matches(*r, *info)) {
                schedule(hwnd, r.get(), r->think.value_or(think_time_));
                return;
            }
        }
    if (info->kind != WindowKind::MessageBox) return;
    if (default_answer_ == DefaultAnswer::FirstButton ||
        (default_answer_ == DefaultAnswer::OkOnly && message_box_buttons(info->flags) == std::vector<int>{IDOK}))
        schedule(hwnd, nullptr, think_time_);
}

void Operator::schedule(HWND hwnd, Rule* rule, Micros think) {
    const uint64_t token = ++next_token_;
    pending_[hwnd] = Pending{rule, token};
    if (rule) {
        if (rule->uses_left > 0) --rule->uses_left;
        ++rule->used;
    }
    world_.kernel().after(think, [this, hwnd, token] { perform(hwnd, token); });
}

void Operator::perform(HWND hwnd, uint64_t token) {
    auto p = pending_.find(hwnd);
    if (p == pending_.end() || p->second.token != token) return;
    Rule* rule = p->second.rule;
    pending_.erase(p);
    const std::optional<WindowInfo> info = world_.ui().window(hwnd);
    if (!info || info->closing) return;
    watched_[hwnd].attention = world_.kernel().now();
    ++answers_given_;
    const std::string by = rule ? " (rule " + rule->name + ")" : " (default answer)";
    if (info->kind == WindowKind::MessageBox) {
        const std::vector<int> buttons = message_box_buttons(info->flags);
        const int button = rule ? rule->button : (buttons.empty() ? 0 : buttons.front());
        world_.kernel().record("operator", "answers " + describe(*info) + " with " + button_name(button) + by);
        if (rule && rule->side_effect) rule->side_effect();
        if (!world_.ui().answer(hwnd, button)) {
            std::string offered;
            for (int b : buttons) offered += (offered.empty() ? "" : ", ") + button_name(b);
            world_.kernel().fail("operator" + by + " answers " + button_name(button) + " to " + describe(*info) +
                                 ", which offers " + offered);
        }
        return;
    }
    std::string actions;
    for (const DialogAction& a : rule->actions) actions += (actions.empty() ? "" : ", ") + a.describe();
    world_.kernel().record("operator", "answers " + describe(*info) + by + (actions.empty() ? "" : ": " + actions));
    if (rule->side_effect) rule->side_effect();
    if (!rule->actions.empty()) {
        const auto [h, idle] = hands_.try_emplace(hwnd);
        h->second.actions.insert(h->second.actions.end(), rule->actions.begin(), rule->actions.end());
        if (idle) act(hwnd);
    }
    if (rule->again) {
        const Micros answered = watched_[hwnd].attention;
        world_.kernel().after(*rule->again, [this, hwnd, answered] {
            auto w = watched_.find(hwnd);
            if (w == watched_.end() || w->second.attention != answered || pending_.count(hwnd) || hands_.count(hwnd))
                return;
            examine(hwnd);
        });
    }
}

// The next action of the dialog the hands are on, once the dialog has dealt with the one before.
void Operator::act(HWND hwnd) {
    auto h = hands_.find(hwnd);
    if (h == hands_.end()) return;  // the dialog has gone
    if (!h->second.actions.empty()) {
        const DialogAction a = h->second.actions.front();
        h->second.actions.pop_front();
        if (world_.ui().input(hwnd, a, [this, hwnd] { act(hwnd); })) return;
        hands_.erase(h);  // the dialog is closing: what is left cannot be done
        return;
    }
    const bool changed = h->second.changed;
    hands_.erase(h);
    if (changed) window_changed(hwnd);
}

void Operator::arm_watchdog(Micros when) {
    if (watchdog_armed_ && watchdog_at_ <= when) return;  // the earlier check arms the next one
    watchdog_armed_ = true;
    watchdog_at_ = when;
    world_.kernel().at(when, [this, when] {
        if (!watchdog_armed_ || watchdog_at_ != when) return;
        watchdog_armed_ = false;
        watchdog();
    });
}

void Operator::watchdog() {
    const Micros limit = world_.config().unanswered_window_limit;
    const Micros now = world_.kernel().now();
    // When a window of each kind was last open: now, if one is.
    Micros last_open[3] = {last_closed_[0], last_closed_[1], last_closed_[2]};
    for (const auto& [hwnd, w] : watched_)
        if (world_.ui().window(hwnd)) last_open[static_cast<int>(w.asks)] = now;
    Micros next = std::numeric_limits<Micros>::max();
    for (const auto& [hwnd, w] : watched_) {
        const std::optional<WindowInfo> info = world_.ui().window(hwnd);
        if (!info) continue;
        if (pending_.count(hwnd)) {
            next = std::min(next, now + limit);
            continue;
        }
        // A window's time starts again whenever a window that asks more of the operator, which
        // it may be waiting on, was open.
        Micros since = w.attention;
        Micros waited_on = 0;
        for (int k = 0; k < static_cast<int>(w.asks); ++k) waited_on = std::max(waited_on, last_open[k]);
        since = std::max(since, waited_on);
        if (now >= since + limit) {
            char id[16];
            std::snprintf(id, sizeof id, "0x%x", info->thread_id);
            std::string report = w.asks == Asks::Nothing ? "operator: nothing closed " + describe(*info) +
                                                               ", which has nothing to answer,"
                                                         : "operator: nobody answered " + describe(*info);
            report += " on thread '" + info->thread_name + "' (id " + id + "), shown at " + time_at(info->shown_at);
            if (w.attention != info->shown_at) report += ", last answered at " + time_at(w.attention);
            if (waited_on > w.attention)
                report += std::string(", the last ") +
                          (w.asks == Asks::Nothing ? "window asking for an answer" : "message box") + " gone at " +
                          time_at(waited_on);
            report += ", still open at " + time_at(now) + " (seed " + std::to_string(world_.kernel().seed()) + ")";
            world_.kernel().fail(report);
            return;
        }
        next = std::min(next, since + limit);
    }
    if (next != std::numeric_limits<Micros>::max()) arm_watchdog(next);
}

Operator::Asks Operator::asks_of(const WindowInfo& info) const {
    if (info.kind == WindowKind::MessageBox) return Asks::Answer;
    // A dialog asks for input when it has a control the operator could use, whatever its state
    // now (a hidden button may be shown later); one of texts and frames only shows progress.
    for (const ControlState& c : world_.ui().controls(info.hwnd))
        if (c.kind != ControlKind::Text && c.kind != ControlKind::CenteredText && c.kind != ControlKind::GroupBox)
            return Asks::Input;
    return Asks::Nothing;
}

std::string Operator::describe(const WindowInfo& info) const {
    char flags[16];
    std::snprintf(flags, sizeof flags, "0x%x", info.flags);
    if (info.kind == WindowKind::MessageBox)
        return "message box caption=" + quoted(info.caption) + " flags=" + flags + " text=" + quoted(info.text);
    std::string out = "dialog " + std::to_string(info.resource_id) + " caption=" + quoted(info.caption);
    const std::vector<std::string> texts = world_.ui().dialog_texts(info.hwnd);
    std::string shown;
    for (size_t i = 1; i < texts.size(); ++i)
        if (!texts[i].empty()) shown += (shown.empty() ? "" : " | ") + Transcript::escape(texts[i]);
    if (!shown.empty()) out += " texts: " + shown;
    return out;
}

}  // namespace sim
