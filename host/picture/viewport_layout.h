// SPDX-License-Identifier: MIT
// The viewport picture's layout, private to host/picture: what is framed (items, their paths, the
// module's lines), what is left out and named, the grid to draw, the header, and where everything
// goes. viewport_layout.cpp places; viewport_picture.cpp draws.
#ifndef HOST_PICTURE_VIEWPORT_LAYOUT_H
#define HOST_PICTURE_VIEWPORT_LAYOUT_H

#include <cmath>
#include <string>
#include <vector>

#include "host/picture/svg.h"

namespace sim {
namespace picture {

constexpr double k_window_w = 640.0, k_window_h = 480.0; // the window the default viewports frame
constexpr double k_reach = 1e6;                          // farther window coordinates are left out
constexpr double k_max_w = 800.0, k_max_h = 600.0;       // the largest drawing area, picture pixels
constexpr double k_pad = 24.0;                           // window pixels around the framed content
constexpr double k_min_grid_step = 8.0;                  // closest grid lines, picture pixels
constexpr double k_margin = 10.0;                        // left and right of everything
constexpr double k_min_width = 560.0;                    // narrowest picture, so the legend fits
constexpr double k_text = 11.0;                          // header, legend and notes
constexpr double k_line_gap = 15.0;                      // header line spacing
constexpr double k_note_gap = 14.0;                      // note line spacing

inline const char *axis_name(size_t world_axis) { return world_axis == 0 ? "X" : world_axis == 1 ? "Y" : "Z"; }

inline bool frameable(double x, double y) {
    return std::isfinite(x) && std::isfinite(y) && std::fabs(x) <= k_reach && std::fabs(y) <= k_reach;
}

struct Frame {
    double x0 = 0, y0 = 0, x1 = k_window_w, y1 = k_window_h; // window coordinates
    double s = 1.0;                                          // picture pixels per window pixel
    double left = 0, top = 0;                                // where the drawing area starts
    double px(double x) const { return left + (x - x0) * s; }
    double py(double y) const { return top + (y - y0) * s; }
    // Takes the point (and the pad around it) into the frame; false when it is not frameable.
    bool take(double x, double y) {
        if (!frameable(x, y)) return false;
        x0 = std::min(x0, x - k_pad);
        y0 = std::min(y0, y - k_pad);
        x1 = std::max(x1, x + k_pad);
        y1 = std::max(y1, y + k_pad);
        return true;
    }
};

// An item in window coordinates.
struct Placed {
    Vec3 before{}, after{};
    bool before_ok = false, after_ok = false;
    std::vector<Vec3> path;
};

// The grid: lines at multiples of the grid size, every 10th, 100th ... when they would crowd.
struct Grid {
    bool drawn = false;
    double step = 0.0; // window pixels between drawn lines
};

// Everything placed: the frame, the drawing area's size, the picture's, the texts.
struct Layout {
    Frame f;
    double area_w = 0, area_h = 0, width = 0, height = 0, legend_top = 0;
    int axis = 2;            // the world axis the view looks along
    size_t hor = 0, ver = 1; // the world axes right and up
    Grid grid;
    std::vector<std::string> head, notes;
};

// Frames the picture's items (into `placed`, as pic.items) and drawing, and lays out the picture.
// `view` is the viewport as drawn; `fails`: its projection is set to fail (a note says so).
Layout lay_out(const ViewportPicture &pic, const Viewport &view, bool fails, std::vector<Placed> *placed);

} // namespace picture
} // namespace sim

#endif // HOST_PICTURE_VIEWPORT_LAYOUT_H
