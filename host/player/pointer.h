// SPDX-License-Identifier: MIT
// The pointer as the player moves it: where the last tool event was, and a press (mouse-down or
// drag-start) with its last move. Moves and the release are relative to where the press began,
// and come only while it is held: the host sends neither otherwise. Private to host/player.
#ifndef HOST_PLAYER_POINTER_H
#define HOST_PLAYER_POINTER_H

#include <cstdint>

namespace sim {

// A place in a viewport: its index and window coordinates (pixels, y down).
struct PointerAt {
    int32_t viewport = 2;
    double x = 320.0, y = 240.0;
};

class Pointer {
public:
    // Where the last event was sent.
    const PointerAt &at() const { return at_; }
    void set_at(const PointerAt &at) { at_ = at; }

    bool pressing() const { return pressing_; }
    const PointerAt &press() const { return press_; }
    // A press begins where the pointer is.
    void begin_press() {
        pressing_ = true;
        moved_ = false;
        press_ = at_;
    }
    // The move `(dx, dy)` (tenths of a pixel from the press) was sent where the pointer now is.
    void record_move(int32_t dx, int32_t dy) {
        moved_ = true;
        move_ = at_;
        move_dx_ = dx;
        move_dy_ = dy;
    }
    // Where a release is sent: the last move's place and offset, else the press with none.
    PointerAt release_at(int32_t *dx, int32_t *dy) const {
        *dx = moved_ ? move_dx_ : 0;
        *dy = moved_ ? move_dy_ : 0;
        return moved_ ? move_ : press_;
    }
    // The button is up (a release, a new activation, the end of the session).
    void clear() { pressing_ = moved_ = false; }

private:
    PointerAt at_;
    bool pressing_ = false, moved_ = false;
    PointerAt press_, move_;
    int32_t move_dx_ = 0, move_dy_ = 0;
};

} // namespace sim

#endif // HOST_PLAYER_POINTER_H
