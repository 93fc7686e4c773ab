// The plant feed over TLS end to end: a throw-away CA and broker
// certificates made here with openssl, a mosquitto TLS listener on
// 127.0.0.1 next to its plain one. The right CA connects and publishes;
// every other case is refused with its own reason, readings unaffected.
#include "tests/e2e/Harness.h"
#include "tests/support/MqttBroker.h"

#include "sim/instruments/D400.h"

using namespace e2e;

namespace {

class FeedTls : public ServerTest {
protected:
    mqtt::Broker broker;
    sim::Handle<sim::D400> scale = sim::launch<sim::D400>();
    QString certs = configHome() + "/certs";

    bool openssl(const QStringList &args)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start("openssl", args);
        return p.waitForFinished(30000) && p.exitCode() == 0;
    }
    // A CA of its own: name.pem and name.key.
    bool makeCa(const QString &name)
    {
        return openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=" + name,
                        "-keyout", certs + "/" + name + ".key", "-out", certs + "/" + name + ".pem"});
    }
    // A broker certificate signed by ca for subjectAltName san.
    bool makeBrokerCert(const QString &name, const QString &ca, const QString &san)
    {
        const QString base = certs + "/" + name;
        QFile ext(base + ".ext");
        ext.open(QIODevice::WriteOnly);
        ext.write("subjectAltName=" + san.toUtf8() + "\n");
        ext.close();
        return openssl({"req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=broker", "-keyout", base + ".key", "-out",
                        base + ".csr"})
            && openssl({"x509", "-req", "-in", base + ".csr", "-CA", certs + "/" + ca + ".pem", "-CAkey",
                        certs + "/" + ca + ".key", "-CAcreateserial", "-days", "2", "-extfile", base + ".ext", "-out",
                        base + ".pem"});
    }

    // Starts the server on the given port and CA; the feed's problem once
    // it has one, the reading taken meanwhile checked.
    QString refusal(int port, const QString &caFile)
    {
        setSetting("Impianto", "Porta", QString::number(port));
        setSetting("Impianto", "FileCA", caFile);
        captureLog = true;
        startServer();
        EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 3.25);
        QString problem;
        EXPECT_TRUE(waitUntil([&] { return !(problem = feedStatus().value("problem").toString()).isEmpty(); }));
        EXPECT_NE(feedStatus().value("state").toString(), "connected");
        EXPECT_TRUE(waitUntil([&] { return serverLog().contains(problem); }, 3000)) << problem.toStdString() << "\n"
                                                                                    << serverLog().toStdString();
        stopServer();
        return problem;
    }
};

TEST_F(FeedTls, TheRightCaConnectsAndEveryOtherCaseSaysWhy)
{
    ASSERT_TRUE(QDir().mkpath(certs));
    ASSERT_TRUE(makeCa("ca") && makeCa("other-ca"));
    ASSERT_TRUE(makeBrokerCert("by-address", "ca", "IP:127.0.0.1"));
    ASSERT_TRUE(makeBrokerCert("by-name", "ca", "DNS:localhost"));
    mapPort(3, scale->slavePath());
    configureRole("Bilancia", "BILANCIAI", "D400", 3, "1");
    scale->setWeightField("    3,250");
    setSetting("Impianto", "Server", "127.0.0.1");
    setSetting("Impianto", "Linea", "L1");
    broker.useTls(certs + "/by-address.pem", certs + "/by-address.key");
    ASSERT_TRUE(broker.start());

    EXPECT_TRUE(refusal(broker.tlsPort(), certs + "/other-ca.pem").contains("not trusted by [Impianto] FileCA="));
    EXPECT_TRUE(
        refusal(broker.tlsPort(), certs + "/missing.pem").contains("FileCA=" + certs + "/missing.pem does not exist"));
    EXPECT_TRUE(refusal(broker.port(), certs + "/ca.pem").contains("no TLS on the other side"));
    {
        QTcpServer probe; // a port nobody listens on
        probe.listen(QHostAddress::LocalHost, 0);
        const int closed = probe.serverPort();
        probe.close();
        EXPECT_TRUE(refusal(closed, certs + "/ca.pem").contains("refused"));
    }
    broker.stop();
    broker.useTls(certs + "/by-name.pem", certs + "/by-name.key");
    ASSERT_TRUE(broker.start());
    EXPECT_TRUE(refusal(broker.tlsPort(), certs + "/ca.pem").contains("does not name 127.0.0.1"));

    // The right CA and name: connected, and what it publishes arrives.
    broker.stop();
    broker.useTls(certs + "/by-address.pem", certs + "/by-address.key");
    ASSERT_TRUE(broker.start());
    setSetting("Impianto", "Porta", QString::number(broker.tlsPort()));
    setSetting("Impianto", "FileCA", certs + "/ca.pem");
    mqtt::Subscriber sub(broker.port(), "quorvex/L1/#");
    startServer();
    ASSERT_TRUE(waitUntil([&] { return feedStatus().value("state").toString() == "connected"; }))
        << feedStatus().value("problem").toString().toStdString();
    EXPECT_DOUBLE_EQ(callDouble("LeggiPeso"), 3.25);
    ASSERT_TRUE(sub.waitForCount("quorvex/L1/letture/Bilancia", 1));
    EXPECT_TRUE(sub.on("quorvex/L1/letture/Bilancia").first().payload.contains("3.25"));
}

} // namespace
