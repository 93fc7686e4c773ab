#include "ui/settings/PlantPage.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSysInfo>

namespace quorvex {

namespace {

struct PlantField {
    const char *caption; // "&" before the access key
    const char *key;
    const char *defaultText;
    const char *placeholder;
};

constexpr PlantField kFields[] = {
    {"&Server", "Server", "", "vuoto: nessun invio all'impianto"},
    {"&Porta", "Porta", "1883", ""},
    {"&Linea", "Linea", "", nullptr}, // placeholder: the host name, the default
    {"&Utente", "Utente", "", "vuoto: anonimo"},
    {"File pass&word", "FilePassword", "", "file con la password (prima riga)"},
    {"File &CA", "FileCA", "", "vuoto: senza TLS"},
    {"&Keepalive (s)", "Keepalive", "60", ""},
};

const QString kGroup = QStringLiteral("Impianto");

} // namespace

PlantPage::PlantPage(QWidget *parent) : QWidget(parent)
{
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(6, 6, 6, 4);
    grid->setVerticalSpacing(2);
    grid->setColumnStretch(1, 1);
    for (const PlantField &field : kFields) {
        const QString caption = QString::fromUtf8(field.caption);
        auto *label = new QLabel(caption, this);
        label->setObjectName(QStringLiteral("LblImpianto%1").arg(QLatin1String(field.key)));
        auto *edit = new QLineEdit(this);
        edit->setObjectName(QStringLiteral("TxtImpianto%1").arg(QLatin1String(field.key)));
        edit->setAccessibleName(QString(caption).remove(QLatin1Char('&')));
        edit->setPlaceholderText(field.placeholder ? QString::fromUtf8(field.placeholder) : QSysInfo::machineHostName());
        label->setBuddy(edit);
        const int row = grid->rowCount();
        grid->addWidget(label, row, 0);
        grid->addWidget(edit, row, 1);
        m_edits << edit;
    }
    grid->setRowStretch(grid->rowCount(), 1);
}

void PlantPage::load(const SettingsStore &store)
{
    for (qsizetype i = 0; i < m_edits.size(); ++i) {
        const PlantField &field = kFields[i];
        m_edits[i]->setText(store.value(kGroup, QLatin1String(field.key)).value_or(QLatin1String(field.defaultText)));
    }
}

QList<SettingsStore::Change> PlantPage::changes() const
{
    QList<SettingsStore::Change> changes;
    for (qsizetype i = 0; i < m_edits.size(); ++i)
        changes.append({kGroup, QLatin1String(kFields[i].key), m_edits[i]->text()});
    return changes;
}

QList<QWidget *> PlantPage::focusChain() const
{
    return {m_edits.begin(), m_edits.end()};
}

} // namespace quorvex
