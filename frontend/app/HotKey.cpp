#include "HotKey.h"

#include <QGuiApplication>

#if defined(KX_HAVE_XCB)
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>
#endif

namespace {
#if defined(KX_HAVE_XCB) && QT_CONFIG(xcb)
xcb_connection_t* x11Connection() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

// The states of the lock modifiers a press may come with: Caps Lock (Lock)
// and Num Lock (Mod2, where nearly every keymap puts it).
constexpr uint16_t kLocks[] = {0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2, XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2};
constexpr uint32_t kEscapeSym = 0xff1b;

// The first key code whose keysyms include sym; 0 when none does.
uint8_t keycodeOf(xcb_connection_t* c, uint32_t sym) {
    const xcb_setup_t* setup = xcb_get_setup(c);
    const uint8_t first = setup->min_keycode, count = uint8_t(setup->max_keycode - setup->min_keycode + 1);
    xcb_get_keyboard_mapping_reply_t* map =
        xcb_get_keyboard_mapping_reply(c, xcb_get_keyboard_mapping(c, first, count), nullptr);
    if (!map) return 0;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map);
    const int per = map->keysyms_per_keycode, total = xcb_get_keyboard_mapping_keysyms_length(map);
    uint8_t code = 0;
    for (int i = 0; per > 0 && i < total && !code; ++i)
        if (syms[i] == sym) code = uint8_t(first + i / per);
    free(map);
    return code;
}

std::vector<xcb_window_t> roots(xcb_connection_t* c) {
    std::vector<xcb_window_t> all;
    for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem; xcb_screen_next(&it))
        all.push_back(it.data->root);
    return all;
}
#endif
}  // namespace

HotKey::HotKey(QObject* main) : QObject(main) {
    if (qApp) qApp->installNativeEventFilter(this);
}

HotKey::~HotKey() {
    while (!grabs.empty()) RemoveHotKey(grabs.front().identifier);
    if (qApp) qApp->removeNativeEventFilter(this);
}

bool HotKey::AddHotKey(int key, unsigned modifiers, int identifier) {
#if defined(KX_HAVE_XCB) && QT_CONFIG(xcb)
    xcb_connection_t* c = x11Connection();
    if (!c || key != Qt::Key_Escape) return false;
    const uint8_t code = keycodeOf(c, kEscapeSym);
    if (!code) return false;
    uint16_t mods = 0;
    if (modifiers & MOD_ALT) mods |= XCB_MOD_MASK_1;
    if (modifiers & MOD_CONTROL) mods |= XCB_MOD_MASK_CONTROL;
    if (modifiers & MOD_SHIFT) mods |= XCB_MOD_MASK_SHIFT;
    if (modifiers & MOD_WIN) mods |= XCB_MOD_MASK_4;
    bool any = false;
    for (xcb_window_t root : roots(c)) {
        for (uint16_t lock : kLocks) {
            // Checked, so that a BadAccess (the key belongs to another
            // client) comes back here instead of into Qt's error log.
            xcb_void_cookie_t cookie =
                xcb_grab_key_checked(c, 1, root, uint16_t(mods | lock), code, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
            if (xcb_generic_error_t* error = xcb_request_check(c, cookie)) free(error);
            else any = true;
        }
    }
    xcb_flush(c);
    if (any) grabs.push_back({identifier, code, mods});
    return any;
#else
    (void)key;
    (void)modifiers;
    (void)identifier;
    return false;
#endif
}

void HotKey::RemoveHotKey(int identifier) {
    for (auto it = grabs.begin(); it != grabs.end();) {
        if (it->identifier != identifier) {
            ++it;
            continue;
        }
#if defined(KX_HAVE_XCB) && QT_CONFIG(xcb)
        if (xcb_connection_t* c = x11Connection()) {
            for (xcb_window_t root : roots(c))
                for (uint16_t lock : kLocks) xcb_ungrab_key(c, it->keycode, root, uint16_t(it->modifiers | lock));
            xcb_flush(c);
        }
#endif
        it = grabs.erase(it);
    }
}

bool HotKey::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
#if defined(KX_HAVE_XCB) && QT_CONFIG(xcb)
    if (grabs.empty() || eventType != "xcb_generic_event_t" || !message) return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_KEY_PRESS) return false;
    auto* press = reinterpret_cast<xcb_key_press_event_t*>(event);
    const uint16_t state = press->state & uint16_t(~(XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2)) & 0xff;
    for (const Grab& g : grabs) {
        if (press->detail != g.keycode || state != g.modifiers) continue;
        // Raised from the event loop, not from inside the platform's event
        // reading: the handler may run a whole command.
        const int id = g.identifier;
        QMetaObject::invokeMethod(this, [this, id] { emit HotKeyPressed(id); }, Qt::QueuedConnection);
    }
#else
    (void)eventType;
    (void)message;
#endif
    return false;  // the event always passes on
}
