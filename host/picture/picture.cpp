// SPDX-License-Identifier: MIT
// SVG pictures of a panel and of a viewport (host/picture.h): number formatting of our own, text
// escaping and width estimates, then the two pictures.
#include "host/picture/picture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim {

namespace {

// ---- Numbers ----------------------------------------------------------------------------------
// Formatted here, digit by digit, so that every C library writes the same bytes.

// A coordinate to at most two decimals: "12", "12.5", "-0.25"; never "-0". |v| must stay below 1e12.
std::string coord(double v) {
    long long n = std::llround(v * 100.0);
    const bool negative = n < 0;
    if (negative) n = -n;
    std::string out = (negative ? "-" : "") + std::to_string(n / 100);
    const int frac = static_cast<int>(n % 100);
    if (frac) {
        out += '.';
        out += static_cast<char>('0' + frac / 10);
        if (frac % 10) out += static_cast<char>('0' + frac % 10);
    }
    return out;
}

// A number as a user sees it in a field: six significant digits, trailing zeros dropped, at least
// one decimal ("30.0", "0.523599", "-1.5e+12"); "nan", "inf", "-inf".
std::string shown(double v) {
    if (std::isnan(v)) return "nan";
    if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
    if (v == 0.0) return "0.0";
    // Six significant digits and the decimal exponent; only the digits and the exponent's value are
    // taken from the C library (its exponent may have two or three digits).
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.5e", std::fabs(v));
    std::string digits;
    const char *p = buf;
    for (; *p && *p != 'e' && *p != 'E'; ++p)
        if (*p >= '0' && *p <= '9') digits += *p;
    const long exponent = *p ? std::strtol(p + 1, nullptr, 10) : 0;
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    std::string out = v < 0 ? "-" : "";
    if (exponent >= -5 && exponent < 7) {
        const long point = exponent + 1; // digits before the decimal point
        if (point <= 0) {
            out += "0." + std::string(static_cast<size_t>(-point), '0') + digits;
        } else {
            const size_t whole = static_cast<size_t>(point);
            std::string head = digits.substr(0, std::min(whole, digits.size()));
            head += std::string(whole > digits.size() ? whole - digits.size() : 0, '0');
            const std::string tail = whole < digits.size() ? digits.substr(whole) : std::string("0");
            out += head + "." + tail;
        }
        return out;
    }
    out += digits.substr(0, 1);
    if (digits.size() > 1) out += "." + digits.substr(1);
    const long e = exponent < 0 ? -exponent : exponent;
    out += exponent < 0 ? "e-" : "e+";
    if (e < 10) out += '0';
    return out + std::to_string(e);
}

// A world position for a note: "(1.0, nan, 1e+300)".
std::string position_text(const Vec3 &v) { return "(" + shown(v[0]) + ", " + shown(v[1]) + ", " + shown(v[2]) + ")"; }

// A colour component from 0 to 1 as two hex digits; anything not finite counts as 0.
std::string hex_byte(float c) {
    const double v = std::isfinite(c) ? std::min(1.0, std::max(0.0, static_cast<double>(c))) : 0.0;
    const int n = static_cast<int>(std::lround(v * 255.0));
    static const char digits[] = "0123456789abcdef";
    return std::string(1, digits[n / 16]) + digits[n % 16];
}

// ---- Text -------------------------------------------------------------------------------------

// Estimated advance of a character in DejaVu Sans, in ems; enough to keep texts inside boxes.
double advance(unsigned char c) {
    if (c >= '0' && c <= '9') return 0.64;
    if (c == ' ' || c == '.' || c == ',' || c == ':' || c == '(' || c == ')' || c == '\'' || c == 'i' || c == 'l' ||
        c == 'j' || c == 'f' || c == 't' || c == 'r' || c == 'I')
        return 0.36;
    if (c >= 'A' && c <= 'Z') return c == 'M' || c == 'W' ? 0.86 : 0.7;
    if (c == 'm' || c == 'w') return 0.9;
    if (c >= 0x80 && c < 0xC0) return 0.0; // a continuation byte of a UTF-8 sequence
    return 0.6;
}

double text_width(const std::string &text, double size, bool bold = false) {
    double w = 0.0;
    for (unsigned char c : text) w += advance(c);
    return w * size * (bold ? 1.08 : 1.0);
}

// The longest start of `text` that fits in `room` (with "…" when cut), at whole UTF-8 characters.
std::string fit(const std::string &text, double room, double size, bool bold = false) {
    if (text_width(text, size, bold) <= room) return text;
    const double ellipsis = 0.8 * size;
    std::string out;
    double w = 0.0;
    for (size_t i = 0; i < text.size();) {
        size_t n = 1;
        while (i + n < text.size() && (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80) ++n;
        const double a = text_width(text.substr(i, n), size, bold);
        if (w + a + ellipsis > room) break;
        out += text.substr(i, n);
        w += a;
        i += n;
    }
    return out + "\xE2\x80\xA6";
}

// Splits `text` into lines of at most `columns` characters, at blanks where it can.
std::vector<std::string> wrap(const std::string &text, size_t columns) {
    std::vector<std::string> lines;
    if (columns < 20) columns = 20;
    std::string rest = text;
    while (rest.size() > columns) {
        size_t cut = rest.rfind(' ', columns);
        if (cut == std::string::npos || cut < columns / 2) cut = columns;
        while (cut < rest.size() && (static_cast<unsigned char>(rest[cut]) & 0xC0) == 0x80) ++cut;
        lines.push_back(rest.substr(0, cut));
        rest = rest.substr(cut < rest.size() && rest[cut] == ' ' ? cut + 1 : cut);
    }
    lines.push_back(rest);
    return lines;
}

std::string trim(const std::string &s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return s.substr(b, e - b);
}

// ---- SVG writing ------------------------------------------------------------------------------

const char k_font[] = "DejaVu Sans, Verdana, sans-serif";

struct Svg {
    std::string out;

    void raw(const std::string &s) { out += s; }
    void rect(double x, double y, double w, double h, const std::string &style) {
        out += "<rect x=\"" + coord(x) + "\" y=\"" + coord(y) + "\" width=\"" + coord(w) + "\" height=\"" + coord(h) +
               "\" " + style + "/>\n";
    }
    void line(double x1, double y1, double x2, double y2, const std::string &style) {
        out += "<line x1=\"" + coord(x1) + "\" y1=\"" + coord(y1) + "\" x2=\"" + coord(x2) + "\" y2=\"" + coord(y2) +
               "\" " + style + "/>\n";
    }
    void circle(double x, double y, double r, const std::string &style) {
        out += "<circle cx=\"" + coord(x) + "\" cy=\"" + coord(y) + "\" r=\"" + coord(r) + "\" " + style + "/>\n";
    }
    void polygon(const std::vector<std::pair<double, double>> &points, const std::string &style) {
        out += "<polygon points=\"";
        for (size_t i = 0; i < points.size(); ++i)
            out += (i ? " " : "") + coord(points[i].first) + "," + coord(points[i].second);
        out += "\" " + style + "/>\n";
    }
    // `text` is escaped here.
    void text(double x, double y, const std::string &text, const std::string &style) {
        out += "<text x=\"" + coord(x) + "\" y=\"" + coord(y) + "\" " + style + ">" + xml_text(text) + "</text>\n";
    }
    void title(const std::string &text) { out += "<title>" + xml_text(text) + "</title>\n"; }
};

std::string font(double size, const char *fill, bool bold = false) {
    return "font-size=\"" + coord(size) + "\" fill=\"" + fill + "\"" + (bold ? " font-weight=\"bold\"" : "");
}

std::string svg_head(double x, double y, double w, double h, double zoom, const std::string &title) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" +
           coord(std::ceil(w * zoom)) + "\" height=\"" + coord(std::ceil(h * zoom)) + "\" viewBox=\"" + coord(x) + " " +
           coord(y) + " " + coord(w) + " " + coord(h) + "\" font-family=\"" + k_font + "\">\n<title>" +
           xml_text(title) + "</title>\n";
}

// ---- Panel ------------------------------------------------------------------------------------

constexpr double k_panel_zoom = 2.0;       // picture pixels per panel pixel
constexpr double k_title_bar = 18.0;       // height of the title bar above the panel
constexpr double k_margin = 8.0;           // around everything drawn
constexpr double k_control_font = 8.0;     // texts inside control boxes
constexpr double k_note_font = 8.0;        // the lines under the panel
constexpr double k_note_line = 11.0;       // their spacing
constexpr int64_t k_panel_reach = 4000;    // controls further than this from the panel are left out
constexpr double k_min_panel_canvas = 300; // narrowest canvas, so that the notes have room

const char k_ink[] = "#1d2733";
const char k_problem[] = "#d40000";

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

void down_arrow(Svg &svg, double right, double mid) {
    svg.polygon({{right - 9, mid - 2}, {right - 3, mid - 2}, {right - 6, mid + 2}}, "fill=\"#4a525a\"");
}

// A box with the label at its left and the value after it (right-aligned when `value_right`).
void labelled_box(Svg &svg, const Control &c, const std::string &value, const std::string &box_style, bool value_right,
                  double arrow) {
    const double x = c.x, y = c.y, w = c.w, h = c.h;
    svg.rect(x, y, w, h, box_style);
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

void draw_control(Svg &svg, const Control &c, const Host &host) {
    const double x = c.x, y = c.y, w = c.w, h = c.h;
    const double mid_x = x + w / 2, mid_y = y + h / 2;
    const std::string label = trim(c.label);
    svg.raw("<g>\n");
    std::string tip = "#" + std::to_string(c.index) + " " + c.type_name + " \"" + c.label + "\" at (" +
                      std::to_string(c.x) + ", " + std::to_string(c.y) + ") " + std::to_string(c.w) + "x" +
                      std::to_string(c.h);
    const std::string value = value_text(c, host);
    if (!value.empty()) tip += ": " + value;
    if (c.type == ControlType::DragButton) tip += ": " + std::to_string(c.int_value);
    svg.title(tip);
    switch (c.type) {
    case ControlType::Float: labelled_box(svg, c, value, "fill=\"#ffffff\" stroke=\"#7a7f86\"", true, 0); break;
    case ControlType::Choice:
        labelled_box(svg, c, value, "fill=\"#f4f5f7\" stroke=\"#7a7f86\" rx=\"2\"", false, 10);
        break;
    case ControlType::List: labelled_box(svg, c, value, "fill=\"#ffffff\" stroke=\"#7a7f86\"", false, 10); break;
    case ControlType::Info:
        labelled_box(svg, c, value, "fill=\"#e3ebd8\" stroke=\"#8a9a78\" stroke-dasharray=\"3 1\"", true, 0);
        break;
    case ControlType::DragButton: {
        svg.rect(x, y, w, h, "fill=\"#9fb3c8\" stroke=\"#56697e\" rx=\"2\"");
        const double a = std::min(4.0, h / 4);
        svg.polygon({{mid_x - 2 * a, mid_y}, {mid_x - a / 2, mid_y - a}, {mid_x - a / 2, mid_y + a}},
                    "fill=\"" + std::string(k_ink) + "\"");
        svg.polygon({{mid_x + 2 * a, mid_y}, {mid_x + a / 2, mid_y - a}, {mid_x + a / 2, mid_y + a}},
                    "fill=\"" + std::string(k_ink) + "\"");
        break;
    }
    case ControlType::Button:
        svg.rect(x, y, w, h, "fill=\"#e9ecef\" stroke=\"#3d454d\" stroke-width=\"1.2\" rx=\"4\"");
        svg.text(mid_x, mid_y + k_control_font * 0.36, fit(label, w - 6, k_control_font, true),
                 font(k_control_font, k_ink, true) + " text-anchor=\"middle\"");
        break;
    case ControlType::Text: {
        svg.rect(x, y, w, h, "fill=\"none\" stroke=\"#8f969d\" stroke-dasharray=\"2 2\"");
        const std::string t = fit(label, w - 2, 9.0, true);
        svg.text(x + 1, y + h - 4, t, font(9.0, k_ink, true));
        svg.line(x + 1, y + h - 2, x + 1 + text_width(t, 9.0, true), y + h - 2, "stroke=\"#1d2733\"");
        break;
    }
    default:
        svg.rect(x, y, w, h, "fill=\"#f6d5d5\" stroke=\"#a05050\"");
        svg.text(x + 3, mid_y + k_control_font * 0.36, fit(c.type_name + " " + label, w - 6, k_control_font),
                 font(k_control_font, k_ink));
        break;
    }
    svg.raw("</g>\n");
}

bool within_reach(const Control &c) {
    auto near = [](int64_t v) { return v >= -k_panel_reach && v <= k_panel_reach; };
    return near(c.x) && near(c.y) && near(int64_t{c.x} + c.w) && near(int64_t{c.y} + c.h) && c.w >= 0 && c.h >= 0;
}

// ---- Viewport ---------------------------------------------------------------------------------

constexpr double k_window_w = 640.0, k_window_h = 480.0; // the window the default viewports frame
constexpr double k_reach = 1e6;                          // farther window coordinates are left out
constexpr double k_max_w = 800.0, k_max_h = 600.0;       // the largest drawing area, picture pixels
constexpr double k_pad = 24.0;                           // window pixels around the framed content
constexpr double k_min_grid_step = 8.0;                  // closest grid lines, picture pixels

const char k_selected[] = "#ffa940";
const char k_other[] = "#9fc0e8";

const char *axis_name(size_t world_axis) { return world_axis == 0 ? "X" : world_axis == 1 ? "Y" : "Z"; }

struct Frame {
    double x0 = 0, y0 = 0, x1 = k_window_w, y1 = k_window_h; // window coordinates
    double s = 1.0;                                          // picture pixels per window pixel
    double left = 0, top = 0;                                // where the drawing area starts
    double px(double x) const { return left + (x - x0) * s; }
    double py(double y) const { return top + (y - y0) * s; }
};

bool frameable(double x, double y) {
    return std::isfinite(x) && std::isfinite(y) && std::fabs(x) <= k_reach && std::fabs(y) <= k_reach;
}

} // namespace

// ---- Escaping ---------------------------------------------------------------------------------

std::string xml_text(const std::string &text) {
    std::string out;
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out += c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c); break;
            }
            ++i;
            continue;
        }
        // A well-formed UTF-8 sequence (no overlong forms, no surrogates, at most U+10FFFF) is kept.
        size_t len = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
        bool ok = len > 0 && i + len <= n;
        for (size_t k = 1; ok && k < len; ++k) ok = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (ok && len >= 3) {
            const unsigned char d = static_cast<unsigned char>(text[i + 1]);
            if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d > 0x9F) || (c == 0xF0 && d < 0x90) ||
                (c == 0xF4 && d > 0x8F))
                ok = false;
            // U+FFFE and U+FFFF are not characters XML allows.
            if (c == 0xEF && d == 0xBF && static_cast<unsigned char>(text[i + 2]) >= 0xBE) ok = false;
        }
        if (ok && len == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) ok = false; // C1 controls
        if (!ok) {
            out += '?';
            ++i;
            continue;
        }
        out.append(text, i, len);
        i += len;
    }
    return out;
}

