// SPDX-License-Identifier: MIT
// What both pictures are written with: numbers formatted digit by digit, text widths and fitting,
// and the SVG elements. Escaping (xml_text) is public, in picture.h.
#include "host/picture/svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sim {
namespace picture {

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

namespace {

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

} // namespace

double text_width(const std::string &text, double size, bool bold) {
    double w = 0.0;
    for (unsigned char c : text) w += advance(c);
    return w * size * (bold ? 1.08 : 1.0);
}

// The longest start of `text` that fits in `room` (with "…" when cut), at whole UTF-8 characters.
std::string fit(const std::string &text, double room, double size, bool bold) {
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

void Svg::rect(double x, double y, double w, double h, const std::string &style) {
    out += "<rect x=\"" + coord(x) + "\" y=\"" + coord(y) + "\" width=\"" + coord(w) + "\" height=\"" + coord(h) +
           "\" " + style + "/>\n";
}

void Svg::line(double x1, double y1, double x2, double y2, const std::string &style) {
    out += "<line x1=\"" + coord(x1) + "\" y1=\"" + coord(y1) + "\" x2=\"" + coord(x2) + "\" y2=\"" + coord(y2) +
           "\" " + style + "/>\n";
}

void Svg::circle(double x, double y, double r, const std::string &style) {
    out += "<circle cx=\"" + coord(x) + "\" cy=\"" + coord(y) + "\" r=\"" + coord(r) + "\" " + style + "/>\n";
}

void Svg::polygon(const std::vector<std::pair<double, double>> &points, const std::string &style) {
    out += "<polygon points=\"";
    for (size_t i = 0; i < points.size(); ++i)
        out += (i ? " " : "") + coord(points[i].first) + "," + coord(points[i].second);
    out += "\" " + style + "/>\n";
}

void Svg::text(double x, double y, const std::string &text, const std::string &style) {
    out += "<text x=\"" + coord(x) + "\" y=\"" + coord(y) + "\" " + style + ">" + xml_text(text) + "</text>\n";
}

void Svg::title(const std::string &text) { out += "<title>" + xml_text(text) + "</title>\n"; }

std::string font(double size, const char *fill, bool bold) {
    return "font-size=\"" + coord(size) + "\" fill=\"" + fill + "\"" + (bold ? " font-weight=\"bold\"" : "");
}

std::string BoxStyle::attrs() const {
    std::string out = std::string("fill=\"") + fill + "\" stroke=\"" + stroke + "\"";
    if (*dash) out += std::string(" stroke-dasharray=\"") + dash + "\"";
    if (stroke_width > 0) out += " stroke-width=\"" + coord(stroke_width) + "\"";
    if (radius > 0) out += " rx=\"" + coord(radius) + "\"";
    return out;
}

std::string svg_head(double x, double y, double w, double h, double zoom, const std::string &title) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" +
           coord(std::ceil(w * zoom)) + "\" height=\"" + coord(std::ceil(h * zoom)) + "\" viewBox=\"" + coord(x) + " " +
           coord(y) + " " + coord(w) + " " + coord(h) + "\" font-family=\"" + k_font_family + "\">\n<title>" +
           xml_text(title) + "</title>\n";
}

} // namespace picture

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

} // namespace sim
