// SPDX-License-Identifier: MIT
// The viewport picture (viewport_svg, host/picture/picture.h): laid out (viewport_layout.cpp), then
// drawn in steps: the frame and header, the grid and axes, the items and their paths, the module's
// drawing, the items' labels, the legend and the notes. The marks' styles are defined once, for the
// drawing and its legend alike.
#include <algorithm>
#include <cmath>

#include "host/picture/viewport_layout.h"

namespace sim {

using namespace picture;

namespace {

// ---- Styles -----------------------------------------------------------------------------------

const char k_selected[] = "#ffa940";
const char k_other[] = "#9fc0e8";
const char k_outline[] = "#1a1a1a"; // around an item's dot, and the halo of its labels
const char k_notes_ink[] = "#ff8a80";

// An item before (a ring) and after (a dot), and its path: dashed, with a point per keyed step.
constexpr double k_ring_r = 7.0, k_dot_r = 4.5, k_path_point_r = 2.0;
std::string ring_style(const char *colour) { return box("none", colour).width(1.5).attrs(); }
std::string path_style(const char *colour) {
    return "stroke=\"" + std::string(colour) + "\" stroke-width=\"1.5\" stroke-dasharray=\"5 3\"";
}
std::string fill_style(const char *colour) { return "fill=\"" + std::string(colour) + "\""; }
// The module's lines: its colour, this width.
const char k_module_width[] = "stroke-width=\"2\"";

// ---- Drawing ----------------------------------------------------------------------------------

// The background, the header, and the drawing area (clipped, so nothing drawn in it reaches the
// header or the legend) with the window dashed when the frame takes in more.
void draw_frame_and_header(Svg &svg, const ViewportPicture &pic, const Layout &l) {
    const Frame &f = l.f;
    svg.raw(svg_head(0, 0, l.width, l.height, 1.0, "viewport " + std::to_string(pic.index)));
    svg.rect(0, 0, l.width, l.height, "fill=\"#232323\"");
    double hy = 8 + k_text;
    for (size_t i = 0; i < l.head.size(); ++i) {
        svg.text(k_margin, hy, l.head[i], font(k_text, i == 0 ? "#e8e8e8" : "#b0b0b0", i == 0));
        hy += k_line_gap;
    }
    svg.raw("<defs><clipPath id=\"area\">");
    svg.rect(f.left, f.top, l.area_w, l.area_h, "");
    svg.raw("</clipPath></defs>\n<g clip-path=\"url(#area)\">\n");
    svg.rect(f.left, f.top, l.area_w, l.area_h, "fill=\"#3b3b3b\"");
    if (f.x0 < 0 || f.y0 < 0 || f.x1 > k_window_w || f.y1 > k_window_h)
        svg.rect(f.px(0), f.py(0), k_window_w * f.s, k_window_h * f.s, box("#404040", "#5c5c5c").dashed("6 4").attrs());
}

// The grid lines of one direction through `origin` between lo and hi (window pixels).
void grid_lines(Svg &svg, const Layout &l, double origin, double lo, double hi, bool vertical) {
    const Frame &f = l.f;
    const double d = l.grid.step;
    // The origin and the frame lie within a million pixels and d is at least 8 pixels, so there
    // are fewer than 300000 lines; no more than 1000 are drawn.
    const double first = std::ceil((lo - origin) / d), last = std::floor((hi - origin) / d);
    const long long count = std::min(1000LL, static_cast<long long>(last - first) + 1);
    for (long long n = 0; n < count; ++n) {
        const double m = first + static_cast<double>(n);
        if (m == 0.0) continue;
        const double w = origin + m * d;
        if (vertical) svg.line(f.px(w), f.top, f.px(w), f.top + l.area_h, "stroke=\"#4a4a4a\"");
        else svg.line(f.left, f.py(w), f.left + l.area_w, f.py(w), "stroke=\"#4a4a4a\"");
    }
}

// The grid, then the two world axes brighter, named at their positive ends.
void draw_grid_and_axes(Svg &svg, const Viewport &view, const Layout &l) {
    const Frame &f = l.f;
    if (l.grid.drawn) {
        grid_lines(svg, l, view.origin_x, f.x0, f.x1, true);
        grid_lines(svg, l, view.origin_y, f.y0, f.y1, false);
    }
    if (!frameable(view.origin_x, view.origin_y)) return;
    const double ox = f.px(view.origin_x), oy = f.py(view.origin_y);
    const std::string axis_style = "stroke=\"#6e6e6e\" stroke-width=\"1.2\"";
    svg.line(f.left, oy, f.left + l.area_w, oy, axis_style);
    svg.line(ox, f.top, ox, f.top + l.area_h, axis_style);
    const bool pos = !(view.scale < 0);
    svg.text(pos ? f.left + l.area_w - 4 : f.left + 4, oy - 4, std::string("+") + axis_name(l.hor),
             font(k_text, "#9a9a9a", true) + (pos ? " text-anchor=\"end\"" : ""));
    svg.text(ox + 4, pos ? f.top + 13 : f.top + l.area_h - 4, std::string("+") + axis_name(l.ver),
             font(k_text, "#9a9a9a", true));
}

// Paths, then the items' rings (before) and dots (after).
void draw_items_and_paths(Svg &svg, const ViewportPicture &pic, const std::vector<Placed> &placed, const Frame &f) {
    for (size_t i = 0; i < placed.size(); ++i) {
        const Placed &p = placed[i];
        const char *colour = pic.items[i].selected ? k_selected : k_other;
        std::vector<const Vec3 *> chain;
        chain.push_back(&p.before);
        for (const Vec3 &w : p.path) chain.push_back(&w);
        for (size_t k = 1; k < chain.size(); ++k) {
            const Vec3 &a = *chain[k - 1], &b = *chain[k];
            if (frameable(a[0], a[1]) && frameable(b[0], b[1]))
                svg.line(f.px(a[0]), f.py(a[1]), f.px(b[0]), f.py(b[1]), path_style(colour));
        }
        for (const Vec3 &w : p.path)
            if (frameable(w[0], w[1])) svg.circle(f.px(w[0]), f.py(w[1]), k_path_point_r, fill_style(colour));
    }
    for (size_t i = 0; i < placed.size(); ++i) {
        const Placed &p = placed[i];
        const char *colour = pic.items[i].selected ? k_selected : k_other;
        if (p.before_ok) svg.circle(f.px(p.before[0]), f.py(p.before[1]), k_ring_r, ring_style(colour));
        if (p.after_ok)
            svg.circle(f.px(p.after[0]), f.py(p.after[1]), k_dot_r, box(colour, k_outline).width(1).attrs());
    }
}

// The module's drawing, over the items, in its own colours (white until it sets one).
void draw_module_drawing(Svg &svg, const std::vector<DrawOp> &drawing, const Frame &f) {
    std::string colour = "#ffffff", opacity;
    for (const DrawOp &op : drawing) {
        if (op.kind == DrawOp::Colour) {
            colour = "#" + hex_byte(op.rgba[0]) + hex_byte(op.rgba[1]) + hex_byte(op.rgba[2]);
            const float alpha = std::isfinite(op.rgba[3]) ? std::min(1.0f, std::max(0.0f, op.rgba[3])) : 1.0f;
            opacity = alpha < 1.0f ? " stroke-opacity=\"" + coord(alpha) + "\"" : std::string();
            continue;
        }
        if (op.coords != HOST_DRAW_WINDOW || !frameable(op.from[0], op.from[1]) || !frameable(op.to[0], op.to[1]))
            continue;
        svg.line(f.px(op.from[0]), f.py(op.from[1]), f.px(op.to[0]), f.py(op.to[1]),
                 "stroke=\"" + colour + "\" " + k_module_width + " stroke-linecap=\"square\"" + opacity);
    }
}

// "H +30.0°, B -5.0°": how far the item turned, by angle, in degrees; empty when it did not.
std::string turned_text(const PictureItem &item) {
    std::string turned;
    static const char *const names[3] = {"H", "P", "B"};
    for (size_t k = 0; k < 3; ++k) {
        const double d = (item.rot_after[k] - item.rot_before[k]) * 57.29577951308232;
        if (std::isfinite(d) ? std::fabs(d) >= 0.0005 : item.rot_after[k] != item.rot_before[k])
            turned += (turned.empty() ? "" : ", ") + std::string(names[k]) + " " + (d >= 0 ? "+" : "") + shown(d) +
                      "\xC2\xB0";
    }
    return turned;
}

// Each item's name by its dot, how far it turned, and its name by its ring when the two are apart.
void draw_item_labels(Svg &svg, const ViewportPicture &pic, const std::vector<Placed> &placed, const Frame &f) {
    const std::string halo = " stroke=\"" + std::string(k_outline) + "\" stroke-width=\"3\" paint-order=\"stroke\"";
    for (size_t i = 0; i < placed.size(); ++i) {
        const Placed &p = placed[i];
        const PictureItem &item = pic.items[i];
        if (!p.after_ok) continue;
        const double x = f.px(p.after[0]) + 8, y = f.py(p.after[1]) - 8;
        svg.text(x, y, item.name, font(12.0, "#f2f2f2", true) + halo);
        const std::string turned = turned_text(item);
        if (!turned.empty()) svg.text(x, y + 13, "turned " + turned, font(10.0, "#d8d8d8") + halo);
        if (p.before_ok && (std::fabs(p.before[0] - p.after[0]) > 12 || std::fabs(p.before[1] - p.after[1]) > 12))
            svg.text(f.px(p.before[0]) - 9, f.py(p.before[1]) + 16, item.name,
                     font(10.0, "#a8a8a8") + " text-anchor=\"end\"" + halo);
    }
}

// The legend, two rows, each mark in the style the drawing uses; then the notes.
void draw_legend_and_notes(Svg &svg, const ViewportPicture &pic, const Layout &l) {
    double lx = k_margin, ly = l.legend_top + 12;
    auto label = [&](const std::string &text) {
        svg.text(lx, ly + 4, text, font(k_text, "#c8c8c8"));
        lx += text_width(text, k_text) + 16;
    };
    auto dot_entry = [&](const std::string &attrs, const std::string &text) {
        svg.circle(lx + 5, ly, k_dot_r, attrs);
        lx += 14;
        label(text);
    };
    svg.circle(lx + 7, ly, k_ring_r, ring_style(k_selected));
    lx += 20;
    label("before the session");
    dot_entry(box(k_selected, k_outline).attrs(), "after it");
    svg.line(lx, ly, lx + 26, ly, path_style(k_selected));
    svg.circle(lx + 13, ly, k_path_point_r, fill_style(k_selected));
    lx += 32;
    label("path: after each step that keyed it");
    lx = k_margin;
    ly += 18;
    dot_entry(fill_style(k_selected), "selected");
    dot_entry(fill_style(k_other), "not selected");
    svg.line(lx, ly, lx + 20, ly, std::string("stroke=\"#abbcbc\" ") + k_module_width);
    lx += 26;
    label(pic.drawing
              ? "the module's drawing (last draw callback: " + std::to_string(pic.drawing->size()) + " operations)"
              : "the module's drawing (no draw callback here yet)");
    double ny = l.legend_top + 56;
    for (const std::string &n : l.notes) {
        svg.text(k_margin, ny, n, font(k_text, k_notes_ink));
        ny += k_note_gap;
    }
}

} // namespace

std::string viewport_svg(const ViewportPicture &pic) {
    Viewport view = pic.view;
    const bool fails = view.fail;
    view.fail = false; // drawn as the viewport projects when it does not fail
    std::vector<Placed> placed;
    const Layout l = lay_out(pic, view, fails, &placed);

    Svg svg;
    draw_frame_and_header(svg, pic, l);
    draw_grid_and_axes(svg, view, l);
    draw_items_and_paths(svg, pic, placed, l.f);
    if (pic.drawing) draw_module_drawing(svg, *pic.drawing, l.f);
    draw_item_labels(svg, pic, placed, l.f);
    svg.raw("</g>\n");
    svg.rect(l.f.left, l.f.top, l.area_w, l.area_h, "fill=\"none\" stroke=\"#5c5c5c\"");
    draw_legend_and_notes(svg, pic, l);
    svg.raw("</svg>\n");
    return svg.out;
}

} // namespace sim
