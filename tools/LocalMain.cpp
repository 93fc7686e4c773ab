// quorvex-local: what the client tells from this machine alone. The client
// runs it for `models` and for the device list of `ports`, so that a
// reading's call never loads the instrument table, its engines or the
// libraries they and the serial device list use.
//   quorvex-local models [--markdown | --man]
//   quorvex-local devices
#include "LocalFacts.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

namespace {

void print(const QString &text, bool utf8 = false)
{
    std::fputs((utf8 ? text.toUtf8() : text.toLocal8Bit()).constData(), stdout);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments == QStringList{QStringLiteral("models")}) {
        print(quorvex::cli::listModels());
        return 0;
    }
    if (arguments == QStringList{QStringLiteral("models"), QStringLiteral("--markdown")}) {
        print(quorvex::cli::modelsMarkdown(), true);
        return 0;
    }
    if (arguments == QStringList{QStringLiteral("models"), QStringLiteral("--man")}) {
        print(quorvex::cli::modelsManPage(), true);
        return 0;
    }
    if (arguments == QStringList{QStringLiteral("devices")}) {
        print(quorvex::cli::formatSerialDevices());
        return 0;
    }
    std::fputs("usage: quorvex-local models [--markdown | --man]\n       quorvex-local devices\n", stderr);
    return 2;
}
