// The quorvex-sim program: commands on its standard input change a running
// simulator, and --verbose traces the line, here on a serial device (one
// side of a pty pair standing in for a null-modem cable).
#include "sim/LineClient.h"
#include "sim/SerialDevice.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;

namespace {

// The program with pipes on stdin, stdout and stderr.
class Program {
public:
    explicit Program(std::vector<std::string> args)
    {
        int in[2], out[2], err[2];
        EXPECT_EQ(::pipe2(in, O_CLOEXEC) | ::pipe2(out, O_CLOEXEC) | ::pipe2(err, O_CLOEXEC), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        args.insert(args.begin(), QUORVEX_SIM_PATH);
        std::vector<char *> argv;
        for (auto &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        EXPECT_EQ(posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(in[0]), ::close(out[1]), ::close(err[1]);
        m_in = in[1], m_out = out[0], m_err = err[0];
    }
    ~Program()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
        ::close(m_in), ::close(m_out), ::close(m_err);
    }

    void command(const std::string &line) { ASSERT_EQ(::write(m_in, line.data(), line.size()), ssize_t(line.size())); }
    // Reads stdout until it has a line; returns it without the newline.
    std::string line(std::chrono::milliseconds timeout = 5s)
    {
        const bool whole =
            readUntil(m_out, m_stdout, timeout, [&] { return m_stdout.find('\n') != std::string::npos; });
        const auto eol = m_stdout.find('\n');
        std::string first = whole ? m_stdout.substr(0, eol) : std::string();
        m_stdout.erase(0, whole ? eol + 1 : 0);
        return first;
    }
    // Reads stderr until it contains the text.
    bool errorContains(const std::string &text, std::chrono::milliseconds timeout = 5s)
    {
        return readUntil(m_err, m_stderr, timeout, [&] { return m_stderr.find(text) != std::string::npos; });
    }
    const std::string &errors() const { return m_stderr; }
    int wait()
    {
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    template<class Done>
    static bool readUntil(int fd, std::string &buffer, std::chrono::milliseconds timeout, Done done)
    {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            pollfd p{fd, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) <= 0)
                return false;
            char buf[512];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0)
                return done();
            buffer.append(buf, std::size_t(n));
        }
        return true;
    }

    pid_t m_pid = -1;
    int m_in = -1, m_out = -1, m_err = -1;
    std::string m_stdout, m_stderr;
};

TEST(SimProgram, StdinCommandsChangeTheRunningSimulator)
{
    Program sim({"d400", "--weight", "1"});
    const std::string path = sim.line();
    ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path << sim.errors();
    sim::LineClient server(path);
    ASSERT_TRUE(server.write("XB\r"));
    EXPECT_EQ(server.read(15, 5s), "    1,000 kg  \r");

    sim.command("weight 13.2\n");
    EXPECT_EQ(sim.line(), "ok");
    ASSERT_TRUE(server.write("XB\r"));
    EXPECT_EQ(server.read(15, 5s), "   13,200 kg  \r");

    // A command split over two writes is taken once its line is complete.
    sim.command("silent o");
    sim.command("n\n");
    EXPECT_EQ(sim.line(), "ok");
    ASSERT_TRUE(server.write("XB\r"));
    EXPECT_EQ(server.read(15, 300ms), "");

    // A refused command changes nothing and says so.
    sim.command("silent maybe\nweight x\n");
    EXPECT_TRUE(sim.errorContains("cannot apply 'weight x'")) << sim.errors();
    EXPECT_TRUE(sim.errorContains("cannot apply 'silent maybe'")) << sim.errors();
    sim.command("silent off\n");
    EXPECT_EQ(sim.line(), "ok");
    ASSERT_TRUE(server.write("XB\r"));
    EXPECT_EQ(server.read(15, 5s), "   13,200 kg  \r");

    sim.command("help\n");
    EXPECT_EQ(sim.line().rfind("Commands", 0), 0u);
    sim.command("quit\n");
    EXPECT_EQ(sim.wait(), 0);
}

TEST(SimProgram, VerboseTracesTheLineOfASerialDevice)
{
    int master = -1, slave = -1;
    char name[128] = {};
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    Program sim({"d400", "--device", name, "--settings", "19200,E,7,2", "--verbose", "--weight", "2.5"});
    ASSERT_EQ(sim.line(), name) << sim.errors();

    // The device was opened with the given line settings (a pty keeps only
    // speed and stop bits: it forces 8 data bits without parity).
    termios tio{};
    ASSERT_EQ(::tcgetattr(slave, &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), B19200);
    EXPECT_TRUE(tio.c_cflag & CSTOPB);
    termios wanted{};
    ASSERT_TRUE(sim::applyLineSettings("19200,E,7,2", wanted));
    EXPECT_EQ(wanted.c_cflag & (CSIZE | PARENB | PARODD | CSTOPB), tcflag_t(CS7 | PARENB | CSTOPB));
    EXPECT_FALSE(sim::applyLineSettings("9600,X,8,1", wanted));

    ASSERT_EQ(::write(master, "XB\r", 3), 3);
    EXPECT_TRUE(sim.errorContains(" rx 3 \"XB\\r\"\n")) << sim.errors();
    EXPECT_TRUE(sim.errorContains(" tx 15 \"    2,500 kg  \\r\"\n")) << sim.errors();
    ::close(master);
    ::close(slave);

    Program bad({"d400", "--device", name, "--settings", "12345,N,8,1"});
    EXPECT_NE(bad.wait(), 0);
    EXPECT_TRUE(bad.errorContains("bad line settings")) << bad.errors();
}

} // namespace
