#include "ui/sampler/FormSamples.h"

#include "line/SettingsSchema.h"
#include "line/SettingsStore.h"
#include "tracking/Sampler.h"
#include "ui/sampler/NumberText.h"
#include "ui/sampler/Placement.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>

namespace quorvex {

const QString FormSamples::kCaptionPrefix = QStringLiteral("Campionature Altezza/Lunghezza:");

namespace {

// The roles shown, top down: the role, its title and the name of its value.
struct ShownRole {
    Role role;
    const char *title;
    const char *valueName;
};
constexpr ShownRole kShownRoles[kReadingRoleCount] = {{Role::Contametri, "Contametri", "Lunghezza"},
                                                      {Role::Altezza, "Altezza", "Altezza"},
                                                      {Role::Bilancia, "Peso", "Peso"}};

// Design geometry, in twips.
struct Design {
    int left, top, width, height;
};
constexpr int kClientWidth = 7395;
constexpr int kClientHeight = 4530;
constexpr Design kList{60, 60, 3795, 2040};
constexpr Design kLbls[6] = {
    {180, 180, 960, 195},   {180, 480, 1335, 540}, {180, 1680, 615, 195},
    {180, 1980, 1335, 540}, {180, 3120, 405, 195}, {180, 3420, 1335, 540},
};
constexpr Design kValues[3] = {{1620, 240, 5580, 1245}, {1620, 1680, 5580, 1245}, {1620, 3120, 5580, 1245}};

QRect pixels(const Design &d)
{
    return QRect(toPixels(d.left), toPixels(d.top), toPixels(d.width), toPixels(d.height));
}

QFont fontOf(const QStringList &families, double points, bool bold = false, QFont::StyleHint hint = QFont::SansSerif)
{
    QFont f;
    f.setFamilies(families);
    f.setStyleHint(hint);
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

// The seven-segment face for the live values, a monospace one without it.
QFont displayFont()
{
    for (const char *family : {"DSEG7 Classic", "DSEG7 Modern"}) {
        if (QFontDatabase::hasFamily(QLatin1String(family)))
            return fontOf({QLatin1String(family)}, 48);
    }
    QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    f.setPointSizeF(48);
    return f;
}

// Every value shown ends with one space, clear of the label's edge.
QString valueText(double v)
{
    return numberText(v) + QLatin1Char(' ');
}

} // namespace

FormSamples::FormSamples(Sampler &sampler, QWidget *parent) : QWidget(parent, Qt::Window), m_sampler(sampler)
{
    setObjectName(QLatin1String(settings::FormSamples)); // also its placement group
    setAccessibleName(QStringLiteral("Campionature"));
    setWindowTitle(QStringLiteral("Campionature"));
    setFont(fontOf({QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans")}, 8.25));
    resize(toPixels(kClientWidth), toPixels(kClientHeight));

    buildRoleLabels();
    buildSampleList();
    loadBrands();
    RipristinaPosizione(*this, SettingsStore().snapshot());
    applyResizeRules();

    connect(&m_sampler, &Sampler::lengthRead, this, [this](double L) { m_lblLunghezza->setText(valueText(L)); });
    connect(&m_sampler, &Sampler::sampleRecorded, this, [this](double h) { m_lblAltezza->setText(valueText(h)); });
    connect(&m_sampler, &Sampler::tickFinished, this,
            [this](int count) { setWindowTitle(QStringLiteral("%1 (%2)").arg(kCaptionPrefix).arg(count)); });
    // The end of the process is the window's unload: its placement is saved
    // once more.
    connect(qApp, &QCoreApplication::aboutToQuit, this, &FormSamples::unload);
    m_sampler.start();
}

FormSamples::~FormSamples() = default;

// For each role shown: its title, its brand and model, and its live value.
void FormSamples::buildRoleLabels()
{
    const QFont brandFont = fontOf({QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans")}, 12, true);
    const QFont valueFont = displayFont();
    for (int role = 0; role < kReadingRoleCount; ++role) {
        const ShownRole &shown = kShownRoles[role];
        QLabel *title = new QLabel(QLatin1String(shown.title), this);
        title->setObjectName(QStringLiteral("Lbls%1").arg(2 * role));
        title->setAccessibleName(QLatin1String(shown.title));
        title->setGeometry(pixels(kLbls[2 * role]));
        title->adjustSize(); // fits its one-line caption
        title->move(pixels(kLbls[2 * role]).topLeft());
        m_lbls[2 * role] = title;

        QLabel *brand = new QLabel(QStringLiteral("MARCA / MODELLO"), this);
        brand->setObjectName(QStringLiteral("Lbls%1").arg(2 * role + 1));
        brand->setAccessibleName(QStringLiteral("%1 marca e modello").arg(QLatin1String(shown.title)));
        brand->setFont(brandFont);
        brand->setWordWrap(true);
        brand->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        brand->setGeometry(pixels(kLbls[2 * role + 1]));
        m_lbls[2 * role + 1] = brand;

        QLabel *value = new QLabel(QStringLiteral("0 "), this);
        value->setObjectName(QStringLiteral("Lbl%1").arg(QLatin1String(shown.valueName)));
        value->setAccessibleName(QLatin1String(shown.valueName));
        value->setFont(valueFont);
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        value->setAutoFillBackground(true);
        QPalette pal = value->palette();
        pal.setColor(QPalette::Window, Qt::black);
        pal.setColor(QPalette::WindowText, Qt::red);
        value->setPalette(pal);
        value->setGeometry(pixels(kValues[role]));
        valueLabel(shown.role) = value;
    }
}

QLabel *&FormSamples::valueLabel(Role role)
{
    switch (role) {
    case Role::Contametri: return m_lblLunghezza;
    case Role::Altezza: return m_lblAltezza;
    default: return m_lblPeso;
    }
}

// The list of recorded samples, hidden until asked for; it passes its keys
// to the window.
void FormSamples::buildSampleList()
{
    m_lstSamples = new QListWidget(this);
    m_lstSamples->setObjectName(QStringLiteral("LstSamples"));
    m_lstSamples->setAccessibleName(QStringLiteral("Campioni"));
    m_lstSamples->setFont(
        fontOf({QStringLiteral("Courier New"), QStringLiteral("DejaVu Sans Mono")}, 12, false, QFont::Monospace));
    m_lstSamples->setGeometry(pixels(kList));
    m_lstSamples->hide();
    m_lstSamples->installEventFilter(this);
}

// Brand and model of each role under its brand label, and the value labels
// lined up behind the widest brand label with a gap as wide as its margin.
void FormSamples::loadBrands()
{
    const SettingsStore store;
    int left = 0;
    for (int role = 0; role < kReadingRoleCount; ++role) {
        const QString group = QLatin1String(roleGroup(kShownRoles[role].role));
        QLabel *value = valueLabel(kShownRoles[role].role);
        const QString marca = store.value(group, QLatin1String(settings::Marca)).value_or(QString());
        const QString modello = store.value(group, QLatin1String(settings::Modello)).value_or(QString());
        QLabel *brand = m_lbls[2 * role + 1];
        brand->setText(marca + QLatin1Char('\n') + modello);
        // The label keeps its width and grows downward to fit its lines.
        brand->resize(brand->width(), Massimo(brand->height(), brand->heightForWidth(brand->width())));
        value->move(2 * brand->x() + brand->width(), value->y());
        left = Massimo(left, value->x());
    }
    for (const ShownRole &shown : kShownRoles)
        valueLabel(shown.role)->move(left, valueLabel(shown.role)->y());
}

void FormSamples::ShowSampler(bool show)
{
    if (show) {
        this->show();
        raise();
        activateWindow();
    } else {
        hide();
    }
}

void FormSamples::SwitchTimer()
{
    m_sampler.SwitchTimer();
}

void FormSamples::unload()
{
    SettingsStore store;
    SalvaPosizione(*this, store);
}

void FormSamples::toggleSampleList()
{
    if (m_lstSamples->isHidden()) {
        m_lstSamples->clear();
        QStringList lines;
        for (const Campione &c : m_sampler.campioni().items())
            lines << numberText(c.Posizione) + QStringLiteral(" -> ") + numberText(c.Altezza);
        m_lstSamples->addItems(lines);
        m_lstSamples->raise();
        m_lstSamples->show();
    } else {
        m_lstSamples->hide();
    }
}

bool FormSamples::handleKey(QKeyEvent *event)
{
    const Qt::KeyboardModifiers mods = event->modifiers();
    const bool shift = mods & Qt::ShiftModifier;
    const bool alt = mods & Qt::AltModifier;
    const int step = (mods & Qt::ControlModifier) ? 5 : 1;
    const int key = event->key();
    const bool arrow = key == Qt::Key_Left || key == Qt::Key_Right || key == Qt::Key_Up || key == Qt::Key_Down;
    const int sign = (key == Qt::Key_Left || key == Qt::Key_Up) ? -1 : 1;
    const bool horizontal = key == Qt::Key_Left || key == Qt::Key_Right;

    if (arrow && shift) {
        if (horizontal)
            resize(width() + sign * step, height());
        else
            resize(width(), height() + sign * step);
        return true;
    }
    if (arrow && alt) {
        if (horizontal)
            move(pos().x() + sign * step, pos().y());
        else
            move(pos().x(), pos().y() + sign * step);
        return true;
    }
    if (!shift && !alt && (key == Qt::Key_L || key == Qt::Key_C || key == Qt::Key_Escape)) {
        toggleSampleList();
        return true;
    }
    return false;
}

void FormSamples::keyPressEvent(QKeyEvent *event)
{
    if (!handleKey(event))
        QWidget::keyPressEvent(event);
}

// The window sees every key before the list does.
bool FormSamples::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && handleKey(static_cast<QKeyEvent *>(event)))
        return true;
    return QWidget::eventFilter(watched, event);
}

// Only the user's close (one from the window system) is answered, and only
// by hiding after saving the placement; closes from code are refused. The
// end of the process goes through unload().
void FormSamples::closeEvent(QCloseEvent *event)
{
    event->ignore();
    if (event->spontaneous()) {
        unload();
        hide();
    }
}

void FormSamples::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    applyResizeRules();
}

// The value labels reach to a right margin equal to their top margin, and
// the list covers the whole client area.
void FormSamples::applyResizeRules()
{
    if (!m_lblLunghezza)
        return;
    const int w = width() - m_lblLunghezza->y() - m_lblLunghezza->x();
    if (w >= 0) {
        for (QLabel *value : {m_lblLunghezza, m_lblAltezza, m_lblPeso})
            value->resize(w, value->height());
    }
    m_lstSamples->setGeometry(0, 0, width(), height());
}

} // namespace quorvex
