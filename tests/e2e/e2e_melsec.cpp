// MELSEC service command end to end: ScriviServizio through the service
// role, the exact bytes the controller receives, and the handshake failures.
#include "tests/e2e/Harness.h"

#include "sim/instruments/Melsec.h"

#include <QElapsedTimer>

using namespace e2e;
using namespace std::chrono_literals;

namespace {

const std::string kEnq = "\x05";

class MelsecTest : public ServerTest {
protected:
    sim::Handle<sim::Melsec> plc = sim::launch<sim::Melsec>();

    void SetUp() override { mapPort(7, plc->slavePath()); }

    QString scriviServizio(const QString &parametri)
    {
        const QDBusMessage reply = call(QStringLiteral("ScriviServizio"), {parametri});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        return reply.arguments().value(0).toString();
    }
};

TEST_F(MelsecTest, EachCommandSendsItsFrameUnderBothLocales)
{
    const std::pair<const char *, const char *> commands[] = {{"1",
                                                               "\x02"
                                                               "70708\x03"
                                                               "09"},
                                                              {"2",
                                                               "\x02"
                                                               "70608\x03"
                                                               "08"},
                                                              {"3",
                                                               "\x02"
                                                               "70508\x03"
                                                               "07"}};
    for (const char *locale : {"it_IT.UTF-8", "en_US.UTF-8"}) {
        configureRole("Servizio", "CTM", "MELSEC", 7, QStringLiteral("1"));
        startServer(QString::fromLatin1(locale));
        for (const auto &[parametri, frame] : commands) {
            plc->clearReceived();
            EXPECT_EQ(scriviServizio(QString::fromLatin1(parametri)), QString()) << locale;
            EXPECT_EQ(plc->received(), kEnq + frame) << locale << " " << parametri;
        }
        stopServer();
    }
    EXPECT_EQ(plc->frames().size(), 6u);
}

TEST_F(MelsecTest, ParametersOtherThanTheExactTextsSendNothingAfterTheEnquiry)
{
    configureRole("Servizio", "CTM", "MELSEC", 7);
    captureLog = true;
    startServer();
    for (const char *parametri : {" 1", "01", "4"}) {
        plc->clearReceived();
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(scriviServizio(QString::fromLatin1(parametri)), QString());
        EXPECT_GT(clock.elapsed(), 1900) << "the second wait runs out";
        EXPECT_EQ(plc->received(), kEnq) << parametri;
    }
    EXPECT_TRUE(plc->frames().empty());
    // Each is a warning that names the parameters the command knows.
    waitUntil([this] { return serverLog().contains(QStringLiteral("not \"4\"")); }, 3000);
    EXPECT_TRUE(
        serverLog().contains(QStringLiteral("quorvex.driver: ScriviServizio: the MELSEC service command knows "
                                            "the parameters \"1\", \"2\" and \"3\", not \" 1\": no command sent")))
        << serverLog().toStdString();
}

TEST_F(MelsecTest, RefusedOrUnansweredEnquirySendsNoFrame)
{
    configureRole("Servizio", "CTM", "MELSEC", 7);
    startServer();
    plc->setEnqAnswer(sim::Melsec::EnqAnswer::Refuse);
    EXPECT_EQ(scriviServizio(QStringLiteral("1")), QString());
    EXPECT_EQ(plc->received(), kEnq);

    plc->clearReceived();
    plc->setEnqAnswer(sim::Melsec::EnqAnswer::None);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(scriviServizio(QStringLiteral("1")), QString());
    EXPECT_GT(clock.elapsed(), 1900);
    EXPECT_EQ(plc->received(), kEnq);
    EXPECT_TRUE(plc->frames().empty());
}

TEST_F(MelsecTest, DirectCallPacedAckWithExtraBytes)
{
    plc->setPacing(9600);
    plc->setAckExtra("\x15\x15");
    configureRole("Servizio", "CTM", "MELSEC", 7);
    startServer();
    const QDBusMessage reply =
        call(QStringLiteral("ScriviServizio_CTM_MELSEC"), {QStringLiteral("7"), QStringLiteral("3")});
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_EQ(reply.arguments().value(0).toString(), QString());
    ASSERT_TRUE(plc->waitForReceived(10, 5s));
    EXPECT_EQ(plc->received(),
              kEnq
                  + "\x02"
                    "70508\x03"
                    "07");
    // A port number with no port object is an error to a direct caller.
    const auto [name, message] =
        callError(QStringLiteral("ScriviServizio_CTM_MELSEC"), {QStringLiteral("77"), QStringLiteral("1")});
    EXPECT_EQ(name, "com.velkaro.Quorvex.Error.NotFound");
}

} // namespace
