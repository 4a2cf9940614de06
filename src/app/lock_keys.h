// State of the Caps Lock, Num Lock and Scroll Lock indicators for the status bar.
#pragma once

namespace korvan::app {

struct LockKeyState {
    bool caps = false;
    bool num = false;
    bool scroll = false;
};

// Read from the X server's keyboard indicators; all off where there is none to ask.
LockKeyState queryLockKeys();

}  // namespace korvan::app
