// SPDX-License-Identifier: GPL-3.0-or-later
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
//   e2e_x11 grab WINDOW_ID FILE
//       Writes what the window shows as a binary PPM (P6) image.
//   e2e_x11 ink-bands WINDOW_ID X Y WIDTH HEIGHT
//       Text lines inside a rectangle of the window: each run of rows that hold a dark pixel (all
//       three channels below 96, so grey frames and blue focus marks do not count) is printed on a
//       line of its own as "TOP BOTTOM LEFT RIGHT", the extent of its dark pixels in window
//       coordinates.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

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

struct Rgb {
    unsigned red, green, blue;  // 0..255
};

// A rectangle of the window's pixels, row by row; empty when it cannot be read.
struct Pixels {
    int width = 0, height = 0;
    std::vector<Rgb> rgb;
    const Rgb& At(int x, int y) const { return rgb[static_cast<std::size_t>(y * width + x)]; }
};

unsigned Channel(unsigned long pixel, unsigned long mask) {
    if (mask == 0) return 0;
    int shift = 0;
    while (((mask >> shift) & 1u) == 0) ++shift;
    const unsigned long top = mask >> shift;
    return static_cast<unsigned>(((pixel & mask) >> shift) * 255u / top);
}

// Reads a rectangle of the window; a width or height of 0 reads the whole window.
Pixels Read(Display* display, Window window, int x, int y, int width, int height) {
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display, window, &attributes) == 0) return {};
    if (width == 0 || height == 0) {
        width = attributes.width;
        height = attributes.height;
    }
    if (x < 0 || y < 0 || width < 1 || height < 1 || x + width > attributes.width ||
        y + height > attributes.height) {
        std::fprintf(stderr, "e2e_x11: the rectangle lies outside the window\n");
        return {};
    }
    const Visual* visual = attributes.visual;
    if (visual->red_mask == 0 || visual->green_mask == 0 || visual->blue_mask == 0) {
        std::fprintf(stderr, "e2e_x11: the window is not true colour\n");
        return {};
    }
    XImage* image = XGetImage(display, window, x, y, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (image == nullptr) {
        std::fprintf(stderr, "e2e_x11: cannot read the window's pixels\n");
        return {};
    }
    Pixels out;
    out.width = width;
    out.height = height;
    out.rgb.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            const unsigned long pixel = XGetPixel(image, column, row);
            out.rgb.push_back({Channel(pixel, visual->red_mask), Channel(pixel, visual->green_mask),
                               Channel(pixel, visual->blue_mask)});
        }
    }
    XDestroyImage(image);
    return out;
}

int BlueColumns(Display* display, Window window, int y, int xFrom, int xTo) {
    if (xFrom > xTo) return 2;
    const Pixels row = Read(display, window, xFrom, y, xTo - xFrom + 1, 1);
    if (row.rgb.empty()) return 2;
    const char* separator = "";
    for (int x = xFrom; x <= xTo; ++x) {
        const Rgb& c = row.At(x - xFrom, 0);
        if (c.red == 0 && c.green == 0 && c.blue == 255) {
            std::printf("%s%d", separator, x);
            separator = " ";
        }
    }
    std::printf("\n");
    return 0;
}

int Grab(Display* display, Window window, const char* path) {
    const Pixels image = Read(display, window, 0, 0, 0, 0);
    if (image.rgb.empty()) return 2;
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "e2e_x11: cannot create %s\n", path);
        return 2;
    }
    std::fprintf(file, "P6\n%d %d\n255\n", image.width, image.height);
    for (const Rgb& c : image.rgb) {
        const unsigned char bytes[3] = {static_cast<unsigned char>(c.red),
                                        static_cast<unsigned char>(c.green),
                                        static_cast<unsigned char>(c.blue)};
        std::fwrite(bytes, 1, 3, file);
    }
    if (std::fclose(file) != 0) {
        std::fprintf(stderr, "e2e_x11: cannot write %s\n", path);
        return 2;
    }
    return 0;
}

int InkBands(Display* display, Window window, int x, int y, int width, int height) {
    if (width < 1 || height < 1) return 2;
    const Pixels area = Read(display, window, x, y, width, height);
    if (area.rgb.empty()) return 2;
    int top = -1, left = width, right = -1;
    for (int row = 0; row <= height; ++row) {
        int rowLeft = width, rowRight = -1;
        for (int column = 0; row < height && column < width; ++column) {
            const Rgb& c = area.At(column, row);
            if (c.red >= 96 || c.green >= 96 || c.blue >= 96) continue;
            if (rowLeft == width) rowLeft = column;
            rowRight = column;
        }
        if (rowRight >= 0) {
            if (top < 0) top = row;
            if (rowLeft < left) left = rowLeft;
            if (rowRight > right) right = rowRight;
        } else if (top >= 0) {
            std::printf("%d %d %d %d\n", y + top, y + row - 1, x + left, x + right);
            top = -1;
            left = width;
            right = -1;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view command = argc > 1 ? argv[1] : "";
    unsigned long window = 0;
    unsigned long numbers[4] = {};
    const int counts = command == "blue-columns" ? 3 : command == "ink-bands" ? 4 : 0;
    bool valid = (command == "close" && argc == 3) || (command == "grab" && argc == 4) ||
                 (counts > 0 && argc == 3 + counts);
    for (int i = 0; valid && i < counts; ++i)
        valid = ReadNumber(argv[3 + i], numbers[i]) && numbers[i] < 1u << 20;
    if (!valid || !ReadNumber(argv[2], window) || window == 0) {
        std::fprintf(stderr,
                     "usage: e2e_x11 close WINDOW_ID\n"
                     "       e2e_x11 blue-columns WINDOW_ID Y X_FROM X_TO\n"
                     "       e2e_x11 grab WINDOW_ID FILE\n"
                     "       e2e_x11 ink-bands WINDOW_ID X Y WIDTH HEIGHT\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "e2e_x11: cannot open the display\n");
        return 2;
    }
    const auto n = [&](int i) { return static_cast<int>(numbers[i]); };
    int result = 2;
    if (command == "close") {
        result = Close(display, window);
    } else if (command == "blue-columns") {
        result = BlueColumns(display, window, n(0), n(1), n(2));
    } else if (command == "grab") {
        result = Grab(display, window, argv[3]);
    } else {
        result = InkBands(display, window, n(0), n(1), n(2), n(3));
    }
    XCloseDisplay(display);
    return result;
}
