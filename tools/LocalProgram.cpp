#include "LocalProgram.h"

#include "Cli.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <unistd.h>

namespace quorvex::cli {

namespace {

QString localProgram()
{
    const QString besideThis = QCoreApplication::applicationDirPath() + QStringLiteral("/quorvex-local");
    return QFileInfo(besideThis).isExecutable() ? besideThis : QStringLiteral(QUORVEX_LIBEXEC_DIR "/quorvex-local");
}

int cannotRun(const QString &program, const QString &why)
{
    std::fprintf(stderr, "quorvex: cannot run %s: %s\n", qPrintable(program), qPrintable(why));
    return kExitCallFailed;
}

} // namespace

int execLocalProgram(const QStringList &arguments)
{
    const QString program = localProgram();
    QByteArrayList bytes{QFile::encodeName(program)};
    for (const QString &argument : arguments)
        bytes << argument.toLocal8Bit();
    std::vector<char *> argv;
    for (QByteArray &b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    std::fflush(stdout);
    ::execv(argv[0], argv.data());
    return cannotRun(program, QString::fromLocal8Bit(std::strerror(errno)));
}

int runLocalProgram(const QStringList &arguments)
{
    const QString program = localProgram();
    std::fflush(stdout);
    QProcess local;
    local.setProcessChannelMode(QProcess::ForwardedChannels);
    local.start(program, arguments);
    if (!local.waitForFinished(-1) || local.exitStatus() != QProcess::NormalExit)
        return cannotRun(program, local.errorString());
    return local.exitCode();
}

} // namespace quorvex::cli
