// SPDX-License-Identifier: MIT
// What both pictures (panel_picture.cpp, viewport_picture.cpp) are written with, private to
// host/picture: numbers formatted digit by digit so that every C library writes the same bytes,
// text widths estimated for fitting, the SVG elements, and the style records each picture defines
// once for its drawing and its legend.
#ifndef HOST_PICTURE_SVG_H
#define HOST_PICTURE_SVG_H

#include <string>
#include <utility>
#include <vector>

#include "host/picture/picture.h"

namespace sim {
namespace picture {

// ---- Numbers

// A coordinate to at most two decimals: "12", "12.5", "-0.25"; never "-0". |v| must stay below 1e12.
std::string coord(double v);
// A number as a user sees it in a field: six significant digits, trailing zeros dropped, at least
// one decimal ("30.0", "0.523599", "-1.5e+12"); "nan", "inf", "-inf".
std::string shown(double v);
// A world position for a note: "(1.0, nan, 1e+300)".
std::string position_text(const Vec3 &v);
// A colour component from 0 to 1 as two hex digits; anything not finite counts as 0.
std::string hex_byte(float c);

// ---- Text

// Estimated width of `text` at font size `size` (both in picture pixels).
double text_width(const std::string &text, double size, bool bold = false);
// The longest start of `text` that fits in `room` (with "…" when cut), at whole UTF-8 characters.
std::string fit(const std::string &text, double room, double size, bool bold = false);
// Splits `text` into lines of at most `columns` characters (20 or more), at blanks where it can.
std::vector<std::string> wrap(const std::string &text, size_t columns);
// Without leading and trailing blanks and tabs.
std::string trim(const std::string &s);

// ---- SVG

constexpr char k_font_family[] = "DejaVu Sans, Verdana, sans-serif";

// The text attributes of a font size and fill: font-size="8" fill="#1d2733" [font-weight="bold"].
std::string font(double size, const char *fill, bool bold = false);

// A box's style: fill, outline, outline dashes, outline width and corner radius. Built as
// box(fill, stroke).dashed("3 1").width(1.2).rounded(4); attrs() writes the attributes in that
// order, leaving out dashes not set, a width of 0 (SVG's default) and a radius of 0 (square).
struct BoxStyle {
    const char *fill = "none";
    const char *stroke = "none";
    const char *dash = "";
    double stroke_width = 0.0;
    double radius = 0.0;

    BoxStyle dashed(const char *pattern) const {
        BoxStyle b = *this;
        b.dash = pattern;
        return b;
    }
    BoxStyle width(double w) const {
        BoxStyle b = *this;
        b.stroke_width = w;
        return b;
    }
    BoxStyle rounded(double r) const {
        BoxStyle b = *this;
        b.radius = r;
        return b;
    }
    std::string attrs() const;
};

inline BoxStyle box(const char *fill, const char *stroke) {
    BoxStyle b;
    b.fill = fill;
    b.stroke = stroke;
    return b;
}

// The document head: the XML declaration, the svg element showing the view box (x, y, w, h) at
// `zoom` picture pixels per unit, and the document's title.
std::string svg_head(double x, double y, double w, double h, double zoom, const std::string &title);

// An SVG document under way; each element ends with a newline. Texts are escaped here.
struct Svg {
    std::string out;

    void raw(const std::string &s) { out += s; }
    void rect(double x, double y, double w, double h, const std::string &style);
    void line(double x1, double y1, double x2, double y2, const std::string &style);
    void circle(double x, double y, double r, const std::string &style);
    void polygon(const std::vector<std::pair<double, double>> &points, const std::string &style);
    void text(double x, double y, const std::string &text, const std::string &style);
    void title(const std::string &text);
};

} // namespace picture
} // namespace sim

#endif // HOST_PICTURE_SVG_H
