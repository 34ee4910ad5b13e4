// SPDX-License-Identifier: GPL-3.0-or-later
#include "linux/X11FrameGrabber.h"

#include <xcb/composite.h>
#include <xcb/res.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <utility>

namespace vidora {
namespace {

// How deep a window manager may nest a client inside the frame it gives it.
constexpr int deepestClient = 3;
// Frames' pixels kept for reuse: as many as are usually on their way to the encoder at once. More in
// flight, when the encoder falls behind, come from the heap and go back to it.
constexpr std::size_t keptFrames = 4;

bool contains(const Rect& outer, const Rect& inner) {
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.width <= outer.x + outer.width &&
           inner.y + inner.height <= outer.y + outer.height;
}

Rect clipped(const Rect& rect, const Rect& bounds) {
    const int left = std::max(rect.x, bounds.x);
    const int top = std::max(rect.y, bounds.y);
    const int right = std::min(rect.x + rect.width, bounds.x + bounds.width);
    const int bottom = std::min(rect.y + rect.height, bounds.y + bounds.height);
    return {left, top, std::max(0, right - left), std::max(0, bottom - top)};
}

}  // namespace

VideoFrame blackFrame(int width, int height, std::shared_ptr<PixelPool> pool) {
    VideoFrame frame = uncoveredFrame(width, height, std::move(pool));
    // One row, copied into each: a frame a display in size is made 30 times a second. Inserted through
    // the pool's allocator the bytes went one at a time: the largest cost after the encoder's.
    std::vector<std::uint8_t> row(static_cast<std::size_t>(frame.stride));
    for (std::size_t alpha = 3; alpha < row.size(); alpha += 4) {
        row[alpha] = 255;
    }
    for (int line = 0; line < frame.height; ++line) {
        std::memcpy(frame.pixels.data() + static_cast<std::ptrdiff_t>(line) * frame.stride, row.data(),
                    row.size());
    }
    return frame;
}

VideoFrame uncoveredFrame(int width, int height, std::shared_ptr<PixelPool> pool) {
    VideoFrame frame{PixelBytes(PixelAllocator<std::uint8_t>(std::move(pool)))};
    frame.width = std::max(0, width);
    frame.height = std::max(0, height);
    frame.stride = frame.width * 4;
    frame.pixels.resize(static_cast<std::size_t>(frame.stride) * static_cast<std::size_t>(frame.height));
    return frame;
}

X11FrameGrabber::X11FrameGrabber(std::unique_ptr<X11Connection> connection, ContentFilter filter,
                                 bool showsCursor)
    : connection_(std::move(connection)),
      filter_(std::move(filter)),
      showsCursor_(showsCursor),
      reader_(*connection_),
      cursor_(*connection_),
      wmState_(connection_->atom("WM_STATE")),
      wmPid_(connection_->atom("_NET_WM_PID")),
      rootPixmap_(connection_->atom("_XROOTPMAP_ID")),
      pixels_(std::make_shared<PixelPool>(keptFrames)) {
    for (const ApplicationRecord& application : filter_.excludedApplications) {
        if (application.pid > 0) {
            excludedProcesses_.insert(static_cast<std::uint32_t>(application.pid));
        }
    }
}

VideoFrame X11FrameGrabber::grab() {
    const Rect& display = filter_.display.frame;
    const MediaTime grabbedAt = mediaNow();
    if (!connection_->isAlive() || display.width <= 0 || display.height <= 0) {
        VideoFrame failed;
        failed.width = std::max(0, display.width);
        failed.height = std::max(0, display.height);
        failed.stride = failed.width * 4;
        failed.presentationTime = grabbedAt;
        return failed;
    }
    if (showsCursor_) {
        cursor_.request();
    }
    const bool including = filter_.kind == ContentFilter::Kind::includingWindows;
    const std::vector<Placed> included = including ? shownIncludedWindows() : std::vector<Placed>{};
    // A root grab of the whole display, or a window covering it (a game in full screen), writes every
    // pixel: the black canvas is only for the rest.
    const bool coversDisplay =
        including ? std::ranges::any_of(included,
                                        [&](const Placed& shown) { return contains(shown.outer, display); })
                  : excludedProcesses_.empty();
    VideoFrame frame = coversDisplay ? uncoveredFrame(display.width, display.height, pixels_)
                                     : blackFrame(display.width, display.height, pixels_);
    frame.presentationTime = grabbedAt;
    bool painted = false;
    if (including && coversDisplay && aloneOnDisplay(included.back())) {
        // Read from the screen, as a display is: a window redirected for its own pixmap is drawn twice by
        // the X server, which costs the game a copy of each of its frames, and a compositor that shows a
        // full-screen game unredirected would have it redirected again.
        if (redirected_.erase(included.back().window) > 0) {
            xcb_composite_unredirect_window(connection_->get(), included.back().window,
                                            XCB_COMPOSITE_REDIRECT_AUTOMATIC);
        }
        painted = reader_.paint(connection_->root(), display, frame, 0, 0);
    } else {
        painted = including ? paintIncludedWindows(included, frame) : paintWithoutExcluded(frame);
    }
    if (!painted) {
        frame.pixels = {};
    }
    // Also collects the answer of a failed frame, so that the next frame asks afresh.
    cursor_.paint(frame, display.x, display.y);
    connection_->discardEvents();
    frame.complete = painted && connection_->isAlive();
    if (!frame.complete) {
        frame.pixels = {};
    }
    return frame;
}

std::vector<X11FrameGrabber::Placed> X11FrameGrabber::shownIncludedWindows() {
    if (!connection_->hasComposite()) {
        return {};
    }
    xcb_connection_t* c = connection_->get();
    struct Query {
        xcb_window_t window;
        xcb_get_window_attributes_cookie_t attributes;
        xcb_get_geometry_cookie_t geometry;
        xcb_translate_coordinates_cookie_t place;
    };
    std::vector<Query> queries;
    for (const Window& window : filter_.includedWindows) {
        const xcb_window_t id = window.windowID;
        queries.push_back({id, xcb_get_window_attributes(c, id), xcb_get_geometry(c, id),
                           xcb_translate_coordinates(c, id, connection_->root(), 0, 0)});
    }
    stacking_ = topLevelWindows();
    const std::vector<xcb_window_t>& stacking = stacking_;
    std::vector<Placed> shown;
    for (const Query& query : queries) {
        const auto attributes = xcbReply(xcb_get_window_attributes_reply, c, query.attributes);
        const auto geometry = xcbReply(xcb_get_geometry_reply, c, query.geometry);
        const auto place = xcbReply(xcb_translate_coordinates_reply, c, query.place);
        // A window that is gone or not shown leaves its place black.
        if (!attributes || !geometry || !place || attributes->map_state != XCB_MAP_STATE_VIEWABLE ||
            attributes->_class == XCB_WINDOW_CLASS_INPUT_ONLY) {
            continue;
        }
        const int border = geometry->border_width;
        const Rect outer{place->dst_x - border, place->dst_y - border, geometry->width + 2 * border,
                         geometry->height + 2 * border};
        const auto found = std::find(stacking.begin(), stacking.end(), topLevelAncestor(query.window));
        shown.push_back({query.window, outer, static_cast<std::size_t>(found - stacking.begin())});
    }
    std::stable_sort(shown.begin(), shown.end(), [](const Placed& lower, const Placed& upper) {
        return lower.stackingPlace < upper.stackingPlace;
    });
    return shown;
}

bool X11FrameGrabber::aloneOnDisplay(const Placed& placed) {
    const Rect& display = filter_.display.frame;
    if (!contains(placed.outer, display) || placed.stackingPlace >= stacking_.size()) {
        return false;
    }
    xcb_connection_t* c = connection_->get();
    std::vector<std::pair<xcb_get_window_attributes_cookie_t, xcb_get_geometry_cookie_t>> above;
    for (std::size_t place = placed.stackingPlace + 1; place < stacking_.size(); ++place) {
        above.emplace_back(xcb_get_window_attributes(c, stacking_[place]),
                           xcb_get_geometry(c, stacking_[place]));
    }
    bool alone = true;
    for (const auto& [attributesCookie, geometryCookie] : above) {
        const auto attributes = xcbReply(xcb_get_window_attributes_reply, c, attributesCookie);
        const auto geometry = xcbReply(xcb_get_geometry_reply, c, geometryCookie);
        if (attributes && geometry && attributes->map_state == XCB_MAP_STATE_VIEWABLE &&
            attributes->_class != XCB_WINDOW_CLASS_INPUT_ONLY &&
            Rect{geometry->x, geometry->y, geometry->width + 2 * geometry->border_width,
                 geometry->height + 2 * geometry->border_width}
                .intersects(display)) {
            alone = false;
        }
    }
    return alone;
}

bool X11FrameGrabber::paintIncludedWindows(const std::vector<Placed>& shown, VideoFrame& frame) {
    for (const Placed& placed : shown) {
        if (!paintWindow(placed, frame)) {
            return false;
        }
    }
    return !shown.empty();
}

bool X11FrameGrabber::paintWithoutExcluded(VideoFrame& frame) {
    const Rect& display = filter_.display.frame;
    const xcb_window_t root = connection_->root();
    if (excludedProcesses_.empty()) {
        return reader_.paint(root, display, frame, 0, 0);
    }
    xcb_connection_t* c = connection_->get();
    const std::vector<xcb_window_t> children = topLevelWindows();
    std::vector<std::pair<xcb_get_window_attributes_cookie_t, xcb_get_geometry_cookie_t>> cookies;
    for (const xcb_window_t child : children) {
        cookies.emplace_back(xcb_get_window_attributes(c, child), xcb_get_geometry(c, child));
    }
    struct Shown {
        Placed placed;
        bool excluded;
    };
    std::vector<Shown> shown;  // bottom first
    for (std::size_t i = 0; i < children.size(); ++i) {
        const auto attributes = xcbReply(xcb_get_window_attributes_reply, c, cookies[i].first);
        const auto geometry = xcbReply(xcb_get_geometry_reply, c, cookies[i].second);
        if (!attributes || !geometry || attributes->map_state != XCB_MAP_STATE_VIEWABLE ||
            attributes->_class == XCB_WINDOW_CLASS_INPUT_ONLY) {
            continue;
        }
        const int border = geometry->border_width;
        const Rect outer{geometry->x, geometry->y, geometry->width + 2 * border,
                         geometry->height + 2 * border};
        if (outer.intersects(display)) {
            shown.push_back(
                {{children[i], outer}, isExcluded(children[i], attributes->override_redirect != 0)});
        }
    }
    // Forget windows that are gone: the server may give their ids to new windows.
    const std::set<xcb_window_t> present(children.begin(), children.end());
    std::erase_if(excludedWindows_, [&](const auto& entry) { return !present.contains(entry.first); });
    std::erase_if(redirected_, [&](xcb_window_t window) { return !present.contains(window); });

    if (std::none_of(shown.begin(), shown.end(), [](const Shown& window) { return window.excluded; })) {
        return reader_.paint(root, display, frame, 0, 0);
    }
    if (!connection_->hasComposite()) {
        return false;
    }
    paintRootBackground(frame);
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (shown[i].excluded) {
            continue;
        }
        // A window hidden behind one shown above it costs a read for nothing.
        const Rect visible = clipped(shown[i].placed.outer, display);
        const bool covered = std::any_of(
            shown.begin() + static_cast<std::ptrdiff_t>(i) + 1, shown.end(),
            [&](const Shown& above) { return !above.excluded && contains(above.placed.outer, visible); });
        // A window that vanished since the listing leaves what lies under it.
        if (!covered) {
            paintWindow(shown[i].placed, frame);
        }
    }
    return connection_->isAlive();
}