// ---- Panel picture ----------------------------------------------------------------------------

std::string panel_svg(const Panel &panel, const Host &host, const std::string &caption) {
    const double pw = std::max<int32_t>(panel.shown_width(), 0), ph = std::max<int32_t>(panel.shown_height(), 0);
    const std::vector<LayoutProblem> problems = layout_check(panel);
    std::vector<bool> marked(panel.controls.size(), false);
    for (const LayoutProblem &p : problems) {
        if (p.first < marked.size()) marked[p.first] = true;
        if (p.second < marked.size()) marked[p.second] = true;
    }

    // The canvas: the panel, its title bar and every control within reach.
    // A side the module never set is as the toolkit grew it, never "made smaller".
    const double aw = panel.width_sets ? std::max<int32_t>(panel.asked_width, 0) : pw;
    const double ah = panel.height_sets ? std::max<int32_t>(panel.asked_height, 0) : ph;
    const bool limited = aw != pw || ah != ph;
    double x0 = 0, y0 = -k_title_bar, x1 = std::max(pw, aw), y1 = std::max(ph, ah);
    std::vector<std::string> left_out;
    for (const auto &c : panel.controls) {
        if (!within_reach(*c)) {
            left_out.push_back("#" + std::to_string(c->index) + " " + c->type_name + " \"" + c->label + "\" at (" +
                               std::to_string(c->x) + ", " + std::to_string(c->y) + ") " + std::to_string(c->w) + "x" +
                               std::to_string(c->h) + " is too far from the panel to draw");
            continue;
        }
        x0 = std::min<double>(x0, c->x);
        y0 = std::min<double>(y0, c->y);
        x1 = std::max<double>(x1, c->x + c->w);
        y1 = std::max<double>(y1, c->y + c->h);
    }
    x0 -= k_margin;
    y0 -= k_margin;
    x1 = std::max(x1 + k_margin, x0 + k_min_panel_canvas);
    const double width = x1 - x0;
    const size_t columns = static_cast<size_t>((width - 2 * k_margin) / (0.6 * k_note_font));

    // The lines under the panel: the caption, the legend, the problems and what was left out.
    struct Note {
        std::string text;
        const char *fill;
    };
    std::vector<Note> notes;
    auto note = [&](const std::string &text, const char *fill) {
        for (std::string &l : wrap(text, columns)) notes.push_back({l, fill});
    };
    if (!caption.empty()) note(caption, "#4a525a");
    std::string size = "panel " + std::to_string(panel.shown_width()) + "x" + std::to_string(panel.shown_height());
    if (!panel.width_sets || !panel.height_sets)
        size += std::string(", its ") +
                (!panel.width_sets && !panel.height_sets ? "size"
                 : !panel.width_sets                     ? "width"
                                                         : "height") +
                " grown by the toolkit to hold the controls (the module set none)";
    if (limited)
        size += ", made smaller than the " + std::to_string(panel.asked_width) + "x" +
                std::to_string(panel.asked_height) + " the module asked for (dashed)";
    note(size, "#4a525a");
    for (const LayoutProblem &p : problems)
        note((p.kind == LayoutProblem::Overlap ? "overlap: " : "outside: ") + p.text, k_problem);
    for (const std::string &s : left_out) note("left out: " + s, k_problem);
    // The legend: what each kind of box is, in rows that fit the canvas.
    struct Sample {
        std::string style, text;
    };
    const std::vector<Sample> samples = {
        {"fill=\"#ffffff\" stroke=\"#7a7f86\"", "number"},
        {"fill=\"#9fb3c8\" stroke=\"#56697e\" rx=\"2\"", "drag button"},
        {"fill=\"#e9ecef\" stroke=\"#3d454d\" rx=\"3\"", "button"},
        {"fill=\"#e3ebd8\" stroke=\"#8a9a78\" stroke-dasharray=\"3 1\"", "info"},
        {"fill=\"none\" stroke=\"#8f969d\" stroke-dasharray=\"2 2\"", "heading"},
        {"fill=\"none\" stroke=\"" + std::string(k_problem) + "\" stroke-width=\"1.5\"", "layout problem"},
    };
    struct Placed {
        double x, y;
    };
    std::vector<Placed> at;
    double lx = x0 + k_margin, ly = y1 + k_margin + k_note_line;
    for (const Sample &sample : samples) {
        const double w = 21 + text_width(sample.text, 7.0);
        if (lx + w > x1 - k_margin && lx > x0 + k_margin) {
            lx = x0 + k_margin;
            ly += 14;
        }
        at.push_back({lx, ly});
        lx += w;
    }
    const double notes_top = ly + 16;
    const double height = notes_top + k_note_line * static_cast<double>(notes.size()) + k_margin - y0;

    Svg svg;
    svg.raw(svg_head(x0, y0, width, height, k_panel_zoom, "panel \"" + panel.title + "\""));
    svg.rect(x0, y0, width, height, "fill=\"#f2f3f5\"");
    // Title bar and panel.
    svg.rect(0, -k_title_bar, std::max(pw, 1.0), k_title_bar, "fill=\"#44546a\"");
    const std::string state = panel_state(panel);
    svg.text(4, -5, fit(panel.title + " \xE2\x80\x94 " + state, std::max(pw, 1.0) - 8, 9.0, true),
             font(9.0, "#ffffff", true));
    svg.rect(0, 0, pw, ph, "fill=\"#c9cdd2\" stroke=\"#44546a\"");
    if (limited) svg.rect(0, 0, aw, ah, "fill=\"none\" stroke=\"#44546a\" stroke-dasharray=\"4 3\"");
    for (const auto &c : panel.controls)
        if (within_reach(*c)) draw_control(svg, *c, host);
    // The state over the controls when a user cannot reach them.
    if (!panel.open || panel.destroyed) {
        svg.rect(x0 + k_margin, 0, x1 - x0 - 2 * k_margin, y1, "fill=\"#ffffff\" fill-opacity=\"0.6\"");
        svg.rect(0, ph / 2 - 14, std::max(pw, text_width(state, 14.0, true) + 8), 20,
                 "fill=\"#ffffff\" fill-opacity=\"0.85\"");
        svg.text(std::max(pw, text_width(state, 14.0, true) + 8) / 2, ph / 2, state,
                 font(14.0, "#44546a", true) + " text-anchor=\"middle\"");
    }
    // Layout problems: the controls outlined, the shared area of an overlap filled.
    for (size_t i = 0; i < panel.controls.size(); ++i)
        if (marked[i] && within_reach(*panel.controls[i])) {
            const Control &c = *panel.controls[i];
            svg.rect(c.x - 1, c.y - 1, c.w + 2, c.h + 2,
                     "fill=\"none\" stroke=\"" + std::string(k_problem) + "\" stroke-width=\"1.5\"");
        }
    for (const LayoutProblem &p : problems) {
        if (p.kind != LayoutProblem::Overlap) continue;
        const Control &a = *panel.controls[p.first], &b = *panel.controls[p.second];
        if (!within_reach(a) || !within_reach(b)) continue;
        const double ix = std::max(a.x, b.x), iy = std::max(a.y, b.y);
        const double iw = std::min(a.x + a.w, b.x + b.w) - ix, ih = std::min(a.y + a.h, b.y + b.h) - iy;
        svg.rect(ix, iy, iw, ih, "fill=\"" + std::string(k_problem) + "\" fill-opacity=\"0.35\"");
    }
    for (size_t i = 0; i < samples.size(); ++i) {
        svg.rect(at[i].x, at[i].y - 8, 14, 10, samples[i].style);
        svg.text(at[i].x + 17, at[i].y, samples[i].text, font(7.0, "#4a525a"));
    }
    double ny = notes_top;
    for (const Note &n : notes) {
        svg.text(x0 + k_margin, ny, n.text, font(k_note_font, n.fill));
        ny += k_note_line;
    }
    svg.raw("</svg>\n");
    return svg.out;
}

