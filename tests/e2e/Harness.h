#pragma once
// What every end-to-end test needs: the server process of tests/support
// (settings store in a temporary XDG_CONFIG_HOME, the server on the private
// session bus, calls to it as a client makes them), with its failures
// reported as test failures.
#include "sim/Instrument.h"
#include "tests/support/ServerProcess.h"
#include "tests/support/Wait.h"

#include <QProcessEnvironment>
#include <QStringList>

#include <gtest/gtest.h>

namespace e2e {

using namespace support;

class ServerTest : public ::testing::Test, public ServerProcess {
protected:
    ServerTest();

    // Starts the server under the given locale and waits until it owns its
    // bus name.
    void startServer(const QString &locale = QStringLiteral("en_US.UTF-8"));

    double callDouble(const QString &method, const QVariantList &args = {});
    // Error name and message of a call that must fail.
    std::pair<QString, QString> callError(const QString &method, const QVariantList &args = {});

    // A driver called directly with a port reference ends with the
    // type-mismatch error, number 13.
    void expectTypeMismatch(const QString &driver, const QString &port);
};

// The client program quorvex of the same build tree.
QString clientPath();

// What a run of the client gave: its exit status (-1 when it did not end
// normally) and what it printed.
struct ClientRun {
    int status = -1;
    QString out;
    QString err;
};

// Runs the client to its end (at most 2 minutes) with args, in env.
ClientRun runClient(const QStringList &args, const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment());

} // namespace e2e
