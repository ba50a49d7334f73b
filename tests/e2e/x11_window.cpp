// e2e_x11: what the end-to-end test does to a window beyond xdotool's reach.
//
//   e2e_x11 close WINDOW_ID
//       Asks a top-level window to close the way a window manager does, with a WM_DELETE_WINDOW
//       message, so the program goes through its own close and exit. The private X server of
//       the tests runs no window manager, and destroying the window instead would not be a
//       clean close. Exits 0 once the message is sent, 1 if the window does not take it.
//   e2e_x11 blue-columns WINDOW_ID Y X_FROM X_TO
//       Prints, on one line, the x of every pure blue (0, 0, 255) pixel of row Y between X_FROM
//       and X_TO inclusive, in window coordinates: where the overview bar's cursor is drawn.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace {

bool ReadNumber(const char* text, unsigned long& value) {
    char* end = nullptr;
    value = std::strtoul(text, &end, 0);
    return end != text && *end == '\0';
}

int Close(Display* display, Window window) {
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
        std::fprintf(stderr, "e2e_x11: window 0x%lx does not take WM_DELETE_WINDOW\n", window);
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
    if (sent == 0) {
        std::fprintf(stderr, "e2e_x11: the message could not be sent\n");
        return 1;
    }
    return 0;
}

int BlueColumns(Display* display, Window window, int y, int xFrom, int xTo) {
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display, window, &attributes) == 0 || xFrom > xTo || xFrom < 0 || y < 0 ||
        xTo >= attributes.width || y >= attributes.height) {
        std::fprintf(stderr, "e2e_x11: the row lies outside the window\n");
        return 2;
    }
    const Visual* visual = attributes.visual;
    if (visual->red_mask == 0 || visual->green_mask == 0 || visual->blue_mask == 0) {
        std::fprintf(stderr, "e2e_x11: the window is not true colour\n");
        return 2;
    }
    XImage* image = XGetImage(display, window, xFrom, y, static_cast<unsigned>(xTo - xFrom + 1), 1, AllPlanes,
                              ZPixmap);
    if (image == nullptr) {
        std::fprintf(stderr, "e2e_x11: cannot read the window's pixels\n");
        return 2;
    }
    const char* separator = "";
    for (int x = xFrom; x <= xTo; ++x) {
        const unsigned long pixel = XGetPixel(image, x - xFrom, 0);
        if ((pixel & visual->red_mask) == 0 && (pixel & visual->green_mask) == 0 &&
            (pixel & visual->blue_mask) == visual->blue_mask) {
            std::printf("%s%d", separator, x);
            separator = " ";
        }
    }
    std::printf("\n");
    XDestroyImage(image);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view command = argc > 1 ? argv[1] : "";
    unsigned long window = 0;
    unsigned long numbers[3] = {};
    const bool closeCall = command == "close" && argc == 3;
    const bool blueCall = command == "blue-columns" && argc == 6 && ReadNumber(argv[3], numbers[0]) &&
                          ReadNumber(argv[4], numbers[1]) && ReadNumber(argv[5], numbers[2]);
    if ((!closeCall && !blueCall) || !ReadNumber(argv[2], window) || window == 0) {
        std::fprintf(stderr,
                     "usage: e2e_x11 close WINDOW_ID\n"
                     "       e2e_x11 blue-columns WINDOW_ID Y X_FROM X_TO\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "e2e_x11: cannot open the display\n");
        return 2;
    }
    const int result = closeCall ? Close(display, window)
                                 : BlueColumns(display, window, static_cast<int>(numbers[0]),
                                               static_cast<int>(numbers[1]), static_cast<int>(numbers[2]));
    XCloseDisplay(display);
    return result;
}