void X11FrameGrabber::paintRootBackground(VideoFrame& frame) {
    if (rootPixmap_ == XCB_ATOM_NONE) {
        return;
    }
    xcb_connection_t* c = connection_->get();
    const auto reply =
        xcbReply(xcb_get_property_reply, c,
                 xcb_get_property(c, 0, connection_->root(), rootPixmap_, XCB_ATOM_PIXMAP, 0, 1));
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4) {
        return;
    }
    const xcb_pixmap_t wallpaper = *static_cast<const xcb_pixmap_t*>(xcb_get_property_value(reply.get()));
    // A wallpaper that cannot be read leaves the background black: a failed read paints nothing.
    reader_.paint(wallpaper, filter_.display.frame, frame, 0, 0);
}

bool X11FrameGrabber::paintWindow(const Placed& placed, VideoFrame& frame) {
    xcb_connection_t* c = connection_->get();
    // Automatic redirection keeps the screen as it is and gives the window a pixmap of its own.
    if (redirected_.insert(placed.window).second) {
        xcb_composite_redirect_window(c, placed.window, XCB_COMPOSITE_REDIRECT_AUTOMATIC);
    }
    // A name taken afresh each frame: the window gets a new pixmap when it is resized or mapped again.
    const xcb_pixmap_t pixmap = xcb_generate_id(c);
    xcb_composite_name_window_pixmap(c, placed.window, pixmap);
    const Rect& display = filter_.display.frame;
    const bool painted = reader_.paint(pixmap, {0, 0, placed.outer.width, placed.outer.height}, frame,
                                       placed.outer.x - display.x, placed.outer.y - display.y);
    xcb_free_pixmap(c, pixmap);
    if (!painted) {
        redirected_.erase(placed.window);
    }
    return painted;
}

