// quorvex-models: what `quorvex models` prints. The client runs it for that
// command alone, so that a reading's call never loads the instrument table,
// its engines or the libraries they use.
#include "ModelsPage.h"
#include "drivers/InstrumentDefinitions.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments == QStringList{QStringLiteral("--markdown")} || arguments == QStringList{QStringLiteral("--man")}) {
        const QString page = arguments.first() == QLatin1String("--markdown") ? quorvex::cli::modelsMarkdown()
                                                                              : quorvex::cli::modelsManPage();
        std::fputs(page.toUtf8().constData(), stdout);
        return 0;
    }
    if (!arguments.isEmpty()) {
        std::fputs("usage: quorvex-models [--markdown | --man]\n", stderr);
        return 2;
    }
    quorvex::loadInstrumentDefinitions();
    std::fputs(quorvex::cli::listModels().toLocal8Bit().constData(), stdout);
    return 0;
}
