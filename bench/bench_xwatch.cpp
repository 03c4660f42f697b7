// Watches an X display for the first top-level window whose name contains TEXT and reports,
// as CLOCK_MONOTONIC stamps, when it was mapped and when its first frame was on the screen.
// Lets the benchmark time the real program's start without any hook inside it.
//
// Usage: bench_xwatch TEXT [TIMEOUT_SECONDS]
// Prints "ready" once it is watching, then "map_ns=M paint_ns=P window=W".
// A window counts as painted once its pixels are no longer one flat colour: the server fills
// a fresh window with a single background, the program's first frame never is one.
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include <poll.h>

namespace {

std::int64_t nowNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

std::string windowName(xcb_connection_t *c, xcb_window_t window) {
    xcb_get_property_cookie_t cookie =
        xcb_get_property(c, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024);
    xcb_get_property_reply_t *reply = xcb_get_property_reply(c, cookie, nullptr);
    std::string name;
    if (reply) {
        name.assign(static_cast<const char *>(xcb_get_property_value(reply)),
                    std::size_t(xcb_get_property_value_length(reply)));
        std::free(reply);
    }
    return name;
}

// True when the window shows more than one colour.
bool painted(xcb_connection_t *c, xcb_window_t window) {
    xcb_get_geometry_reply_t *geometry =
        xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr);
    if (!geometry)
        return false;
    const std::uint16_t width = geometry->width;
    const std::uint16_t height = geometry->height;
    std::free(geometry);
    xcb_get_image_reply_t *image = xcb_get_image_reply(
        c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0, 0, width, height, ~0u), nullptr);
    if (!image)
        return false;
    const std::uint8_t *data = xcb_get_image_data(image);
    const int length = xcb_get_image_data_length(image);
    bool varied = false;
    // 24-bit depth comes as 32 bits a pixel; the padding byte carries nothing.
    for (int i = 4; i + 3 < length && !varied; i += 4)
        varied = std::memcmp(data + i, data, 3) != 0;
    std::free(image);
    return varied;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_xwatch TEXT [TIMEOUT_SECONDS]\n");
        return 2;
    }
    const std::string wanted = argv[1];
    const double timeout = argc > 2 ? std::atof(argv[2]) : 20.0;
    const std::int64_t giveUpNs = nowNs() + std::int64_t(timeout * 1e9);

    int screenNumber = 0;
    xcb_connection_t *c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "bench_xwatch: cannot connect to the display\n");
        return 1;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&it);
    const xcb_window_t root = it.data->root;
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);
    std::printf("ready\n");
    std::fflush(stdout);

    xcb_window_t window = XCB_NONE;
    std::int64_t mapNs = -1;
    while (window == XCB_NONE && nowNs() < giveUpNs) {
        pollfd p{xcb_get_file_descriptor(c), POLLIN, 0};
        ::poll(&p, 1, 50);
        while (xcb_generic_event_t *event = xcb_poll_for_event(c)) {
            if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY && window == XCB_NONE) {
                const std::int64_t at = nowNs();
                const auto *map = reinterpret_cast<xcb_map_notify_event_t *>(event);
                if (windowName(c, map->window).find(wanted) != std::string::npos) {
                    window = map->window;
                    mapNs = at;
                }
            }
            std::free(event);
        }
        if (xcb_connection_has_error(c))
            return 1;
    }
    if (window == XCB_NONE) {
        std::fprintf(stderr, "bench_xwatch: no window named like \"%s\" appeared\n",
                     wanted.c_str());
        return 1;
    }

    std::int64_t paintNs = -1;
    while (paintNs < 0 && nowNs() < giveUpNs) {
        if (painted(c, window)) {
            paintNs = nowNs();
            break;
        }
        const timespec pause{0, 1'000'000};
        ::nanosleep(&pause, nullptr);
    }
    std::printf("map_ns=%lld paint_ns=%lld window=%u\n", static_cast<long long>(mapNs),
                static_cast<long long>(paintNs), unsigned(window));
    xcb_disconnect(c);
    return paintNs < 0 ? 1 : 0;
}
