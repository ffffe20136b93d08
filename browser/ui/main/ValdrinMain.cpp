// Valdrin: the clip browser. Lists local clip folders or a Rix server's clips and asks the transfer service to
// ingest the clip double-clicked; a clip dragged onto the editing application drops its ingest job.
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>

#include "browser/CValdrinSettings.h"
#include "browser/ui/CMainFrame.h"
#include "browser/ui/CQtMessageSink.h"
#include "browser/ui/CValdrinView.h"

namespace
{

void SetNames()
{
    QCoreApplication::setApplicationName("Valdrin");
    QCoreApplication::setOrganizationName("Brennhall");
    QCoreApplication::setApplicationVersion(CValdrinSettings::kVersion);
}

// --help and --version, and refused options, answered before any display is needed.
void ParseCommandLine(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    SetNames();
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Valdrin, the clip browser: lists a clip folder or a Rix server and requests the ingest of a clip.\n"
        "Settings: the user registry under KORVO_REGISTRY_ROOT; the request library libAmbrel.so is looked for in\n"
        "KORVO_LIBRARY_DIR (default: the program's folder). Sources are chosen in the Source menu.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.process(app);
}

}  // namespace

int main(int argc, char** argv)
{
    ParseCommandLine(argc, argv);
    QApplication app(argc, argv);
    SetNames();

    CQtMessageSink sink;
    CMainFrame frame(sink);
    sink.SetOwner(&frame);
    frame.View().OnInitialUpdate();
    frame.show();
    return QApplication::exec();
}
