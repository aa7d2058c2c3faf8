// SPDX-License-Identifier: MIT
// The panel picture (panel_svg, host/picture/picture.h), in steps: the canvas, the notes under the
// panel, the legend's layout; then the frame (title bar, panel, controls, state), the layout
// problems, the legend and the notes. Each kind of box has one style, used by the control and by
// its legend sample alike.
#include <algorithm>
#include <cmath>

#include "host/picture/svg.h"

namespace sim {

using namespace picture;

namespace {

// ---- Sizes and styles -------------------------------------------------------------------------

constexpr double k_panel_zoom = 2.0;       // picture pixels per panel pixel
constexpr double k_title_bar = 18.0;       // height of the title bar above the panel
constexpr double k_margin = 8.0;           // around everything drawn
constexpr double k_control_font = 8.0;     // texts inside control boxes
constexpr double k_heading_font = 9.0;     // a heading's text, and the title bar's
constexpr double k_note_font = 8.0;        // the lines under the panel
constexpr double k_note_line = 11.0;       // their spacing
constexpr double k_legend_font = 7.0;      // the legend's texts
constexpr int64_t k_panel_reach = 4000;    // controls further than this from the panel are left out
constexpr double k_min_panel_canvas = 300; // narrowest canvas, so that the notes have room

const char k_ink[] = "#1d2733";
const char k_note_ink[] = "#4a525a";
const char k_problem[] = "#d40000";
const char k_frame[] = "#44546a"; // the title bar and the panel's outline

const BoxStyle k_number_box = box("#ffffff", "#7a7f86"); // a number field, and an item list
const BoxStyle k_choice_box = box("#f4f5f7", "#7a7f86").rounded(2);
const BoxStyle k_info_box = box("#e3ebd8", "#8a9a78").dashed("3 1");
const BoxStyle k_drag_button_box = box("#9fb3c8", "#56697e").rounded(2);
const BoxStyle k_button_box = box("#e9ecef", "#3d454d").width(1.2).rounded(4);
const BoxStyle k_heading_box = box("none", "#8f969d").dashed("2 2");
const BoxStyle k_unknown_box = box("#f6d5d5", "#a05050"); // a control of no known type
const BoxStyle k_problem_outline = box("none", k_problem).width(1.5);

// ---- Controls ---------------------------------------------------------------------------------

std::string panel_state(const Panel &p) {
    if (p.destroyed) return "destroyed";
    if (p.closed_by_user) return "closed by the user";
    return p.open ? "open" : "not open";
}

std::string choice_text(const Control &c) {
    if (c.int_value >= 0 && static_cast<size_t>(c.int_value) < c.items.size())
        return c.items[static_cast<size_t>(c.int_value)];
    return "(item " + std::to_string(c.int_value) + "?)";
}

std::string list_text(const Control &c, const Host &host) {
    if (c.int_value == 0) return "(none)";
    if (c.int_value > 0 && static_cast<size_t>(c.int_value) <= host.item_count()) return host.item_name(c.int_value);
    return "(item " + std::to_string(c.int_value) + "?)";
}

// The value a user reads in the control, or empty for headings, buttons and drag buttons.
std::string value_text(const Control &c, const Host &host) {
    switch (c.type) {
    case ControlType::Choice: return choice_text(c);
    case ControlType::Float: return shown(c.float_value);
    case ControlType::Info: return c.text_value;
    case ControlType::List: return list_text(c, host);
    default: return std::string();
    }
}

// "#3 Float " X" at (10, 20) 100x18": a control for a tooltip or a note.
std::string control_text(const Control &c) {
    return "#" + std::to_string(c.index) + " " + c.type_name + " \"" + c.label + "\" at (" + std::to_string(c.x) +
           ", " + std::to_string(c.y) + ") " + std::to_string(c.w) + "x" + std::to_string(c.h);
}

void down_arrow(Svg &svg, double right, double mid) {
    svg.polygon({{right - 9, mid - 2}, {right - 3, mid - 2}, {right - 6, mid + 2}},
                "fill=\"" + std::string(k_note_ink) + "\"");
}

// A box with the label at its left and the value after it (right-aligned when `value_right`).
void labelled_box(Svg &svg, const Control &c, const std::string &value, const BoxStyle &style, bool value_right,
                  double arrow) {
    const double x = c.x, y = c.y, w = c.w, h = c.h;
    svg.rect(x, y, w, h, style.attrs());
    const double base = y + h / 2 + k_control_font * 0.36;
    const std::string label = trim(c.label);
    const double room = w - 6 - arrow;
    double used = 0.0;
    if (!label.empty()) {
        const std::string shown_label = fit(label, room * 0.5, k_control_font, true);
        svg.text(x + 3, base, shown_label, font(k_control_font, k_ink, true));
        used = text_width(shown_label, k_control_font, true) + 4;
    }
    const std::string v = fit(value, room - used, k_control_font);
    if (value_right) svg.text(x + w - 3 - arrow, base, v, font(k_control_font, k_ink) + " text-anchor=\"end\"");
    else svg.text(x + 3 + used, base, v, font(k_control_font, k_ink));
    if (arrow > 0) down_arrow(svg, x + w, y + h / 2);
}

// A drag button: its box and two arrows pointing apart.
void drag_button(Svg &svg, const Control &c) {
    const double mid_x = c.x + c.w / 2.0, mid_y = c.y + c.h / 2.0;
    svg.rect(c.x, c.y, c.w, c.h, k_drag_button_box.attrs());
    const double a = std::min(4.0, c.h / 4.0);
    const std::string ink = "fill=\"" + std::string(k_ink) + "\"";
    svg.polygon({{mid_x - 2 * a, mid_y}, {mid_x - a / 2, mid_y - a}, {mid_x - a / 2, mid_y + a}}, ink);
    svg.polygon({{mid_x + 2 * a, mid_y}, {mid_x + a / 2, mid_y - a}, {mid_x + a / 2, mid_y + a}}, ink);
}

// The boxes with no value: a button (its label centred), a heading (underlined), an unknown control.
void plain_box(Svg &svg, const Control &c) {
    const double x = c.x, y = c.y, w = c.w, h = c.h;
    const std::string label = trim(c.label);
    if (c.type == ControlType::Button) {
        svg.rect(x, y, w, h, k_button_box.attrs());
        svg.text(x + w / 2, y + h / 2 + k_control_font * 0.36, fit(label, w - 6, k_control_font, true),
                 font(k_control_font, k_ink, true) + " text-anchor=\"middle\"");
    } else if (c.type == ControlType::Text) {
        svg.rect(x, y, w, h, k_heading_box.attrs());
        const std::string t = fit(label, w - 2, k_heading_font, true);
        svg.text(x + 1, y + h - 4, t, font(k_heading_font, k_ink, true));
        svg.line(x + 1, y + h - 2, x + 1 + text_width(t, k_heading_font, true), y + h - 2,
                 "stroke=\"" + std::string(k_ink) + "\"");
    } else {
        svg.rect(x, y, w, h, k_unknown_box.attrs());
        svg.text(x + 3, y + h / 2 + k_control_font * 0.36, fit(c.type_name + " " + label, w - 6, k_control_font),
                 font(k_control_font, k_ink));
    }
}

void draw_control(Svg &svg, const Control &c, const Host &host) {
    svg.raw("<g>\n");
    const std::string value = value_text(c, host);
    std::string tip = control_text(c);
    if (!value.empty()) tip += ": " + value;
    if (c.type == ControlType::DragButton) tip += ": " + std::to_string(c.int_value);
    svg.title(tip);
    switch (c.type) {
    case ControlType::Float: labelled_box(svg, c, value, k_number_box, true, 0); break;
    case ControlType::Choice: labelled_box(svg, c, value, k_choice_box, false, 10); break;
    case ControlType::List: labelled_box(svg, c, value, k_number_box, false, 10); break;
    case ControlType::Info: labelled_box(svg, c, value, k_info_box, true, 0); break;
    case ControlType::DragButton: drag_button(svg, c); break;
    default: plain_box(svg, c); break;
    }
    svg.raw("</g>\n");
}

bool within_reach(const Control &c) {
    auto near = [](int64_t v) { return v >= -k_panel_reach && v <= k_panel_reach; };
    return near(c.x) && near(c.y) && near(int64_t{c.x} + c.w) && near(int64_t{c.y} + c.h) && c.w >= 0 && c.h >= 0;
}

// ---- Layout -----------------------------------------------------------------------------------

// The canvas: the panel, its title bar and every control within reach, with a margin.
struct Canvas {
    double pw = 0, ph = 0; // the panel as shown
    double aw = 0, ah = 0; // as the module asked for it; a side it never set is as shown
    bool limited = false;  // shown smaller than asked
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    std::vector<std::string> left_out; // the controls too far to draw
    double width() const { return x1 - x0; }
};

Canvas measure(const Panel &panel) {
    Canvas k;
    k.pw = std::max<int32_t>(panel.shown_width(), 0);
    k.ph = std::max<int32_t>(panel.shown_height(), 0);
    // A side the module never set is as the toolkit grew it, never "made smaller".
    k.aw = panel.width_sets ? std::max<int32_t>(panel.asked_width, 0) : k.pw;
    k.ah = panel.height_sets ? std::max<int32_t>(panel.asked_height, 0) : k.ph;
    k.limited = k.aw != k.pw || k.ah != k.ph;
    k.x0 = 0, k.y0 = -k_title_bar, k.x1 = std::max(k.pw, k.aw), k.y1 = std::max(k.ph, k.ah);
    for (const auto &c : panel.controls) {
        if (!within_reach(*c)) {
            k.left_out.push_back(control_text(*c) + " is too far from the panel to draw");
            continue;
        }
        k.x0 = std::min<double>(k.x0, c->x);
        k.y0 = std::min<double>(k.y0, c->y);
        k.x1 = std::max<double>(k.x1, c->x + c->w);
        k.y1 = std::max<double>(k.y1, c->y + c->h);
    }
    k.x0 -= k_margin;
    k.y0 -= k_margin;
    k.x1 = std::max(k.x1 + k_margin, k.x0 + k_min_panel_canvas);
    return k;
}

// A line under the panel.
struct Note {
    std::string text;
    const char *fill;
};

// The lines under the panel: the caption, its size, the problems and what was left out.
std::vector<Note> notes_of(const Panel &panel, const Canvas &k, const std::vector<LayoutProblem> &problems,
                           const std::string &caption) {
    const size_t columns = static_cast<size_t>((k.width() - 2 * k_margin) / (0.6 * k_note_font));
    std::vector<Note> notes;
    auto note = [&](const std::string &text, const char *fill) {
        for (std::string &l : wrap(text, columns)) notes.push_back({l, fill});
    };
    if (!caption.empty()) note(caption, k_note_ink);
    std::string size = "panel " + std::to_string(panel.shown_width()) + "x" + std::to_string(panel.shown_height());
    if (!panel.width_sets || !panel.height_sets)
        size += std::string(", its ") +
                (!panel.width_sets && !panel.height_sets ? "size"
                 : !panel.width_sets                     ? "width"
                                                         : "height") +
                " grown by the toolkit to hold the controls (the module set none)";
    if (k.limited)
        size += ", made smaller than the " + std::to_string(panel.asked_width) + "x" +
                std::to_string(panel.asked_height) + " the module asked for (dashed)";
    note(size, k_note_ink);
    for (const LayoutProblem &p : problems)
        note((p.kind == LayoutProblem::Overlap ? "overlap: " : "outside: ") + p.text, k_problem);
    for (const std::string &s : k.left_out) note("left out: " + s, k_problem);
    return notes;
}

// A legend entry: a sample box in the style the picture draws that kind of box with, and its name.
struct Sample {
    const BoxStyle *style;
    const char *text;
    double x = 0, y = 0; // placed by place_legend()
};

// The legend's samples in rows that fit the canvas; returns where the notes begin.
double place_legend(const Canvas &k, std::vector<Sample> *samples) {
    double lx = k.x0 + k_margin, ly = k.y1 + k_margin + k_note_line;
    for (Sample &sample : *samples) {
        const double w = 21 + text_width(sample.text, k_legend_font);
        if (lx + w > k.x1 - k_margin && lx > k.x0 + k_margin) {
            lx = k.x0 + k_margin;
            ly += 14;
        }
        sample.x = lx;
        sample.y = ly;
        lx += w;
    }
    return ly + 16;
}

// ---- Drawing ----------------------------------------------------------------------------------

// The title bar with the panel's state, the panel, its controls; the state over the controls
// when a user cannot reach them.
void draw_panel(Svg &svg, const Panel &panel, const Host &host, const Canvas &k) {
    svg.rect(0, -k_title_bar, std::max(k.pw, 1.0), k_title_bar, "fill=\"" + std::string(k_frame) + "\"");
    const std::string state = panel_state(panel);
    svg.text(4, -5, fit(panel.title + " \xE2\x80\x94 " + state, std::max(k.pw, 1.0) - 8, k_heading_font, true),
             font(k_heading_font, "#ffffff", true));
    svg.rect(0, 0, k.pw, k.ph, box("#c9cdd2", k_frame).attrs());
    if (k.limited) svg.rect(0, 0, k.aw, k.ah, box("none", k_frame).dashed("4 3").attrs());
    for (const auto &c : panel.controls)
        if (within_reach(*c)) draw_control(svg, *c, host);
    if (panel.open && !panel.destroyed) return;
    const double plate = std::max(k.pw, text_width(state, 14.0, true) + 8);
    svg.rect(k.x0 + k_margin, 0, k.x1 - k.x0 - 2 * k_margin, k.y1, "fill=\"#ffffff\" fill-opacity=\"0.6\"");
    svg.rect(0, k.ph / 2 - 14, plate, 20, "fill=\"#ffffff\" fill-opacity=\"0.85\"");
    svg.text(plate / 2, k.ph / 2, state, font(14.0, k_frame, true) + " text-anchor=\"middle\"");
}

// The controls layout_check() found outlined, the shared area of an overlap filled.
void draw_problems(Svg &svg, const Panel &panel, const std::vector<LayoutProblem> &problems) {
    std::vector<bool> marked(panel.controls.size(), false);
    for (const LayoutProblem &p : problems) {
        if (p.first < marked.size()) marked[p.first] = true;
        if (p.second < marked.size()) marked[p.second] = true;
    }
    for (size_t i = 0; i < panel.controls.size(); ++i)
        if (marked[i] && within_reach(*panel.controls[i])) {
            const Control &c = *panel.controls[i];
            svg.rect(c.x - 1, c.y - 1, c.w + 2, c.h + 2, k_problem_outline.attrs());
        }
    for (const LayoutProblem &p : problems) {
        if (p.kind != LayoutProblem::Overlap) continue;
        const Control &a = *panel.controls[p.first], &b = *panel.controls[p.second];
        if (!within_reach(a) || !within_reach(b)) continue;
        const double ix = std::max(a.x, b.x), iy = std::max(a.y, b.y);
        const double iw = std::min(a.x + a.w, b.x + b.w) - ix, ih = std::min(a.y + a.h, b.y + b.h) - iy;
        svg.rect(ix, iy, iw, ih, "fill=\"" + std::string(k_problem) + "\" fill-opacity=\"0.35\"");
    }
}

} // namespace

std::string panel_svg(const Panel &panel, const Host &host, const std::string &caption) {
    const std::vector<LayoutProblem> problems = layout_check(panel);
    const Canvas k = measure(panel);
    const std::vector<Note> notes = notes_of(panel, k, problems, caption);
    std::vector<Sample> samples = {
        {&k_number_box, "number"}, {&k_drag_button_box, "drag button"}, {&k_button_box, "button"},
        {&k_info_box, "info"},     {&k_heading_box, "heading"},         {&k_problem_outline, "layout problem"},
    };
    const double notes_top = place_legend(k, &samples);
    const double height = notes_top + k_note_line * static_cast<double>(notes.size()) + k_margin - k.y0;

    Svg svg;
    svg.raw(svg_head(k.x0, k.y0, k.width(), height, k_panel_zoom, "panel \"" + panel.title + "\""));
    svg.rect(k.x0, k.y0, k.width(), height, "fill=\"#f2f3f5\"");
    draw_panel(svg, panel, host, k);
    draw_problems(svg, panel, problems);
    for (const Sample &s : samples) {
        svg.rect(s.x, s.y - 8, 14, 10, s.style->attrs());
        svg.text(s.x + 17, s.y, s.text, font(k_legend_font, k_note_ink));
    }
    double ny = notes_top;
    for (const Note &n : notes) {
        svg.text(k.x0 + k_margin, ny, n.text, font(k_note_font, n.fill));
        ny += k_note_line;
    }
    svg.raw("</svg>\n");
    return svg.out;
}

} // namespace sim
