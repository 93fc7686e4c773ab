#include "ui/sampler/Placement.h"

#include "line/Conversions.h"
#include "line/SettingsReader.h"
#include "ui/sampler/NumberText.h"

#include <QLocale>
#include <QWidget>
#include <QWindow>
#include <cmath>
#include <limits>
#include <optional>

namespace quorvex {

namespace {

enum StoredWindowState : int { NormalWindow = 0, MinimizedWindow = 1, MaximizedWindow = 2 };

int storedStateOf(const QWidget &w)
{
    if (w.isMinimized())
        return MinimizedWindow;
    if (w.isMaximized())
        return MaximizedWindow;
    return NormalWindow;
}

void applyWindowState(QWidget &w, int state)
{
    Qt::WindowStates states = w.windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen);
    if (state == MinimizedWindow)
        states |= Qt::WindowMinimized;
    else if (state == MaximizedWindow)
        states |= Qt::WindowMaximized;
    w.setWindowState(states);
}

// A stored dimension in twips, as a single-precision number of the user's
// locale; nullopt when it is absent or does not convert.
std::optional<float> readTwips(const SettingsSnapshot &store, const QByteArray &group, const char *key)
{
    const auto twips = [](const QString &text) -> std::optional<float> {
        bool ok = false;
        const float value = QLocale().toFloat(text.trimmed(), &ok);
        if (!ok || !std::isfinite(value))
            return std::nullopt;
        return value;
    };
    return readSetting(store, group.constData(), key, twips, decimalProblem(), QStringLiteral("it is not applied"));
}

int pixelsOf(float twips)
{
    const double px = std::round(double(twips) / kTwipsPerPixel);
    if (px > std::numeric_limits<int>::max() / 2 || px < std::numeric_limits<int>::min() / 2)
        return 0;
    return int(px);
}

} // namespace

void RipristinaPosizione(QWidget &w, const SettingsSnapshot &store)
{
    const QByteArray group = w.objectName().toLatin1();
    applyWindowState(w, NormalWindow);

    // Width and height are outer sizes: the frame, when there is one, is
    // taken off before sizing the client area. The native window is made
    // first so that its frame is known even before it is first shown.
    w.winId();
    const QMargins margins = w.windowHandle() ? w.windowHandle()->frameMargins() : QMargins();
    const QSize frame(margins.left() + margins.right(), margins.top() + margins.bottom());
    if (const auto width = readTwips(store, group, settings::Width); width && *width >= 0)
        w.resize(pixelsOf(*width) - frame.width(), w.height());
    if (const auto height = readTwips(store, group, settings::Height); height && *height >= 0)
        w.resize(w.width(), pixelsOf(*height) - frame.height());
    if (const auto left = readTwips(store, group, settings::Left))
        w.move(pixelsOf(*left), w.pos().y());
    if (const auto top = readTwips(store, group, settings::Top))
        w.move(w.pos().x(), pixelsOf(*top));

    // A hidden window hands its geometry to the native one only when shown;
    // hand it over now, so a maximised or minimised state set below keeps
    // this rectangle as the one to come back to.
    if (w.windowHandle() && !w.isVisible())
        w.windowHandle()->setGeometry(w.geometry());

    const auto knownState = [](const QString &text) -> std::optional<int> {
        const auto state = toWholeNumber(text);
        if (state && *state >= NormalWindow && *state <= MaximizedWindow)
            return *state;
        return std::nullopt;
    };
    if (const auto state =
            readSetting(store, group.constData(), settings::WindowState, knownState,
                        wholeNumberProblem(NormalWindow, MaximizedWindow), QStringLiteral("it is not applied")))
        applyWindowState(w, *state);
}

void SalvaPosizione(QWidget &w, SettingsStore &store)
{
    const QString group = w.objectName();
    store.setValue(group, QLatin1String(settings::WindowState), QString::number(storedStateOf(w)));

    // The normal rectangle, whatever the state: a window system may apply
    // the state change later, so it is taken from the normal geometry.
    const QRect client = w.isMinimized() || w.isMaximized() ? w.normalGeometry() : w.geometry();
    const QRect frame = w.frameGeometry();
    const QRect current = w.geometry();
    const QMargins margins(current.left() - frame.left(), current.top() - frame.top(), frame.right() - current.right(),
                           frame.bottom() - current.bottom());
    const QRect outer = (client.isValid() ? client : current).marginsAdded(margins);
    applyWindowState(w, NormalWindow);

    const auto scrivi = [&](const char *key, int pixels) {
        store.setValue(group, QLatin1String(key), numberText(float(toTwips(pixels)), 7));
    };
    scrivi(settings::Width, outer.width());
    scrivi(settings::Height, outer.height());
    scrivi(settings::Left, outer.left());
    scrivi(settings::Top, outer.top());
}

} // namespace quorvex
