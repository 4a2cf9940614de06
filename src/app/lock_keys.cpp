#include "app/lock_keys.h"

#include <QGuiApplication>

#ifdef KORVAN_HAVE_X11
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#endif

namespace korvan::app {

LockKeyState queryLockKeys() {
    LockKeyState state;
#ifdef KORVAN_HAVE_X11
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || x11->display() == nullptr) {
        return state;
    }
    unsigned int indicators = 0;
    if (XkbGetIndicatorState(x11->display(), XkbUseCoreKbd, &indicators) == Success) {
        // The usual order of the keyboard indicators: Caps, Num, Scroll.
        state.caps = (indicators & 0x1u) != 0;
        state.num = (indicators & 0x2u) != 0;
        state.scroll = (indicators & 0x4u) != 0;
    }
#endif
    return state;
}

}  // namespace korvan::app
