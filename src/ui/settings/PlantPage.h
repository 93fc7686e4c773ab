#pragma once
// The "Impianto" tab: the plant's MQTT broker and how this line appears
// there ([Impianto] in the store). Plain text fields like the other tabs;
// the configuration load says what it could not use.
#include "line/SettingsStore.h"

#include <QList>
#include <QWidget>

class QLineEdit;

namespace quorvex {

class PlantPage : public QWidget {
    Q_OBJECT
public:
    explicit PlantPage(QWidget *parent = nullptr);

    // Fills every field from the store, or its default.
    void load(const SettingsStore &store);
    // Every field's text under [Impianto], in order.
    QList<SettingsStore::Change> changes() const;
    // The fields, top to bottom, for the tab order.
    QList<QWidget *> focusChain() const;

private:
    QList<QLineEdit *> m_edits;
};

} // namespace quorvex
