#include "ui/settings/SettingsFields.h"

#include <QLocale>

namespace quorvex {

namespace {

enum Tab { Bilancia, Contametri, Altezza, AltezzaMedia, Servizio };

} // namespace

QString SettingsField::defaultText() const
{
    const QString k = QLatin1String(key);
    const QString g = QLatin1String(group);
    switch (kind) {
    case FieldKind::Divisor:
        return QStringLiteral("1");
    case FieldKind::Port:
        if (g == QLatin1String("Bilancia"))
            return QStringLiteral("1");
        if (g == QLatin1String("Contametri"))
            return QStringLiteral("2");
        if (g == QLatin1String("Altezza"))
            return QStringLiteral("3");
        return QString();
    case FieldKind::LineSettings:
        return g == QLatin1String("Servizio") ? QString() : QStringLiteral("9600,N,8,1");
    case FieldKind::Decimal:
        return k == QLatin1String("IntervalloDiCampionamento") ? QLocale().toString(0.2) : QStringLiteral("0");
    case FieldKind::CheckBox:
    case FieldKind::Constant:
        return QStringLiteral("0");
    case FieldKind::Text:
        break;
    }
    return QString();
}

const QList<QString> &settingsTabCaptions()
{
    static const QList<QString> captions{QStringLiteral("Bilancia"), QStringLiteral("Contametri"),
                                         QStringLiteral("Altezza"), QStringLiteral("Altezza media"),
                                         QStringLiteral("Servizio")};
    return captions;
}

const QList<SettingsField> &settingsFields()
{
    using K = FieldKind;
    static const QList<SettingsField> fields{
        {Bilancia, 0, "&Marca", "TxtBilanciaMarca", "Bilancia", "Marca", K::Text},
        {Bilancia, 1, "Mo&dello", "TxtBilanciaModello", "Bilancia", "Modello", K::Text},
        {Bilancia, 2, "&Divisore", "TxtBilanciaDivisore", "Bilancia", "Divisore", K::Divisor},
        {Bilancia, 3, "&Porta seriale", "TxtBilanciaPorta", "Bilancia", "Porta", K::Port},
        {Bilancia, 4, "&Settaggio", "TxtBilanciaSettaggio", "Bilancia", "Settaggio", K::LineSettings},
        {Contametri, 5, "&Marca", "TxtContametriMarca", "Contametri", "Marca", K::Text},
        {Contametri, 6, "Mo&dello", "TxtContametriModello", "Contametri", "Modello", K::Text},
        {Contametri, 7, "&Divisore", "TxtContametriDivisore", "Contametri", "Divisore", K::Divisor},
        {Contametri, 8, "&Porta seriale", "TxtContametriPorta", "Contametri", "Porta", K::Port},
        {Contametri, 9, "&Settaggio", "TxtContametriSettaggio", "Contametri", "Settaggio", K::LineSettings},
        {Altezza, 10, "&Marca", "TxtAltezzaMarca", "Altezza", "Marca", K::Text},
        {Altezza, 11, "Mo&dello", "TxtAltezzaModello", "Altezza", "Modello", K::Text},
        {Altezza, 12, "&Divisore", "TxtAltezzaDivisore", "Altezza", "Divisore", K::Divisor},
        {Altezza, 13, "&Porta seriale", "TxtAltezzaPorta", "Altezza", "Porta", K::Port},
        {Altezza, 14, "&Settaggio", "TxtAltezzaSettaggio", "Altezza", "Settaggio", K::LineSettings},
        {AltezzaMedia, -1, "&Media", "ChkAltezzaMedia", "Altezza", "MisuraMedia", K::CheckBox},
        {AltezzaMedia, 15, "&Intervallo di campionamento", "TxtIntervalloDiCampionamento", "Altezza",
         "IntervalloDiCampionamento", K::Decimal},
        {AltezzaMedia, 16, "Distanza &Sensore Arrotolatore", "TxtDistanzaSensoreArrotolatore", "Altezza",
         "DistanzaSensoreArrotolatore", K::Decimal},
        {AltezzaMedia, 17, "Distanza &Operatore Arrotolatore", "TxtDistanzaOperatoreArrotolatore", "Altezza",
         "DistanzaOperatoreArrotolatore", K::Decimal},
        {Servizio, 20, "&Marca", "txtMarcaDispositivo", "Servizio", "Marca", K::Text},
        {Servizio, 21, "Mo&dello", "txtModelloDispositivo", "Servizio", "Modello", K::Text},
        // The service device has no multiplier: its divisor is always "0".
        {Servizio, -1, nullptr, nullptr, "Servizio", "Divisore", K::Constant},
        {Servizio, 18, "&Porta seriale", "txtPortaDispositivo", "Servizio", "Porta", K::Port},
        {Servizio, 19, "&Settaggio", "txtSettaggioDispositivo", "Servizio", "Settaggio", K::LineSettings},
    };
    return fields;
}

} // namespace quorvex
