// SPDX-License-Identifier: MIT
// The viewport picture's layout (viewport_layout.h), in steps: frame the items and their paths,
// frame the module's lines, plan the grid, write the header, place the drawing area and legend.
#include "host/picture/viewport_layout.h"

#include <algorithm>
#include <cmath>

namespace sim {
namespace picture {

namespace {

Vec3 window_of(const Viewport &view, const Vec3 &world) {
    Vec3 out{};
    project(view, world, &out);
    return out;
}

// Each item before, after and along its path, framed; what cannot be framed is named in `notes`.
std::vector<Placed> place_items(const ViewportPicture &pic, const Viewport &view, Frame *f,
                                std::vector<std::string> *notes) {
    std::vector<Placed> placed;
    for (const PictureItem &item : pic.items) {
        Placed p;
        p.before = window_of(view, item.before);
        p.after = window_of(view, item.after);
        p.before_ok = f->take(p.before[0], p.before[1]);
        p.after_ok = f->take(p.after[0], p.after[1]);
        size_t dropped = 0;
        for (const Vec3 &w : item.path) {
            p.path.push_back(window_of(view, w));
            if (!f->take(p.path.back()[0], p.path.back()[1])) ++dropped;
        }
        if (!p.before_ok || !p.after_ok) {
            std::string what = "left out: " + item.name;
            if (!p.before_ok) what += " before " + position_text(item.before);
            if (!p.before_ok && !p.after_ok) what += " and";
            if (!p.after_ok) what += " after " + position_text(item.after);
            const bool finite = std::isfinite(p.before[0] + p.before[1]) && std::isfinite(p.after[0] + p.after[1]);
            notes->push_back(what + (finite ? ", too far to frame" : ", not finite in the window"));
        }
        if (dropped)
            notes->push_back("left out: " + std::to_string(dropped) + " of " + std::to_string(item.path.size()) +
                             " path points of " + item.name + ", not finite or too far to frame");
        placed.push_back(std::move(p));
    }
    return placed;
}

// The module's lines in window coordinates, framed; the others are named in `notes`.
void frame_drawing(const std::vector<DrawOp> *drawing, Frame *f, std::vector<std::string> *notes) {
    size_t dropped = 0, other = 0;
    int32_t other_code = 0;
    if (drawing)
        for (const DrawOp &op : *drawing) {
            if (op.kind != DrawOp::Line) continue;
            if (op.coords != HOST_DRAW_WINDOW) {
                ++other;
                other_code = op.coords;
                continue;
            }
            const bool a = f->take(op.from[0], op.from[1]), b = f->take(op.to[0], op.to[1]);
            if (!a || !b) ++dropped;
        }
    if (dropped)
        notes->push_back("left out: " + std::to_string(dropped) +
                         " of the module's lines, with an end not finite or too far to frame");
    if (other)
        notes->push_back("not drawn: " + std::to_string(other) + " of the module's lines in coordinate code " +
                         std::to_string(other_code) + " (only window coordinates, code 3, are drawn)");
}

// The grid lines to draw at the frame's scale; a note when they are thinned out or not drawn.
Grid plan_grid(const Viewport &view, const Frame &f, std::vector<std::string> *notes) {
    const double step = std::fabs(view.scale * view.grid);
    bool grid = std::isfinite(step) && step > 0.0 && frameable(view.origin_x, view.origin_y);
    double k = 1.0;
    while (grid && step * k * f.s < k_min_grid_step && k < 1e9) k *= 10.0;
    if (grid && step * k * f.s < k_min_grid_step) {
        grid = false;
        notes->push_back("grid: too fine to draw");
    } else if (k > 1.0) {
        notes->push_back("grid: one line in " + coord(k) + " drawn");
    } else if (view.grid != 0.0 && !grid) {
        notes->push_back("grid: not drawn (grid " + shown(view.grid) + ", scale " + shown(view.scale) + ", origin (" +
                         shown(view.origin_x) + ", " + shown(view.origin_y) + "))");
    }
    Grid g;
    g.drawn = grid;
    g.step = step * k;
    return g;
}

// The header: which viewport and how it looks; the caller's caption.
std::vector<std::string> header_lines(const ViewportPicture &pic, const Viewport &view, const Layout &l,
                                      size_t columns) {
    std::vector<std::string> head;
    const bool right_positive = !(view.scale < 0);
    std::string h = "viewport " + std::to_string(pic.index) + " looking along " +
                    axis_name(static_cast<size_t>(l.axis)) + ": right " + (right_positive ? "+" : "-") +
                    axis_name(l.hor) + ", up " + (right_positive ? "+" : "-") + axis_name(l.ver) + ", " +
                    shown(view.scale) + " pixels per unit, grid " + shown(view.grid);
    if (l.f.s < 1.0) h += ", drawn at " + coord(l.f.s * 100.0) + "%";
    for (std::string &line : wrap(h, columns)) head.push_back(line);
    if (!pic.caption.empty())
        for (std::string &line : wrap(pic.caption, columns)) head.push_back(line);
    return head;
}

} // namespace

Layout lay_out(const ViewportPicture &pic, const Viewport &view, bool fails, std::vector<Placed> *placed) {
    Layout l;
    l.axis = view.view_axis < 0 || view.view_axis > 2 ? 2 : view.view_axis;
    l.hor = l.axis == 0 ? 1 : 0;
    l.ver = l.axis == 2 ? 1 : 2;
    std::vector<std::string> notes;
    *placed = place_items(pic, view, &l.f, &notes);
    frame_drawing(pic.drawing, &l.f, &notes);
    if (fails)
        notes.push_back("this viewport's projection is set to fail: the module projects nothing here; the picture "
                        "shows where the points would be");
    l.f.s = std::min({1.0, k_max_w / (l.f.x1 - l.f.x0), k_max_h / (l.f.y1 - l.f.y0)});
    l.area_w = (l.f.x1 - l.f.x0) * l.f.s;
    l.area_h = (l.f.y1 - l.f.y0) * l.f.s;
    l.grid = plan_grid(view, l.f, &notes);
    l.width = std::max(l.area_w + 2 * k_margin, k_min_width);
    const size_t columns = static_cast<size_t>((l.width - 2 * k_margin) / (0.6 * k_text));
    l.head = header_lines(pic, view, l, columns);
    for (const std::string &n : notes)
        for (std::string &line : wrap(n, columns)) l.notes.push_back(line);
    l.f.left = k_margin + (l.width - 2 * k_margin - l.area_w) / 2;
    l.f.top = 8 + k_line_gap * static_cast<double>(l.head.size()) + 4;
    l.legend_top = l.f.top + l.area_h + 8;
    l.height = l.legend_top + 54 + k_note_gap * static_cast<double>(l.notes.size()) + 6;
    return l;
}

} // namespace picture
} // namespace sim
