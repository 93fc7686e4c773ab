#include "ui/settings/PortsPage.h"

#include "line/Conversions.h"
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

namespace {

QString defaultPath(int number)
{
    return QStringLiteral("/dev/ttyS%1").arg(number - 1);
}

} // namespace

PortsPage::PortsPage(QList<SerialDeviceChoice> devices, QWidget *parent)
    : QWidget(parent), m_devices(std::move(devices))
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(6, 6, 6, 6);
    m_rows = new QWidget(this);
    outer->addWidget(m_rows);
    outer->addStretch(1);
}

QString PortsPage::pathFor(int number) const
{
    if (m_typed.contains(number))
        return m_typed.value(number);
    return SettingsStore().value(QLatin1String(settings::Porte), QString::number(number)).value_or(QString());
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
    for (auto it = used.cbegin(); it != used.cend(); ++it) {
        if (!m_stored.contains(it.key()))
            m_stored[it.key()] = SettingsStore().value(QLatin1String(settings::Porte), QString::number(it.key()));
        m_typed[it.key()] = pathFor(it.key());
    }

    delete m_rows;
    m_boxes.clear();
    m_rows = new QWidget(this);
    static_cast<QVBoxLayout *>(layout())->insertWidget(0, m_rows);
    m_grid = new QGridLayout(m_rows);
    m_grid->setContentsMargins(0, 0, 0, 0);
    m_grid->setVerticalSpacing(2);
    if (used.isEmpty()) {
        m_grid->addWidget(new QLabel(QStringLiteral("Nessun ruolo ha un numero di porta valido."), m_rows), 0, 0);
    }
    int row = 0;
    for (auto it = used.cbegin(); it != used.cend(); ++it, row += 2) {
        const int number = it.key();
        auto *label = new QLabel(QStringLiteral("Porta %1").arg(number), m_rows);
        label->setToolTip(it.value().join(QStringLiteral(", ")));
        auto *box = new QComboBox(m_rows);
        box->setObjectName(QStringLiteral("CboPorta%1").arg(number));
        box->setProperty("port", number);
        box->setEditable(true);
        box->setInsertPolicy(QComboBox::NoInsert);
        box->setAccessibleName(label->text());

        // The drop-down shows each device's path with what it is.
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
        box->lineEdit()->setPlaceholderText(defaultPath(number));
        label->setBuddy(box);

        auto *roles = new QLabel(it.value().join(QStringLiteral(", ")), m_rows);
        auto *about = new QLabel(m_rows);
        about->setObjectName(QStringLiteral("LblPorta%1Dispositivo").arg(number));
        QFont small = about->font();
        small.setPointSizeF(small.pointSizeF() - 1);
        about->setFont(small);
        about->setIndent(2);
        describe(box, about);
        connect(box, &QComboBox::editTextChanged, this, [this, number, box, about](const QString &text) {
            m_typed[number] = text;
            describe(box, about);
        });

        m_grid->addWidget(label, row, 0);
        m_grid->addWidget(box, row, 1);
        m_grid->addWidget(roles, row, 2);
        m_grid->addWidget(about, row + 1, 1, 1, 2);
        m_boxes << box;
    }
    m_grid->setColumnStretch(1, 1);
    emit rowsChanged();
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
        text = QFileInfo::exists(shown) ? QStringLiteral("dispositivo presente") : QStringLiteral("dispositivo non presente ora");
    if (path.isEmpty())
        text = QStringLiteral("predefinito, ") + text;
    about->setText(text);
    box->setAccessibleDescription(text);
}

QList<SettingsStore::Change> PortsPage::changes() const
{
    QList<SettingsStore::Change> out;
    for (QComboBox *box : m_boxes) {
        const int number = box->property("port").toInt();
        const QString path = box->currentText().trimmed();
        if (!path.isEmpty())
            out.append({QLatin1String(settings::Porte), QString::number(number), path});
        else if (m_stored.value(number).has_value())
            out.append({QLatin1String(settings::Porte), QString::number(number), std::nullopt});
    }
    return out;
}

QList<QWidget *> PortsPage::focusChain() const
{
    return {m_boxes.cbegin(), m_boxes.cend()};
}

} // namespace quorvex
