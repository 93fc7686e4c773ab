#pragma once
// The one window of its kind in the process: made on first need, the same
// one brought forward while it is loaded. A window that ends on close
// (Qt::WA_DeleteOnClose) and has been hidden is on its way out: the next
// need makes a new one. A window left at the end is deleted with its holder.
#include <QPointer>
#include <QWidget>

namespace quorvex {

template<typename Window> class LoadedWindow {
public:
    LoadedWindow() = default;
    LoadedWindow(const LoadedWindow &) = delete;
    LoadedWindow &operator=(const LoadedWindow &) = delete;
    ~LoadedWindow() { delete m_window.data(); }

    // The loaded window, or null.
    Window *get() const { return leaving() ? nullptr : m_window.data(); }

    // The loaded window, made hidden by make() when there is none: for a
    // window that lives hidden (one that ends on close is shown at once).
    template<typename Make> Window *load(Make make)
    {
        if (!get())
            m_window = make();
        return m_window.data();
    }

    // Loads the window as load() does, then shows it, brings it to the front
    // and gives it the focus.
    template<typename Make> Window *show(Make make)
    {
        Window *window = load(make);
        window->show();
        window->raise();
        window->activateWindow();
        return window;
    }

private:
    bool leaving() const { return m_window && m_window->testAttribute(Qt::WA_DeleteOnClose) && m_window->isHidden(); }

    QPointer<Window> m_window;
};

} // namespace quorvex
