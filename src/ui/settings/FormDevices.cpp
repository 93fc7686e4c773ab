#include "ui/settings/FormDevices.h"

#include "common/Twips.h"
#include "drivers/InstrumentDefinitions.h"
#include "line/Conversions.h"
#include "line/Device.h"
#include "ui/settings/FieldHints.h"
#include "ui/settings/PortsPage.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QCompleter>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStringListModel>
#include <QTabBar>
#include <QTabWidget>

namespace quorvex {

namespace {

// The brands (or, with a brand given, that brand's models) of the known
// models, built-in and defined, that serve the role of the settings group.
QStringList knownNames(const InstrumentDefinitions &definitions, const char *group, bool models,
                       const QString &brand = QString())
{
    QStringList names;
    const std::optional<Role> role = roleOfGroup(QLatin1String(group));
    for (const InstrumentModel *row : definitions.knownModels()) {
        if (!role || !modelServes(*row, *role)
            || (models && !brand.isEmpty() && row->brand.compare(brand.trimmed(), Qt::CaseInsensitive) != 0))
            continue;
        const QString name = models ? row->model : row->brand;
        if (!names.contains(name))
            names << name;
    }
    return names;
}

QString withoutAccessKey(const char *caption)
{
    return QString::fromUtf8(caption).remove(QLatin1Char('&'));
}

struct ActionButton {
    const char *caption;
    const char *tag;
    int left;
};
constexpr ActionButton kActions[] = {{"OK", "OK", 4260}, {"Annulla", "CANCEL", 3000}, {"Campioni", "CAMP", 120}};

} // namespace

FormDevices::FormDevices(FormDevicesHooks hooks, QWidget *parent)
        : QDialog(parent,
                  Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
          m_hooks(std::move(hooks))
{
    setObjectName(QStringLiteral("FormDevices"));
    setWindowTitle(QStringLiteral("Dispositivi esterni"));
    setModal(false);
    QFont font(QStringLiteral("Verdana"));
    font.setPointSizeF(8.25);
    setFont(font);
    setFixedSize(toPixels(5520), toPixels(3615));

    buildTabs();
    buildButtons();

    // Form_Load
    CaricaImpostazioni();
    m_cmdAction[2]->setVisible(m_hooks.samplerWasOnAtLastLoad && m_hooks.samplerWasOnAtLastLoad());
    updateTabOrder();
}

FormDevices::~FormDevices() = default;

// One page per dialog tab of the schema, in the order of their first row;
// the ports tab stands where the [Porte] group is.
void FormDevices::buildTabs()
{
    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName(QStringLiteral("TabDevices"));
    m_tabs->setGeometry(toPixels(120), toPixels(120), toPixels(5295), toPixels(2835));
    // Seven captions in one row of the design width: narrow side padding.
    m_tabs->tabBar()->setStyleSheet(QStringLiteral(
        "QTabBar::tab { font-size: 7pt; padding: 3px 2px; margin-right: -1px; border: 1px solid palette(mid);"
        " border-top-left-radius: 3px; border-top-right-radius: 3px; background: palette(button); }"
        "QTabBar::tab:selected { background: palette(window); border-bottom-color: palette(window); }"
        "QTabBar::tab:!selected { margin-top: 2px; }"));

    QHash<QString, QGridLayout *> grids;
    for (const SettingRow &row : settingsSchema()) {
        if (!row.key && qstrcmp(row.group, settings::Porte) == 0) {
            addPortsTab();
            continue;
        }
        if (!row.field.tab)
            continue;
        const QString caption = QString::fromUtf8(row.field.tab);
        if (!grids.contains(caption)) {
            auto *page = new QWidget(m_tabs);
            auto *grid = new QGridLayout(page);
            grid->setContentsMargins(6, 6, 6, 4);
            grid->setVerticalSpacing(2);
            grid->setColumnStretch(1, 1);
            m_tabs->addTab(page, caption);
            grids.insert(caption, grid);
        }
        addField(row, grids.value(caption));
    }
    for (QGridLayout *grid : std::as_const(grids))
        grid->setRowStretch(grid->rowCount(), 1);
}

void FormDevices::addPortsTab()
{
    m_ports = new PortsPage(m_hooks.serialDevices ? m_hooks.serialDevices() : presentSerialDevices(), m_tabs);
    m_ports->setObjectName(QStringLiteral("PortsPage"));
    m_tabs->addTab(m_ports, QLatin1String(settings::Porte));
    connect(m_ports, &PortsPage::rowsChanged, this, &FormDevices::updateTabOrder);
}

// The control of one row at the foot of its tab's grid: a check box, or a
// labelled text field with a note under it.
void FormDevices::addField(const SettingRow &row, QGridLayout *grid)
{
    QWidget *page = grid->parentWidget();
    const int at = grid->rowCount();
    if (row.kind == SettingKind::Boolean) {
        m_media = new QCheckBox(QString::fromUtf8(row.field.caption), page);
        m_media->setObjectName(QLatin1String(row.field.objectName));
        grid->addWidget(m_media, at, 0, 1, 2);
        m_fieldOrder << m_media;
        return;
    }
    auto *label = new QLabel(QString::fromUtf8(row.field.caption), page);
    label->setObjectName(QStringLiteral("Lbls%1").arg(row.field.label));
    auto *edit = new QLineEdit(page);
    edit->setObjectName(QLatin1String(row.field.objectName));
    edit->setAccessibleName(withoutAccessKey(row.field.caption));
    if (row.field.placeholder)
        edit->setPlaceholderText(QString::fromUtf8(row.field.placeholder));
    label->setBuddy(edit);
    grid->addWidget(label, at, 0);
    grid->addWidget(edit, at, 1);
    m_edits.insert(edit->objectName(), edit);
    m_fieldOrder << edit;
    // Under the field, right-aligned, free to run under the label.
    grid->addWidget(makeHint(edit, row.kind), at + 1, 0, 1, 2);
    if (row.kind == SettingKind::PortNumber)
        connect(edit, &QLineEdit::textChanged, this, &FormDevices::updatePortsTab);
    offerKnownModels(row, edit);
}

// The brand and model fields of a role offer the models known to serve it;
// the model field offers the models of the brand typed.
void FormDevices::offerKnownModels(const SettingRow &row, QLineEdit *edit)
{
    const bool brand = qstrcmp(row.key, settings::Marca) == 0;
    if (!brand && qstrcmp(row.key, settings::Modello) != 0)
        return;
    // Asked each time: a reload while the dialog is open may change them.
    const auto definitions = [this] {
        return m_hooks.definitions ? m_hooks.definitions() : InstrumentDefinitions::none();
    };
    auto *list = new QStringListModel(knownNames(*definitions(), row.group, !brand), edit);
    auto *completer = new QCompleter(list, edit);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    completer->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
    completer->popup()->setObjectName(edit->objectName() + QStringLiteral("Models"));
    completer->popup()->setAccessibleName(brand ? QStringLiteral("Known brands") : QStringLiteral("Known models"));
    edit->setCompleter(completer);
    if (brand) {
        m_brandEdits.insert(QLatin1String(row.group), edit);
        return;
    }
    if (QLineEdit *brandEdit = m_brandEdits.value(QLatin1String(row.group))) {
        const char *group = row.group;
        connect(brandEdit, &QLineEdit::textChanged, list, [list, group, definitions](const QString &text) {
            list->setStringList(knownNames(*definitions(), group, true, text));
        });
    }
}

// A small note under a field when the configuration cannot use the value as
// such; it never stops the save.
QLabel *FormDevices::makeHint(QLineEdit *edit, SettingKind kind)
{
    auto *hint = new QLabel(edit->parentWidget());
    hint->setObjectName(edit->objectName() + QStringLiteral("Hint"));
    QFont small = hint->font();
    small.setPointSizeF(small.pointSizeF() - 1);
    hint->setFont(small);
    hint->setStyleSheet(QStringLiteral("color: #9a5b00;"));
    hint->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    hint->setWordWrap(true);
    hint->hide();
    const auto refresh = [edit, hint, kind] {
        const QString note = fieldHint(kind, edit->text());
        hint->setText(QStringLiteral("⚠ ") + note);
        hint->setVisible(!note.isEmpty());
        edit->setAccessibleDescription(note);
    };
    connect(edit, &QLineEdit::textChanged, hint, refresh);
    m_refreshHints << refresh;
    return hint;
}

void FormDevices::buildButtons()
{
    for (int index = 0; index < int(std::size(kActions)); ++index) {
        const ActionButton &a = kActions[index];
        auto *button = new QPushButton(QLatin1String(a.caption), this);
        button->setObjectName(QStringLiteral("CmdAction%1").arg(QLatin1String(a.tag)));
        button->setProperty("Tag", QLatin1String(a.tag));
        button->setGeometry(toPixels(a.left), toPixels(3120), toPixels(1155), toPixels(375));
        connect(button, &QPushButton::clicked, this, [this, index] { CmdAction_Click(index); });
        m_cmdAction << button;
    }
    m_cmdAction[0]->setDefault(true);
}

// Tab moves top to bottom through the fields of the tab shown, then along
// the buttons from left to right.
void FormDevices::updateTabOrder()
{
    QList<QWidget *> chain{m_tabs->tabBar()};
    chain << m_fieldOrder << m_ports->focusChain() << m_cmdAction[2] << m_cmdAction[1] << m_cmdAction[0];
    for (qsizetype i = 1; i < chain.size(); ++i)
        setTabOrder(chain[i - 1], chain[i]);
}

void FormDevices::updatePortsTab()
{
    QList<std::pair<QString, QString>> rolePorts;
    for (const SettingRow &row : settingsSchema()) {
        if (row.kind == SettingKind::PortNumber && row.field.tab)
            rolePorts.append(
                {QString::fromUtf8(row.field.tab), m_edits.value(QLatin1String(row.field.objectName))->text()});
    }
    m_ports->setRolePorts(rolePorts);
}

void FormDevices::CaricaImpostazioni()
{
    const SettingsStore store;
    for (const SettingRow &row : settingsSchema()) {
        if (!row.field.tab)
            continue;
        const auto stored = store.value(QLatin1String(row.group), QLatin1String(row.key));
        if (row.kind == SettingKind::Boolean) {
            // Read as the configuration reads it, so a hand-written "true"
            // or "-1" is not turned off by saving the dialog unchanged.
            m_media->setChecked(stored && toBoolean(*stored).value_or(false));
            continue;
        }
        m_edits.value(QLatin1String(row.field.objectName))->setText(stored.value_or(row.shownDefaultText()));
    }
    for (const auto &refresh : m_refreshHints)
        refresh();
    updatePortsTab();
}

QList<SettingsStore::Change> FormDevices::changesToSave() const
{
    QList<SettingsStore::Change> changes;
    for (const SettingRow &row : settingsSchema()) {
        if (!row.inDialog())
            continue;
        QString text;
        if (row.kind == SettingKind::Fixed)
            text = row.shownDefaultText();
        else if (row.kind == SettingKind::Boolean)
            text = m_media->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
        else
            text = m_edits.value(QLatin1String(row.field.objectName))->text();
        changes.append({QLatin1String(row.group), QLatin1String(row.key), text});
    }
    changes << m_ports->changes();
    return changes;
}

bool FormDevices::SalvaImpostazioni(QString *why)
{
    return SettingsStore().write(changesToSave(), why);
}

void FormDevices::CmdAction_Click(int Index)
{
    const QString tag = m_cmdAction.value(Index) ? m_cmdAction[Index]->property("Tag").toString() : QString();
    if (tag == QLatin1String("OK")) {
        QString why;
        if (!SalvaImpostazioni(&why)) {
            reportSaveFailure(why);
            return;
        }
        const QStringList warnings = m_hooks.reloadConfiguration ? m_hooks.reloadConfiguration() : QStringList();
        if (!warnings.isEmpty())
            reportLoadWarnings(warnings);
        accept();
    } else if (tag == QLatin1String("CANCEL")) {
        reject();
    } else if (tag == QLatin1String("CAMP")) {
        if (m_hooks.showSampler)
            m_hooks.showSampler();
    }
}

// The edits stay in the window and the running configuration is not
// reloaded, so the operator can make the file writable and press OK again.
void FormDevices::reportSaveFailure(const QString &why)
{
    auto *box = new QMessageBox(QMessageBox::Warning, windowTitle(),
                                QStringLiteral("Le impostazioni non sono state salvate."), QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("SaveFailedMessage"));
    box->setInformativeText(QStringLiteral("File: %1\nMotivo: %2\n\nLe modifiche restano nella finestra e la "
                                           "configurazione in uso non è cambiata.")
                                .arg(SettingsStore().fileName(), why));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->open();
}

// Saved and loaded, but the load could not use everything: said in a box
// of its own, which stays after the dialog has closed (the settings are in
// use; what the warnings name is mended in the dialog or the file).
void FormDevices::reportLoadWarnings(const QStringList &warnings)
{
    auto *box = new QMessageBox(QMessageBox::Warning, windowTitle(),
                                QStringLiteral("Le impostazioni sono state salvate e caricate, con avvisi."),
                                QMessageBox::Ok, parentWidget());
    box->setObjectName(QStringLiteral("LoadWarningsMessage"));
    box->setAccessibleName(QStringLiteral("Avvisi del caricamento"));
    box->setInformativeText(
        QStringLiteral("File: %1\n\n%2").arg(SettingsStore().fileName(), warnings.join(QLatin1Char('\n'))));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->show();
}

// Ctrl+Tab and Ctrl+Shift+Tab change the tab wherever the focus is, the
// buttons included, not only inside the tab control.
void FormDevices::keyPressEvent(QKeyEvent *event)
{
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    if (ctrl && (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab)) {
        const int step = event->key() == Qt::Key_Backtab || (event->modifiers() & Qt::ShiftModifier) ? -1 : 1;
        m_tabs->setCurrentIndex((m_tabs->currentIndex() + step + m_tabs->count()) % m_tabs->count());
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace quorvex