std::vector<xcb_window_t> X11FrameGrabber::topLevelWindows() const {
    xcb_connection_t* c = connection_->get();
    const auto tree = xcbReply(xcb_query_tree_reply, c, xcb_query_tree(c, connection_->root()));
    if (!tree) {
        return {};
    }
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    return {children, children + xcb_query_tree_children_length(tree.get())};
}

xcb_window_t X11FrameGrabber::topLevelAncestor(xcb_window_t window) const {
    xcb_connection_t* c = connection_->get();
    for (int depth = 0; depth < 16; ++depth) {
        const auto tree = xcbReply(xcb_query_tree_reply, c, xcb_query_tree(c, window));
        if (!tree || tree->parent == XCB_WINDOW_NONE) {
            return XCB_WINDOW_NONE;
        }
        if (tree->parent == connection_->root()) {
            return window;
        }
        window = tree->parent;
    }
    return XCB_WINDOW_NONE;
}

bool X11FrameGrabber::isExcluded(xcb_window_t topLevel, bool overrideRedirect) {
    if (const auto known = excludedWindows_.find(topLevel); known != excludedWindows_.end()) {
        return known->second;
    }
    // A managed window's process is its client's; the frame around it belongs to the window manager.
    const xcb_window_t client = overrideRedirect ? xcb_window_t{XCB_WINDOW_NONE} : clientWindow(topLevel);
    const std::vector<std::uint32_t> processes = processesOf(client != XCB_WINDOW_NONE ? client : topLevel);
    const bool excluded = std::any_of(processes.begin(), processes.end(),
                                      [&](std::uint32_t pid) { return excludedProcesses_.contains(pid); });
    // A frame still waiting for its client is asked again next time.
    if (client != XCB_WINDOW_NONE || overrideRedirect) {
        excludedWindows_[topLevel] = excluded;
    }
    return excluded;
}

