// e2e_x11_close WINDOW_ID: asks a top-level window to close the way a window manager does, with
// a WM_DELETE_WINDOW message, so the program goes through its own close and exit. The private X
// server of the tests runs no window manager, and destroying the window instead would not be a
// clean close. Exits 0 once the message is sent, 1 if the window does not take it.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: e2e_x11_close WINDOW_ID\n");
        return 2;
    }
    char* end = nullptr;
    const unsigned long window = std::strtoul(argv[1], &end, 0);
    if (end == argv[1] || *end != '\0' || window == 0) {
        std::fprintf(stderr, "e2e_x11_close: bad window id %s\n", argv[1]);
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "e2e_x11_close: cannot open the display\n");
        return 2;
    }
    const Atom protocolsAtom = XInternAtom(display, "WM_PROTOCOLS", False);
    const Atom deleteAtom = XInternAtom(display, "WM_DELETE_WINDOW", False);

    // A window that does not list the protocol would ignore the message.
    Atom* protocols = nullptr;
    int count = 0;
    bool takesDelete = false;
    if (XGetWMProtocols(display, window, &protocols, &count) != 0) {
        for (int i = 0; i < count; ++i) takesDelete = takesDelete || protocols[i] == deleteAtom;
        XFree(protocols);
    }
    if (!takesDelete) {
        std::fprintf(stderr, "e2e_x11_close: window 0x%lx does not take WM_DELETE_WINDOW\n", window);
        XCloseDisplay(display);
        return 1;
    }

    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = protocolsAtom;
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(deleteAtom);
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    if (sent == 0) {
        std::fprintf(stderr, "e2e_x11_close: the message could not be sent\n");
        return 1;
    }
    return 0;
}
