#include "ui/settings/PortsPage.h"

#include "line/Conversions.h"
#include "line/PortDirectory.h"
#include "line/SettingsSchema.h"

#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QStandardItemModel>
#include <QTreeView>
#include <QVBoxLayout>

namespace quorvex {

PortsPage::PortsPage(QList<SerialDeviceChoice> devices, QWidget *parent)
        : QWidget(parent), m_devices(std::move(devices))
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(6, 6, 6, 6);
    m_grid = new QGridLayout;
    m_grid->setContentsMargins(0, 0, 0, 0);
    m_grid->setVerticalSpacing(2);
    m_grid->setColumnStretch(1, 1);
    outer->addLayout(m_grid);
    outer->addStretch(1);
    m_none = new QLabel(QStringLiteral("Nessun ruolo ha un numero di porta valido."), this);
    m_grid->addWidget(m_none, 0, 0);
}

void PortsPage::setRolePorts(const QList<std::pair<QString, QString>> &rolePorts)
{
    // Port numbers 1 and up, each with the roles that name it.
    QMap<int, QStringList> used;
    for (const auto &[role, text] : rolePorts) {
        const auto number = toWholeNumber(text);
        if (number && *number >= 1)
            used[*number] << role;
    }
    for (auto it = m_rows.begin(); it != m_rows.end();) {
        if (used.contains(it.key())) {
            ++it;
            continue;
        }
        for (QWidget *w : {static_cast<QWidget *>(it->label), static_cast<QWidget *>(it->box),
                           static_cast<QWidget *>(it->roles), static_cast<QWidget *>(it->about)})
            delete w;
        it = m_rows.erase(it);
    }
    for (auto it = used.cbegin(); it != used.cend(); ++it) {
        if (!m_rows.contains(it.key()))
            m_rows.insert(it.key(), makeRow(it.key()));
        const Row &row = m_rows[it.key()];
        row.label->setToolTip(it.value().join(QStringLiteral(", ")));
        row.roles->setText(it.value().join(QStringLiteral(", ")));
    }
    layOutRows();
    emit rowsChanged();
}

// The rows in port number order, each with its description under the box.
void PortsPage::layOutRows()
{
    m_none->setVisible(m_rows.isEmpty());
    int at = 1;
    for (const Row &row : std::as_const(m_rows)) {
        m_grid->addWidget(row.label, at, 0);
        m_grid->addWidget(row.box, at, 1);
        m_grid->addWidget(row.roles, at, 2);
        m_grid->addWidget(row.about, at + 1, 1, 1, 2);
        at += 2;
    }
}

// A port number's row; its box starts with what was typed for the number
// before, else with what the store holds, read once per number.
PortsPage::Row PortsPage::makeRow(int number)
{
    if (!m_stored.contains(number))
        m_stored[number] = SettingsStore().value(QLatin1String(settings::Porte), QString::number(number));
    if (!m_typed.contains(number))
        m_typed[number] = m_stored.value(number).value_or(QString());

    Row row;
    row.label = new QLabel(QStringLiteral("Porta %1").arg(number), this);
    row.box = makeDeviceBox(number);
    row.box->setAccessibleName(row.label->text());
    row.label->setBuddy(row.box);
    row.roles = new QLabel(this);
    row.about = new QLabel(this);
    row.about->setObjectName(QStringLiteral("LblPorta%1Dispositivo").arg(number));
    QFont small = row.about->font();
    small.setPointSizeF(small.pointSizeF() - 1);
    row.about->setFont(small);
    row.about->setIndent(2);
    describe(row.box, row.about);
    connect(row.box, &QComboBox::editTextChanged, this,
            [this, number, box = row.box, about = row.about](const QString &text) {
                m_typed[number] = text;
                describe(box, about);
            });
    return row;
}

// An editable box whose drop-down shows each device's path with what it is.
QComboBox *PortsPage::makeDeviceBox(int number)
{
    auto *box = new QComboBox(this);
    box->setObjectName(QStringLiteral("CboPorta%1").arg(number));
    box->setProperty("port", number);
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    auto *model = new QStandardItemModel(0, 2, box);
    for (const SerialDeviceChoice &d : m_devices)
        model->appendRow({new QStandardItem(d.path), new QStandardItem(d.description)});
    auto *view = new QTreeView(box);
    view->setHeaderHidden(true);
    view->setRootIsDecorated(false);
    view->setAllColumnsShowFocus(true);
    box->setModel(model);
    box->setView(view);
    view->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // Wide enough for the longest path with its description.
    int widest = 0;
    for (const SerialDeviceChoice &d : m_devices)
        widest = std::max(widest, box->fontMetrics().horizontalAdvance(d.path + d.description));
    view->setMinimumWidth(widest + 48);
    box->setModelColumn(0);
    box->setEditText(m_typed.value(number));
    box->lineEdit()->setPlaceholderText(defaultDevicePath(number));
    return box;
}

// Tells the operator what the path in box is: an adapter present now, a
// device that exists, or nothing there.
void PortsPage::describe(QComboBox *box, QLabel *about) const
{
    const QString path = box->currentText().trimmed();
    const QString shown = path.isEmpty() ? box->lineEdit()->placeholderText() : path;
    QString text;
    for (const SerialDeviceChoice &d : m_devices) {
        if (d.path == shown)
            text = d.description.isEmpty() ? QStringLiteral("dispositivo presente") : d.description;
    }
    if (text.isEmpty())
        text = QFileInfo::exists(shown) ? QStringLiteral("dispositivo presente")
                                        : QStringLiteral("dispositivo non presente ora");
    if (path.isEmpty())
        text = QStringLiteral("predefinito, ") + text;
    about->setText(text);
    box->setAccessibleDescription(text);
}

QList<SettingsStore::Change> PortsPage::changes() const
{
    QList<SettingsStore::Change> out;
    for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it) {
        const int number = it.key();
        const QString path = it->box->currentText().trimmed();
        if (!path.isEmpty())
            out.append({QLatin1String(settings::Porte), QString::number(number), path});
        else if (m_stored.value(number).has_value())
            out.append({QLatin1String(settings::Porte), QString::number(number), std::nullopt});
    }
    return out;
}

QList<QWidget *> PortsPage::focusChain() const
{
    QList<QWidget *> chain;
    for (const Row &row : m_rows)
        chain << row.box;
    return chain;
}

} // namespace quorvex
