// The notification area on X11 is whoever owns the selection
// _NET_SYSTEM_TRAY_S<screen>. It goes away when that owner's window is
// destroyed (the panel crashed or was restarted), and a new one announces
// itself with a MANAGER client message to the root window. Both arrive as
// events on a connection of our own, whose descriptor the window watches.
#include <xcb/xcb.h>

#include <cstdlib>
#include <string>

#include "platform/platform.h"

namespace tolvane::platform {

namespace {

class X11TrayWatch final : public NotificationAreaWatch {
public:
    X11TrayWatch() {
        int screenNumber = 0;
        m_c = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(m_c)) return;
        auto it = xcb_setup_roots_iterator(xcb_get_setup(m_c));
        for (int i = 0; i < screenNumber && it.rem; ++i) xcb_screen_next(&it);
        if (!it.rem) return;
        m_root = it.data->root;
        const std::string selection = "_NET_SYSTEM_TRAY_S" + std::to_string(screenNumber);
        m_selection = atom(selection.c_str());
        m_manager = atom("MANAGER");
        // MANAGER is sent to the root with the structure-notify mask.
        const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_c, m_root, XCB_CW_EVENT_MASK, &mask);
        follow(currentOwner());
    }
    ~X11TrayWatch() override {
        if (m_c) xcb_disconnect(m_c);
    }

    int descriptor() const override {
        return m_c && !xcb_connection_has_error(m_c) && m_root ? xcb_get_file_descriptor(m_c) : -1;
    }

    std::optional<bool> areaPresent() override {
        if (!m_c || xcb_connection_has_error(m_c) || !m_root) return std::nullopt;
        // Asking the owner reads the connection too: events that arrive
        // meanwhile wait in xcb's queue, not on the descriptor, so the queue
        // is emptied until a pass finds nothing new.
        for (int pass = 0; pass < 8; ++pass) {
            bool changed = false;
            bool any = false;
            while (xcb_generic_event_t* e = xcb_poll_for_event(m_c)) {
                any = true;
                switch (e->response_type & 0x7f) {
                    case XCB_DESTROY_NOTIFY:
                        if (reinterpret_cast<xcb_destroy_notify_event_t*>(e)->window == m_owner) changed = true;
                        break;
                    case XCB_CLIENT_MESSAGE: {
                        const auto* m = reinterpret_cast<xcb_client_message_event_t*>(e);
                        if (m->type == m_manager && m->format == 32 && m->data.data32[1] == m_selection) changed = true;
                        break;
                    }
                    default: break;
                }
                std::free(e);
            }
            // Asked again rather than taken from the events: the owner may
            // have changed hands between them.
            if (changed || m_owner == XCB_WINDOW_NONE) follow(currentOwner());
            if (!any) break;
        }
        if (xcb_connection_has_error(m_c)) return std::nullopt;
        return m_owner != XCB_WINDOW_NONE;
    }

private:
    xcb_atom_t atom(const char* name) {
        auto* r = xcb_intern_atom_reply(
            m_c, xcb_intern_atom(m_c, 0, static_cast<std::uint16_t>(std::string(name).size()), name), nullptr);
        const xcb_atom_t a = r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(r);
        return a;
    }
    xcb_window_t currentOwner() {
        auto* r = xcb_get_selection_owner_reply(m_c, xcb_get_selection_owner(m_c, m_selection), nullptr);
        const xcb_window_t owner = r ? r->owner : xcb_window_t{XCB_WINDOW_NONE};
        std::free(r);
        return owner;
    }
    // Listens for the owner's end; an owner that went in the meantime is
    // seen by asking once more after listening.
    void follow(xcb_window_t owner) {
        m_owner = owner;
        if (owner == XCB_WINDOW_NONE) return;
        const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_c, owner, XCB_CW_EVENT_MASK, &mask);
        if (currentOwner() != owner) m_owner = XCB_WINDOW_NONE;
        xcb_flush(m_c);
    }

    xcb_connection_t* m_c = nullptr;
    xcb_window_t m_root = XCB_WINDOW_NONE;
    xcb_window_t m_owner = XCB_WINDOW_NONE;
    xcb_atom_t m_selection = XCB_ATOM_NONE;
    xcb_atom_t m_manager = XCB_ATOM_NONE;
};

}  // namespace

std::unique_ptr<NotificationAreaWatch> watchNotificationArea() { return std::make_unique<X11TrayWatch>(); }

}  // namespace tolvane::platform
