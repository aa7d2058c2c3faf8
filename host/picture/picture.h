// SPDX-License-Identifier: MIT
// Pictures of what the animator sees, as SVG: a panel as the module laid it out, and a viewport
// looking along its axis with the items before and after a session, the paths they took and the
// module's own drawing. docs/pictures.md describes what each picture shows.
//
// The same state gives the same bytes on every build: numbers are formatted here and not by the C
// library, nothing depends on the time, an address or a hash order, and every text is escaped for
// XML (bytes that are not UTF-8 become '?'). A picture is valid on any input: what cannot be drawn
// (non-finite or far-off coordinates) is left out and named in a line of the picture.
#ifndef HOST_PICTURE_H
#define HOST_PICTURE_H

#include <string>
#include <vector>

#include "host/sim/simulator.h"

namespace sim {

// The panel at its size with a title bar that gives its state (open, not open, closed by the user,
// destroyed); every control's box where the module put it, with its label and its value as a user
// sees it (a choice its chosen item, a number field its number, an info field its text, a list the
// picked item's name or "(none)"); headings, buttons and drag buttons each drawn their own way.
// The controls layout_check() finds outside the panel or on another are outlined in red, and the
// problems are listed under the panel. `host` names the item a list shows; `caption` is printed
// under the picture when not empty. The picture does not record violations (Host::check_layout does).
std::string panel_svg(const Panel &panel, const Host &host, const std::string &caption = std::string());

// An item as a viewport picture shows it.
struct PictureItem {
    std::string name;
    bool selected = false;
    Vec3 before{}, after{};         // world positions before the session and now
    Vec3 rot_before{}, rot_after{}; // heading, pitch, bank in radians, before and now
    std::vector<Vec3> path;         // its world position after each step that keyed it, in order
};

struct ViewportPicture {
    int32_t index = 0;
    Viewport view;
    std::vector<PictureItem> items;
    const std::vector<DrawOp> *drawing = nullptr; // the last draw callback's operations there, or null
    std::string caption;                          // printed over the picture when not empty
};

// The viewport in window coordinates as it projects them (x right, y down): the grid at its grid
// size with the two world axes it shows, each item as a labelled dot before (a ring) and after (a
// filled dot) with the path between them, and the module's drawing (lines in their colours, in
// window coordinates). The frame takes in the 640 x 480 window and everything finite within a
// million pixels of it; the rest is left out and named. A legend explains the marks.
std::string viewport_svg(const ViewportPicture &picture);

// Text for XML character data and attribute values: & < > " ' escaped, control characters and
// bytes that are not valid UTF-8 replaced by '?'.
std::string xml_text(const std::string &text);

} // namespace sim

#endif // HOST_PICTURE_H