std::vector<std::uint32_t> X11FrameGrabber::processesOf(xcb_window_t window) const {
    xcb_connection_t* c = connection_->get();
    std::vector<std::uint32_t> processes;
    const auto property = xcb_get_property(c, 0, window, wmPid_, XCB_ATOM_CARDINAL, 0, 1);
    xcb_res_query_client_ids_cookie_t clientIds{};
    const xcb_res_client_id_spec_t client{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
    if (connection_->hasResource()) {
        clientIds = xcb_res_query_client_ids(c, 1, &client);
    }
    if (const auto reply = xcbReply(xcb_get_property_reply, c, property);
        reply && reply->format == 32 && xcb_get_property_value_length(reply.get()) >= 4) {
        processes.push_back(*static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get())));
    }
    if (connection_->hasResource()) {
        const auto reply = xcbReply(xcb_res_query_client_ids_reply, c, clientIds);
        if (reply) {
            for (auto ids = xcb_res_query_client_ids_ids_iterator(reply.get()); ids.rem > 0;
                 xcb_res_client_id_value_next(&ids)) {
                if ((ids.data->spec.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) != 0 &&
                    xcb_res_client_id_value_value_length(ids.data) >= 1) {
                    processes.push_back(*xcb_res_client_id_value_value(ids.data));
                }
            }
        }
    }
    return processes;
}

xcb_window_t X11FrameGrabber::clientWindow(xcb_window_t topLevel) const {
    if (wmState_ == XCB_ATOM_NONE) {
        return XCB_WINDOW_NONE;
    }
    xcb_connection_t* c = connection_->get();
    // Breadth first, as the window manager's frame usually holds its client one level down.
    std::deque<std::pair<xcb_window_t, int>> pending{{topLevel, 0}};
    while (!pending.empty()) {
        const auto [window, depth] = pending.front();
        pending.pop_front();
        const auto state =
            xcbReply(xcb_get_property_reply, c, xcb_get_property(c, 0, window, wmState_, XCB_ATOM_ANY, 0, 0));
        if (state && state->type != XCB_ATOM_NONE) {
            return window;
        }
        if (depth >= deepestClient) {
            continue;
        }
        const auto tree = xcbReply(xcb_query_tree_reply, c, xcb_query_tree(c, window));
        if (tree) {
            const xcb_window_t* children = xcb_query_tree_children(tree.get());
            for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
                pending.emplace_back(children[i], depth + 1);
            }
        }
    }
    return XCB_WINDOW_NONE;
}

}  // namespace vidora
