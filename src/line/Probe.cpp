#include "line/Probe.h"

#include "common/AutomationError.h"
#include "common/Logging.h"
#include "drivers/LineExchange.h"
#include "drivers/ProbeModels.h"
#include "serial/LineSettings.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <set>

namespace quorvex {

namespace {

using namespace std::chrono_literals;

// A try waits for its reply at most this long, whatever the model's time-out.
constexpr auto kTryLimit = 300ms;
// What an instrument may take before it starts answering.
constexpr auto kAnswerMargin = 100ms;
// The line's turn is waited for this long, this many times, before a try is
// given up as heard nothing (a role's exchange holds it meanwhile).
constexpr auto kTurnWait = 2500ms;
constexpr int kTurnAttempts = 4;
// A listen gathers at most this many bytes.
constexpr int kListenBytes = 512;
// Before a frame told apart by the silence before it (Modbus RTU) that
// follows other bytes on the line, the line stays quiet at least this long
// (and at least the frame's own silence), so the instrument does not read
// the frame as the tail of what came before; still-arriving bytes are
// waited out for at most kQuietLimit.
constexpr auto kQuietAfterOther = 100ms;
constexpr auto kQuietLimit = 1000ms;

// Models that share one request (or that are all listened to) share each try.
struct Group {
    QByteArray request; // empty: listen
    QByteArray afterReading;
    int replyLength = 0;
    std::chrono::milliseconds timeout{kTryLimit};
    bool crcChecked = false; // its replies carry a CRC
    double quietCharacters = 0; // characters of silence its frame needs before it
    std::vector<const ProbeModel *> models;
};

std::vector<Group> groupsOf(const std::vector<ProbeModel> &models)
{
    std::vector<Group> groups;
    for (const ProbeModel &model : models) {
        const ProbeTry &probe = model.probe;
        auto group =
            std::find_if(groups.begin(), groups.end(), [&](const Group &g) { return g.request == probe.request; });
        if (group == groups.end()) {
            groups.push_back({probe.request,
                              probe.afterReading,
                              0,
                              model.recipe->timeout,
                              probe.crcChecked,
                              probe.quietCharacters,
                              {}});
            group = groups.end() - 1;
        }
        group->replyLength = std::max(group->replyLength, probe.replyLength);
        group->timeout = std::max(group->timeout, model.recipe->timeout);
        group->models.push_back(&model);
    }
    // Listening first: what it hears tells whether the instrument transmits
    // by itself. Then the requests whose replies carry a CRC (Modbus),
    // before any text request: a slave whose input holds a text request's
    // bytes may take a frame as their tail, and a reply with a wrong CRC is
    // never mistaken for an answer.
    std::stable_partition(groups.begin(), groups.end(), [](const Group &g) { return g.crcChecked; });
    std::stable_partition(groups.begin(), groups.end(), [](const Group &g) { return g.request.isEmpty(); });
    return groups;
}

// The line settings of a try (the slowest usual ones for text that is none).
LineSettings lineAt(const QString &settings)
{
    LineSettings slow;
    slow.baud = 1200;
    return LineSettings::parse(settings).value_or(slow);
}

// How long the line stays quiet before the group's request: the silence its
// frame needs at the settings, and after anything but another such frame of
// the probe's at least kQuietAfterOther. 0 for a request that needs none.
std::chrono::milliseconds quietBefore(const Group &group, const QString &settings, bool afterQuietFramed)
{
    if (group.quietCharacters <= 0)
        return 0ms;
    const auto chars = std::chrono::ceil<std::chrono::milliseconds>(
        std::chrono::duration<double, std::micro>(group.quietCharacters * lineAt(settings).characterMicroseconds()));
    return afterQuietFramed ? chars : std::max<std::chrono::milliseconds>(chars, kQuietAfterOther);
}

// The reply wait of one try: the time the request and reply take on the
// wire at this speed plus a margin, within the model's time-out and the cap.
std::chrono::milliseconds tryWait(const Group &group, const QString &settings)
{
    const qint64 bytes = group.request.isEmpty() ? kListenBytes : group.request.size() + group.replyLength;
    const auto wire = std::chrono::duration_cast<std::chrono::milliseconds>(lineAt(settings).wireTime(bytes));
    return std::min({group.timeout, std::chrono::milliseconds(kTryLimit), wire + kAnswerMargin});
}

// One try, as one exchange on the line: the line's turn, the probe's
// settings, a quiet line if the request needs one, the request (if any),
// the wait, the bytes heard; the port's settings are back before the turn
// goes. nullopt when the device refuses the settings.
QCoro::Task<std::optional<QByteArray>> tryOnce(PortControl &port, const Group &group, QString settings,
                                               std::chrono::milliseconds quiet)
{
    LineExchange line(port, kTurnWait, tryWait(group, settings));
    bool mine = false;
    for (int attempt = 0; attempt < kTurnAttempts && !mine; ++attempt)
        mine = co_await line.begin();
    if (!mine)
        co_return QByteArray(); // the line stayed busy: heard nothing
    if (!line.useSettings(settings))
        co_return std::nullopt;
    line.discard();
    if (quiet > 0ms)
        co_await line.waitForQuietLine(quiet, kQuietLimit);
    if (group.request.isEmpty())
        line.restartClock();
    else
        line.send(group.request);
    co_await line.waitFor(group.request.isEmpty() ? kListenBytes : group.replyLength);
    QByteArray heard = line.take();
    if (!group.afterReading.isEmpty())
        line.send(group.afterReading);
    co_return heard;
}

struct PlanEntry {
    QString settings;
    const Group *group;
    std::vector<const ProbeModel *> models; // of the group, not yet tried at these settings
};

std::vector<PlanEntry> planOf(const std::vector<Group> &groups)
{
    std::vector<PlanEntry> plan;
    std::set<std::pair<QString, const ProbeModel *>> planned;
    const auto add = [&](const QString &settings, const Group &group, bool usualOnly) {
        PlanEntry entry{settings, &group, {}};
        for (const ProbeModel *model : group.models) {
            if (usualOnly && model->usualSettings != settings)
                continue;
            if (planned.insert({settings, model}).second)
                entry.models.push_back(model);
        }
        if (!entry.models.empty())
            plan.push_back(std::move(entry));
    };
    QStringList usual;
    for (const Group &group : groups)
        for (const ProbeModel *model : group.models)
            if (!usual.contains(model->usualSettings))
                usual << model->usualSettings;
    for (const QString &settings : usual)
        for (const Group &group : groups)
            add(settings, group, true);
    for (const QString &settings : probeSettingsOrder())
        for (const Group &group : groups)
            add(settings, group, false);
    return plan;
}

} // namespace

QStringList probeSettingsOrder()
{
    QStringList order;
    for (const char *baud : {"9600", "19200", "4800", "2400", "38400", "57600", "115200", "1200"})
        for (const char *frame : {"N,8,1", "E,7,1", "E,8,1", "O,7,1", "N,8,2"})
            order << QStringLiteral("%1,%2").arg(QLatin1String(baud), QLatin1String(frame));
    return order;
}

QCoro::Task<ProbeFindings> probePort(Line &line, QString device, QString role,
                                     std::function<void(const ProbeStep &)> progress)
{
    // The models the line knows now, held while the probe runs: a reload
    // meanwhile leaves their recipes valid.
    const DefinitionsRef definitions = line.definitions();
    const std::optional<std::vector<ProbeModel>> models = probeModels(*definitions, role);
    if (!models)
        throw AutomationError(ErrorKind::InvalidArgument, 5,
                              QStringLiteral("'%1' is not a reading role (Bilancia, Contametri or Altezza)").arg(role));
    ResolvedPort resolved = line.resolvePort(device);
    if (!resolved.port())
        throw AutomationError(ErrorKind::NotFound, 91, QStringLiteral("No port given"));
    const PortRef port = resolved.port();
    // A port of the server that is not open is opened for the probe only.
    const bool openedHere = !port->PortOpen();
    if (openedHere)
        port->setPortOpen(true);

    const std::vector<Group> groups = groupsOf(*models);
    const std::vector<PlanEntry> plan = planOf(groups);
    int total = 0;
    for (const PlanEntry &entry : plan)
        total += int(entry.models.size());

    ProbeFindings findings;
    QList<ProbeResult> &found = findings.found;
    std::set<QString> refused; // settings the device would not take
    // What listening heard: nothing at all, no instrument transmits by itself
    // and listening is done; anything, the instrument transmits unasked and
    // bytes after a request would be its stream, not an answer.
    bool silentStream = false;
    bool streaming = false;
    bool afterQuietFramed = false; // the last try's frame was one told apart by silence
    int done = 0;
    QString round; // the settings of the entries being tried
    for (const PlanEntry &entry : plan) {
        if (entry.settings != round) {
            if (!found.isEmpty())
                break; // the rest of the round where something answered is done
            round = entry.settings;
        }
        done += int(entry.models.size());
        const bool listening = entry.group->request.isEmpty();
        if (refused.count(entry.settings) || (silentStream && listening) || (streaming && !listening))
            continue;
        if (progress)
            progress({entry.models.front()->brand, entry.models.front()->model, entry.settings, done, total});
        const std::optional<QByteArray> first = co_await tryOnce(
            *port, *entry.group, entry.settings, quietBefore(*entry.group, entry.settings, afterQuietFramed));
        afterQuietFramed = entry.group->quietCharacters > 0;
        if (!first) {
            refused.insert(entry.settings);
            qCInfo(lcConfig).noquote()
                << QStringLiteral("probe of %1: the device refuses %2").arg(device, entry.settings);
            continue;
        }
        if (listening)
            (first->isEmpty() ? silentStream : streaming) = true;
        std::vector<const ProbeModel *> answered;
        for (const ProbeModel *model : entry.models)
            if (probeReading(*model, *first))
                answered.push_back(model);
        if (answered.empty()) {
            // Bytes that are not the request's echo: something is there.
            const QByteArray request = entry.group->request;
            const QByteArray reply =
                !request.isEmpty() && first->startsWith(request) ? first->mid(request.size()) : *first;
            if (findings.unmatched.isEmpty() && !reply.isEmpty()) {
                findings.unmatched = reply;
                findings.unmatchedSettings = entry.settings;
            }
            continue;
        }
        const std::optional<QByteArray> second =
            co_await tryOnce(*port, *entry.group, entry.settings, quietBefore(*entry.group, entry.settings, true));
        for (const ProbeModel *model : answered) {
            const std::optional<double> value = second ? probeReading(*model, *second) : std::nullopt;
            if (value)
                found.append({model->brand, model->model, entry.settings, model->operation, *value, 2});
        }
    }
    if (openedHere && port->PortOpen())
        port->setPortOpen(false);
    if (!found.isEmpty())
        findings.unmatched.clear();
    co_return findings;
}

} // namespace quorvex
