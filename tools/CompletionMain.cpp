// quorvex-completion TEMPLATE OUTPUT: writes the client's bash completion
// (run at build time).
#include "Completion.h"

#include <QFile>
#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: quorvex-completion TEMPLATE OUTPUT\n");
        return 2;
    }
    QFile in(QString::fromLocal8Bit(argv[1]));
    QFile out(QString::fromLocal8Bit(argv[2]));
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "quorvex-completion: %s: %s\n", argv[1], qPrintable(in.errorString()));
        return 1;
    }
    const QByteArray script = quorvex::cli::bashCompletion(QString::fromUtf8(in.readAll())).toUtf8();
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(script) != script.size()) {
        std::fprintf(stderr, "quorvex-completion: %s: %s\n", argv[2], qPrintable(out.errorString()));
        return 1;
    }
    return 0;
}
