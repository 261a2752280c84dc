#include "WindowMapWatcher.h"

#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace {

template <typename T> struct Freed
{
    explicit Freed(T* p)
        : ptr(p)
    {
    }
    Freed(const Freed&) = delete;
    Freed& operator=(const Freed&) = delete;
    ~Freed() { std::free(ptr); }
    T* ptr;
};

} // namespace

WindowMapWatcher::WindowMapWatcher(QObject* parent)
    : QObject(parent)
{
    int screenNumber = 0;
    m_connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(m_connection))
        return;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem)
        return;

    static const char pidName[] = "_NET_WM_PID";
    Freed<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, false, sizeof pidName - 1, pidName), nullptr));
    m_pidAtom = atom.ptr ? atom.ptr->atom : quint32(XCB_ATOM_NONE);

    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(m_connection, screens.data->root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(m_connection);
    m_notifier = std::make_unique<QSocketNotifier>(
        xcb_get_file_descriptor(m_connection), QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &WindowMapWatcher::readEvents);
}

WindowMapWatcher::~WindowMapWatcher()
{
    m_notifier.reset();
    xcb_disconnect(m_connection);
}

void WindowMapWatcher::readEvents()
{
    // Also drains the events read while waiting for a property reply, which
    // the socket would not announce again.
    while (xcb_generic_event_t* raw = xcb_poll_for_event(m_connection)) {
        Freed<xcb_generic_event_t> event(raw);
        if ((event.ptr->response_type & 0x7f) != XCB_MAP_NOTIFY)
            continue;
        xcb_map_notify_event_t mapped;
        std::memcpy(&mapped, event.ptr, sizeof mapped);
        if (mapped.override_redirect)
            continue;
        emit windowMapped(mapped.window, pidOf(mapped.window));
    }
}

qint64 WindowMapWatcher::pidOf(quint32 window)
{
    if (m_pidAtom == XCB_ATOM_NONE)
        return -1;
    Freed<xcb_get_property_reply_t> reply(xcb_get_property_reply(m_connection,
        xcb_get_property(m_connection, false, window, m_pidAtom, XCB_ATOM_CARDINAL, 0, 1),
        nullptr));
    if (!reply.ptr || xcb_get_property_value_length(reply.ptr) != 4)
        return -1;
    quint32 pid = 0;
    std::memcpy(&pid, xcb_get_property_value(reply.ptr), sizeof pid);
    return pid;
}
