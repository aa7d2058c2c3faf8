// SPDX-License-Identifier: MIT
// The pictures: an item's track before and after each step, the picture statement, and the
// picture set of a step (the panel and every viewport) when the options ask for one.
#include "host/player/state.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "host/picture/picture.h"

namespace sim {

using namespace play;

// Before a step: an item the module has not keyed yet stands where the scene has it now.
void Player::State::track_before() {
    for (size_t i = 0; i < items.size(); ++i)
        if (tracks[i].path.empty()) {
            tracks[i].before = host.position_at(items[i].id, host.time());
            tracks[i].before_rot = host.rotation_at(items[i].id, host.time());
        }
}

// After a step: each item it keyed has a new point on its path.
void Player::State::track_after(size_t writes_before) {
    const std::vector<KeyWrite> &all = host.writes();
    for (size_t i = 0; i < items.size(); ++i) {
        bool keyed = false;
        for (size_t w = writes_before; w < all.size() && !keyed; ++w) keyed = all[w].item == items[i].id;
        if (keyed) tracks[i].path.push_back(host.position_at(items[i].id, host.time()));
    }
}

std::string Player::State::caption() const {
    std::string c = server_name.empty() ? std::string("no module") : server_name;
    c += ", time " + format_real(host.time());
    if (current) c += ", line " + std::to_string(current->line) + ": " + statement_text();
    return c;
}

std::string Player::State::panel_picture(const std::string &caption_text) {
    Panel *p = panel();
    return p ? panel_svg(*p, host, caption_text) : std::string();
}

// `drawing`: what to show of the tool's drawing; null, the last drawing of that viewport.
std::string Player::State::viewport_picture(int32_t vp, const std::string &caption_text,
                                            const std::vector<DrawOp> *drawing) {
    if (!host.has_viewport(vp)) return std::string();
    ViewportPicture pic;
    pic.index = vp;
    pic.view = host.viewport(vp);
    for (size_t i = 0; i < items.size(); ++i) {
        const ItemId id = items[i].id;
        const std::vector<ItemId> &sel = host.selection();
        PictureItem item;
        item.name = items[i].name;
        item.selected = std::find(sel.begin(), sel.end(), id) != sel.end();
        item.before = tracks[i].before;
        item.after = host.position_at(id, host.time());
        item.rot_before = tracks[i].before_rot;
        item.rot_after = host.rotation_at(id, host.time());
        item.path = tracks[i].path;
        pic.items.push_back(std::move(item));
    }
    auto d = drawings.find(vp);
    pic.drawing = drawing ? drawing : d == drawings.end() ? nullptr : &d->second;
    pic.caption = caption_text;
    return viewport_svg(pic);
}

// Writes a picture; false (with the finding) when the file cannot be written.
bool Player::State::write_picture(const std::string &path, const std::string &svg) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (out) out << svg;
    if (out) out.close();
    if (out) return true;
    add(Finding::Kind::Impossible, violation_id::picture_unwritable, "cannot write the picture file " + quote(path));
    return false;
}

void Player::State::do_picture(const Statement &st) {
    const std::string &file = st.args[0].text;
    if (const Option *v = st.option("viewport")) {
        const int32_t vp = as_int32(v->values[0].integer);
        if (!host.has_viewport(vp)) return impossible("viewport " + std::to_string(vp) + " does not exist");
        write_picture(file, viewport_picture(vp, caption()));
        return;
    }
    Panel *p = panel();
    if (!p) return impossible("there is no panel (no activation made one)");
    host.check_layout(*p);
    write_picture(file, panel_picture(caption()));
}

// The picture set of a step: the panel (checked) and every viewport. An active tool draws into
// each viewport first, as the host has it draw before it shows one; that drawing is the
// picture's alone (expect ops and the like still see the script's draw statements).
void Player::State::picture_set() {
    std::error_code ec;
    std::filesystem::create_directories(options.pictures_dir, ec);
    char stem[32];
    std::snprintf(stem, sizeof stem, "line-%04d", current ? current->line : 0);
    const std::string base = options.pictures_dir + "/" + stem;
    if (Panel *p = panel()) {
        host.check_layout(*p);
        if (!write_picture(base + "-panel.svg", panel_picture(caption()))) return;
    }
    const bool drawing = tool && tool->active();
    if (drawing && host.tracing()) host.trace().add('#', "pictures: the draw callback for each viewport");
    for (int32_t vp = 0; host.has_viewport(vp); ++vp) {
        const std::vector<DrawOp> drawn = drawing ? tool->draw(vp) : std::vector<DrawOp>();
        if (!write_picture(base + "-viewport-" + std::to_string(vp) + ".svg",
                           viewport_picture(vp, caption(), drawing ? &drawn : nullptr)))
            return;
    }
}

} // namespace sim
