#include "Commands.h"

namespace cmd {

namespace {
const Info kCommands[] = {
    {FileNew, "&New", "Ctrl+N", "Create a new document"},
    {FileOpen, "&Open...", "Ctrl+O", "Open an existing document"},
    {FileClose, "&Close", "", "Close the active document"},
    {FilePrintSetup, "P&rint Setup...", "", "Change the printer and printing options"},
    {FilePrint, "&Print...", "Ctrl+P", "Print the active document"},
    {AppExit, "E&xit", "", "Quit the application"},
    {AppAbout, "&About Quarlon...", "", "Display program information, version number and copyright"},
    {WindowCascade, "&Cascade", "", "Arrange windows so they overlap"},
    {WindowTile, "&Tile", "", "Arrange windows as non-overlapping tiles"},
    {ViewToolbar, "&Toolbar", "", "Show or hide the toolbar"},
    {ViewStatusBar, "&Status Bar", "", "Show or hide the status bar"},
    {ViewTop, "&Top", "", "Top View"},
    {ViewBottom, "&Bottom", "", "Bottom View"},
    {ViewLeft, "&Left", "", "Left View"},
    {ViewRight, "&Right", "", "Right View"},
    {ViewFront, "&Front", "", "Front View"},
    {ViewBack, "B&ack", "", "Back View"},
    {ViewNorthWest, "&North - West", "", "Nord West View"},
    {ViewNorthEast, "North - &East", "", "Nord East View"},
    {ViewSouthWest, "South - &West", "", "Sud West View"},
    {ViewSouthEast, "&South - East", "", "Sud East View"},
    {LoadSampleModel, "Load Sample Model", "", "Load Sample Model"},
    {HelpTutorial, "&Tutorial", "", "Tutorial"},
    {HelpMouseInteraction, "Mouse Interaction...", "F1", "Mouse Interaction..."},
};

struct Preset {
    int id, preset;
};
const Preset kPresets[] = {
    {ViewTop, 0}, {ViewBottom, 1}, {ViewLeft, 8}, {ViewRight, 11}, {ViewFront, 2},
    {ViewBack, 5}, {ViewNorthWest, 14}, {ViewNorthEast, 17}, {ViewSouthWest, 20}, {ViewSouthEast, 23},
};
} // namespace

const Info* Find(int id)
{
    for (const Info& info : kCommands)
        if (info.id == id)
            return &info;
    return nullptr;
}

int PresetOf(int id)
{
    for (const Preset& p : kPresets)
        if (p.id == id)
            return p.preset;
    return -1;
}

QString ObjectName(int id) { return QStringLiteral("ID_%1").arg(id); }

} // namespace cmd
