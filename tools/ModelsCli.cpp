#include "ModelsCli.h"

#include "LocalProgram.h"

namespace quorvex::cli {

bool readModelsPage(Request &request, const QStringList &words)
{
    if (words.size() != 2 || (words[1] != QLatin1String("--markdown") && words[1] != QLatin1String("--man")))
        return false;
    request.modelsPage = words[1] == QLatin1String("--markdown") ? Request::Page::Markdown : Request::Page::Man;
    return true;
}

int runModels(Session &, const Request &request)
{
    QStringList arguments{QStringLiteral("models")};
    if (request.modelsPage == Request::Page::Markdown)
        arguments << QStringLiteral("--markdown");
    else if (request.modelsPage == Request::Page::Man)
        arguments << QStringLiteral("--man");
    return execLocalProgram(arguments);
}

} // namespace quorvex::cli
