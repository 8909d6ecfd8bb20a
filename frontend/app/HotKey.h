// HotKey: a key combination that reaches the main window whichever program
// is in front. Where Qt runs on X11 (platform "xcb") the key is grabbed on
// every root window, once for each state of the lock modifiers (Caps Lock,
// Num Lock), and its presses are picked out of the native event stream; a
// key that another client (a window manager) already owns is left to it.
// On other platforms (offscreen, Wayland) registering does nothing.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <cstdint>
#include <vector>

class HotKey : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT
public:
    // Modifier set of a hot key.
    enum MODKEY : unsigned { MOD_ALT = 1, MOD_CONTROL = 2, MOD_SHIFT = 4, MOD_WIN = 8 };

    // Installs itself as a native event filter of the application.
    explicit HotKey(QObject* main);
    ~HotKey() override;

    // Registers key (Qt::Key_Escape) with the modifiers under identifier;
    // false where there are no global keys, the key has no key code or no
    // grab took.
    bool AddHotKey(int key, unsigned modifiers, int identifier);
    void RemoveHotKey(int identifier);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void HotKeyPressed(int identifier);

private:
    struct Grab {
        int identifier;
        uint8_t keycode;
        uint16_t modifiers;  // X modifier mask
    };
    std::vector<Grab> grabs;
};
