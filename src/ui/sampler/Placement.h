#pragma once
// Window placement kept in the settings store, in twips, under a group named
// after the window (its object name), and the small helpers around it.
#include "common/Twips.h"

#include <QString>

class QWidget;

namespace quorvex {

class SettingsSnapshot;
class SettingsStore;

// Brings the window back where it was saved: normal state, then Width,
// Height, Left and Top each on its own (a missing key or one that is not a
// number leaves that value as it is), then the stored state. No clamping to
// the screen.
void RipristinaPosizione(QWidget &window, const SettingsSnapshot &store);

// Saves the window's state, then puts it in the normal state and saves the
// normal rectangle.
void SalvaPosizione(QWidget &window, SettingsStore &store);

// The larger of a and b; b when they are equal.
template<typename T> T Massimo(T a, T b)
{
    return a > b ? a : b;
}

} // namespace quorvex
