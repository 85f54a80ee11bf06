#pragma once
// Every menu and toolbar command in one table: identifier, label (with its
// "&" mnemonic), shortcut and status-bar prompt.
#include <QString>

namespace cmd {

enum Id {
    FileOpen = 57601,
    FileClose = 57602,
    FilePrintSetup = 57606,
    FilePrint = 57607,
    FileMru = 57616,
    AppExit = 57665,
    AppAbout = 57664,
    WindowCascade = 57650,
    WindowTile = 57651,
    ViewToolbar = 59392,
    ViewStatusBar = 59393,
    ViewTop = 32773,
    ViewBottom = 32774,
    ViewLeft = 32775,
    ViewRight = 32776,
    ViewFront = 32777,
    ViewBack = 32778,
    ViewNorthWest = 32779,
    ViewNorthEast = 32780,
    ViewSouthWest = 32781,
    ViewSouthEast = 32782,
    LoadSampleModel = 32829,
    HelpTutorial = 32827,
    HelpMouseInteraction = 32788,
    OpenInside = 32802,
    FileImport = 32841,
    PerspectiveView = 32826,
    StereoAnaglyph = 32784,
    StereoRedBlue = 32786,
    BackfaceCulling = 32805,
    BackgroundColor = 32790,
    ModelsList = 32825,
    ZExaggeration = 32843,
    Measure = 32791,
    ScaleModel = 32795,
    AsciiExport = 32797,
    ApplyTexture = 32845,
    RepresentationProperties = 32787,
    MergeObj = 32846,
    MergeAscii = 32847,
    MergePly = 32848,
    MergeVrml = 32849,
    // Fast representation switch.
    PointsRgb = 32799,
    PointsGray = 32824,
    PointsRedBlue = 32809,
    PointsBlueRed = 32810,
    PointsOneColor = 32811,
    WireframeRgb = 32812,
    WireframeGray = 32813,
    WireframeRedBlue = 32814,
    WireframeBlueRed = 32815,
    WireframeOneColor = 32816,
    SurfaceRgb = 32800,
    SurfaceGray = 32823,
    SurfaceRedBlue = 32819,
    SurfaceBlueRed = 32820,
    SurfaceOneColor = 32821,
    SurfaceTexture = 32793,
    PointsTexture = 32852,
    WireframeTexture = 32853,
};

struct Info {
    int id;
    const char* label;
    const char* shortcut;
    const char* prompt;
};

// The entry of `id`; a null pointer for an unknown identifier.
const Info* Find(int id);

// The preset number of a preset-view command, or -1.
int PresetOf(int id);

// The representation index (0-17) of a fast-switch command, or -1; and back.
int RepresentationOf(int id);
int RepresentationCommand(int index);

QString ObjectName(int id);

} // namespace cmd