// ---- Viewport picture -------------------------------------------------------------------------

std::string viewport_svg(const ViewportPicture &pic) {
    Viewport view = pic.view;
    const bool fails = view.fail;
    view.fail = false; // drawn as the viewport projects when it does not fail
    const int axis = view.view_axis < 0 || view.view_axis > 2 ? 2 : view.view_axis;
    const size_t hor = axis == 0 ? 1 : 0, ver = axis == 2 ? 1 : 2;

    std::vector<std::string> notes;
    auto window = [&](const Vec3 &w) {
        Vec3 out{};
        project(view, w, &out);
        return out;
    };

    // What is framed: the window, the items before and after, their paths, the module's lines.
    Frame f;
    auto take = [&](double x, double y) {
        if (!frameable(x, y)) return false;
        f.x0 = std::min(f.x0, x - k_pad);
        f.y0 = std::min(f.y0, y - k_pad);
        f.x1 = std::max(f.x1, x + k_pad);
        f.y1 = std::max(f.y1, y + k_pad);
        return true;
    };
    struct Placed {
        Vec3 before, after;
        bool before_ok, after_ok;
        std::vector<Vec3> path;
    };
    std::vector<Placed> placed;
    for (const PictureItem &item : pic.items) {
        Placed p{window(item.before), window(item.after), false, false, {}};
        p.before_ok = take(p.before[0], p.before[1]);
        p.after_ok = take(p.after[0], p.after[1]);
        size_t dropped = 0;
        for (const Vec3 &w : item.path) {
            p.path.push_back(window(w));
            if (!take(p.path.back()[0], p.path.back()[1])) ++dropped;
        }
        if (!p.before_ok || !p.after_ok) {
            std::string what = "left out: " + item.name;
            if (!p.before_ok) what += " before " + position_text(item.before);
            if (!p.before_ok && !p.after_ok) what += " and";
            if (!p.after_ok) what += " after " + position_text(item.after);
            const bool finite = std::isfinite(p.before[0] + p.before[1]) && std::isfinite(p.after[0] + p.after[1]);
            notes.push_back(what + (finite ? ", too far to frame" : ", not finite in the window"));
        }
        if (dropped)
            notes.push_back("left out: " + std::to_string(dropped) + " of " + std::to_string(item.path.size()) +
                            " path points of " + item.name + ", not finite or too far to frame");
        placed.push_back(std::move(p));
    }
    size_t lines_dropped = 0, lines_other = 0;
    int32_t other_code = 0;
    if (pic.drawing)
        for (const DrawOp &op : *pic.drawing) {
            if (op.kind != DrawOp::Line) continue;
            if (op.coords != HOST_DRAW_WINDOW) {
                ++lines_other;
                other_code = op.coords;
                continue;
            }
            const bool a = take(op.from[0], op.from[1]), b = take(op.to[0], op.to[1]);
            if (!a || !b) ++lines_dropped;
        }
    if (lines_dropped)
        notes.push_back("left out: " + std::to_string(lines_dropped) +
                        " of the module's lines, with an end not finite or too far to frame");
    if (lines_other)
        notes.push_back("not drawn: " + std::to_string(lines_other) + " of the module's lines in coordinate code " +
                        std::to_string(other_code) + " (only window coordinates, code 3, are drawn)");
    if (fails)
        notes.push_back("this viewport's projection is set to fail: the module projects nothing here; the picture "
                        "shows where the points would be");

    f.s = std::min({1.0, k_max_w / (f.x1 - f.x0), k_max_h / (f.y1 - f.y0)});
    const double area_w = (f.x1 - f.x0) * f.s, area_h = (f.y1 - f.y0) * f.s;
    // Grid lines at multiples of the grid size; every 10th, 100th ... when they would crowd.
    const double step = std::fabs(view.scale * view.grid);
    bool grid = std::isfinite(step) && step > 0.0 && frameable(view.origin_x, view.origin_y);
    double grid_k = 1.0;
    while (grid && step * grid_k * f.s < k_min_grid_step && grid_k < 1e9) grid_k *= 10.0;
    if (grid && step * grid_k * f.s < k_min_grid_step) {
        grid = false;
        notes.push_back("grid: too fine to draw");
    } else if (grid_k > 1.0) {
        notes.push_back("grid: one line in " + coord(grid_k) + " drawn");
    } else if (view.grid != 0.0 && !grid) {
        notes.push_back("grid: not drawn (grid " + shown(view.grid) + ", scale " + shown(view.scale) + ", origin (" +
                        shown(view.origin_x) + ", " + shown(view.origin_y) + "))");
    }
    const double margin = 10.0;
    const double width = std::max(area_w + 2 * margin, 560.0);
    const size_t columns = static_cast<size_t>((width - 2 * margin) / (0.6 * 11.0));

    // Header: which viewport and how it looks; the caller's caption.
    std::vector<std::string> head;
    {
        const bool right_positive = !(view.scale < 0);
        std::string h = "viewport " + std::to_string(pic.index) + " looking along " +
                        axis_name(static_cast<size_t>(axis)) + ": right " + (right_positive ? "+" : "-") +
                        axis_name(hor) + ", up " + (right_positive ? "+" : "-") + axis_name(ver) + ", " +
                        shown(view.scale) + " pixels per unit, grid " + shown(view.grid);
        if (f.s < 1.0) h += ", drawn at " + coord(f.s * 100.0) + "%";
        for (std::string &l : wrap(h, columns)) head.push_back(l);
        if (!pic.caption.empty())
            for (std::string &l : wrap(pic.caption, columns)) head.push_back(l);
    }
    std::vector<std::string> note_lines;
    for (const std::string &n : notes)
        for (std::string &l : wrap(n, columns)) note_lines.push_back(l);
    f.left = margin + (width - 2 * margin - area_w) / 2;
    f.top = 8 + 15.0 * static_cast<double>(head.size()) + 4;
    const double legend_top = f.top + area_h + 8;
    const double height = legend_top + 54 + 14.0 * static_cast<double>(note_lines.size()) + 6;

    Svg svg;
    svg.raw(svg_head(0, 0, width, height, 1.0, "viewport " + std::to_string(pic.index)));
    svg.rect(0, 0, width, height, "fill=\"#232323\"");
    double hy = 8 + 11;
    for (size_t i = 0; i < head.size(); ++i) {
        svg.text(margin, hy, head[i], font(11.0, i == 0 ? "#e8e8e8" : "#b0b0b0", i == 0));
        hy += 15;
    }
    // The drawing area, clipped: nothing drawn in it reaches the header or the legend.
    svg.raw("<defs><clipPath id=\"area\">");
    svg.rect(f.left, f.top, area_w, area_h, "");
    svg.raw("</clipPath></defs>\n<g clip-path=\"url(#area)\">\n");
    svg.rect(f.left, f.top, area_w, area_h, "fill=\"#3b3b3b\"");
    if (f.x0 < 0 || f.y0 < 0 || f.x1 > k_window_w || f.y1 > k_window_h)
        svg.rect(f.px(0), f.py(0), k_window_w * f.s, k_window_h * f.s,
                 "fill=\"#404040\" stroke=\"#5c5c5c\" stroke-dasharray=\"6 4\"");

    // The grid, then the two world axes brighter.
    if (grid) {
        const double d = step * grid_k;
        auto lines = [&](double origin, double lo, double hi, bool vertical) {
            // The origin and the frame lie within a million pixels and d is at least 8 pixels,
            // so there are fewer than 300000 lines; no more than 1000 are drawn.
            const double first = std::ceil((lo - origin) / d), last = std::floor((hi - origin) / d);
            const long long count = std::min(1000LL, static_cast<long long>(last - first) + 1);
            for (long long n = 0; n < count; ++n) {
                const double m = first + static_cast<double>(n);
                if (m == 0.0) continue;
                const double w = origin + m * d;
                if (vertical) svg.line(f.px(w), f.top, f.px(w), f.top + area_h, "stroke=\"#4a4a4a\"");
                else svg.line(f.left, f.py(w), f.left + area_w, f.py(w), "stroke=\"#4a4a4a\"");
            }
        };
        lines(view.origin_x, f.x0, f.x1, true);
        lines(view.origin_y, f.y0, f.y1, false);
    }
    if (frameable(view.origin_x, view.origin_y)) {
        const double ox = f.px(view.origin_x), oy = f.py(view.origin_y);
        svg.line(f.left, oy, f.left + area_w, oy, "stroke=\"#6e6e6e\" stroke-width=\"1.2\"");
        svg.line(ox, f.top, ox, f.top + area_h, "stroke=\"#6e6e6e\" stroke-width=\"1.2\"");
        const bool pos = !(view.scale < 0);
        svg.text(pos ? f.left + area_w - 4 : f.left + 4, oy - 4, std::string("+") + axis_name(hor),
                 font(11.0, "#9a9a9a", true) + (pos ? " text-anchor=\"end\"" : ""));
        svg.text(ox + 4, pos ? f.top + 13 : f.top + area_h - 4, std::string("+") + axis_name(ver),
                 font(11.0, "#9a9a9a", true));
    }

    // Paths, then the items' rings (before) and dots (after), then their labels.
    for (size_t i = 0; i < placed.size(); ++i) {
        const Placed &p = placed[i];
        const char *colour = pic.items[i].selected ? k_selected : k_other;
        std::vector<const Vec3 *> chain;
        chain.push_back(&p.before);
        for (const Vec3 &w : p.path) chain.push_back(&w);
        for (size_t k = 1; k < chain.size(); ++k) {
            const Vec3 &a = *chain[k - 1], &b = *chain[k];
            if (frameable(a[0], a[1]) && frameable(b[0], b[1]))
                svg.line(f.px(a[0]), f.py(a[1]), f.px(b[0]), f.py(b[1]),
                         "stroke=\"" + std::string(colour) + "\" stroke-width=\"1.5\" stroke-dasharray=\"5 3\"");
        }
        for (const Vec3 &w : p.path)
            if (frameable(w[0], w[1])) svg.circle(f.px(w[0]), f.py(w[1]), 2, "fill=\"" + std::string(colour) + "\"");
    }
    for (size_t i = 0; i < placed.size(); ++i) {
        const Placed &p = placed[i];
        const std::string colour = pic.items[i].selected ? k_selected : k_other;
        if (p.before_ok)
            svg.circle(f.px(p.before[0]), f.py(p.before[1]), 7,
                       "fill=\"none\" stroke=\"" + colour + "\" stroke-width=\"1.5\"");
        if (p.after_ok)
            svg.circle(f.px(p.after[0]), f.py(p.after[1]), 4.5,
                       "fill=\"" + colour + "\" stroke=\"#1a1a1a\" stroke-width=\"1\"");
    }
    // The module's drawing, over the items, in its own colours (white until it sets one).
    if (pic.drawing) {
        std::string colour = "#ffffff", opacity;
        for (const DrawOp &op : *pic.drawing) {
            if (op.kind == DrawOp::Colour) {
                colour = "#" + hex_byte(op.rgba[0]) + hex_byte(op.rgba[1]) + hex_byte(op.rgba[2]);
                const float alpha = std::isfinite(op.rgba[3]) ? std::min(1.0f, std::max(0.0f, op.rgba[3])) : 1.0f;
                opacity = alpha < 1.0f ? " stroke-opacity=\"" + coord(alpha) + "\"" : std::string();
                continue;
            }
            if (op.coords != HOST_DRAW_WINDOW || !frameable(op.from[0], op.from[1]) || !frameable(op.to[0], op.to[1]))
                continue;
            svg.line(f.px(op.from[0]), f.py(op.from[1]), f.px(op.to[0]), f.py(op.to[1]),
                     "stroke=\"" + colour + "\" stroke-width=\"2\" stroke-linecap=\"square\"" + opacity);
        }
    }
    const std::string halo = " stroke=\"#1a1a1a\" stroke-width=\"3\" paint-order=\"stroke\"";
    for (size_t i = 0; i < placed.size(); ++i) {
        const Placed &p = placed[i];
        const PictureItem &item = pic.items[i];
        if (!p.after_ok) continue;
        const double x = f.px(p.after[0]) + 8, y = f.py(p.after[1]) - 8;
        svg.text(x, y, item.name, font(12.0, "#f2f2f2", true) + halo);
        std::string turned;
        static const char *const names[3] = {"H", "P", "B"};
        for (size_t k = 0; k < 3; ++k) {
            const double d = (item.rot_after[k] - item.rot_before[k]) * 57.29577951308232;
            if (std::isfinite(d) ? std::fabs(d) >= 0.0005 : item.rot_after[k] != item.rot_before[k])
                turned += (turned.empty() ? "" : ", ") + std::string(names[k]) + " " + (d >= 0 ? "+" : "") + shown(d) +
                          "\xC2\xB0";
        }
        if (!turned.empty()) svg.text(x, y + 13, "turned " + turned, font(10.0, "#d8d8d8") + halo);
        if (p.before_ok && (std::fabs(p.before[0] - p.after[0]) > 12 || std::fabs(p.before[1] - p.after[1]) > 12))
            svg.text(f.px(p.before[0]) - 9, f.py(p.before[1]) + 16, item.name,
                     font(10.0, "#a8a8a8") + " text-anchor=\"end\"" + halo);
    }
    svg.raw("</g>\n");
    svg.rect(f.left, f.top, area_w, area_h, "fill=\"none\" stroke=\"#5c5c5c\"");

    // Legend and notes.
    double lx = margin, ly = legend_top + 12;
    auto label = [&](const std::string &text) {
        svg.text(lx, ly + 4, text, font(11.0, "#c8c8c8"));
        lx += text_width(text, 11.0) + 16;
    };
    // A legend entry marked by an item's dot, drawn with `attrs`.
    auto dot_entry = [&](const std::string &attrs, const std::string &text) {
        svg.circle(lx + 5, ly, 4.5, attrs);
        lx += 14;
        label(text);
    };
    svg.circle(lx + 7, ly, 7, "fill=\"none\" stroke=\"" + std::string(k_selected) + "\" stroke-width=\"1.5\"");
    lx += 20;
    label("before the session");
    dot_entry("fill=\"" + std::string(k_selected) + "\" stroke=\"#1a1a1a\"", "after it");
    svg.line(lx, ly, lx + 26, ly,
             "stroke=\"" + std::string(k_selected) + "\" stroke-width=\"1.5\" stroke-dasharray=\"5 3\"");
    svg.circle(lx + 13, ly, 2, "fill=\"" + std::string(k_selected) + "\"");
    lx += 32;
    label("path: after each step that keyed it");
    lx = margin;
    ly += 18;
    dot_entry("fill=\"" + std::string(k_selected) + "\"", "selected");
    dot_entry("fill=\"" + std::string(k_other) + "\"", "not selected");
    svg.line(lx, ly, lx + 20, ly, "stroke=\"#abbcbc\" stroke-width=\"2\"");
    lx += 26;
    label(pic.drawing
              ? "the module's drawing (last draw callback: " + std::to_string(pic.drawing->size()) + " operations)"
              : "the module's drawing (no draw callback here yet)");
    double ny = legend_top + 56;
    for (const std::string &n : note_lines) {
        svg.text(margin, ny, n, font(11.0, "#ff8a80"));
        ny += 14;
    }
    svg.raw("</svg>\n");
    return svg.out;
}

} // namespace sim
