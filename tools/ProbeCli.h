#pragma once
// `quorvex probe DEVICE [--role ROLE] [--apply ROLE]`: asks the server what
// answers on a device, printing where the search is while it runs and one
// line per instrument found; --apply writes what was found into the settings
// file for the role and has the server load it.
#include "Commands.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>

namespace quorvex::cli {

// No instrument answered (or none for --apply's role).
inline constexpr int kExitNothingFound = 3;

// One result as the client prints it:
// "BILANCIAI D400 at 19200,N,8,1: LeggiPeso 12.34 (2 replies)".
QString formatProbeResult(const QVariantMap &result);
// What a probe says when bytes came back that no model matched.
QString formatUnmatched(const QString &device, const QVariantMap &unmatched);

// The settings changes that make role read the result on device (a port
// number, or a path given a port number in [Porte]): Marca, Modello,
// Settaggio and Porta of the role.
struct ProbeApplication {
    QString group, brand, model, settings, port, devicePath; // devicePath empty: the port is a number already
};
ProbeApplication applicationFor(const QString &role, const QString &device, const QVariantMap &result,
                                const std::optional<QString> &rolePort);

// `probe DEVICE [--role ROLE] [--apply ROLE]`, its name first.
bool readProbeWords(Request &request, const QStringList &words);

int runProbe(Session &session, const Request &request);

// Prints ProbeProgress signals as one line that is written over.
class ProbeProgressPrinter : public QObject {
    Q_OBJECT
public:
    explicit ProbeProgressPrinter(bool overwrite) : m_overwrite(overwrite) {}
    void finish();
public slots:
    void onProgress(const QDBusMessage &message);

private:
    bool m_overwrite;
    qsizetype m_width = 0;
};

} // namespace quorvex::cli
