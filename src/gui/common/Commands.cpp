#include "gui/common/Commands.h"

#include "core/model/Representation.h"

namespace cmd {

namespace {
const Info kCommands[] = {
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
    {OpenInside, "Open Inside...", "Ctrl+I", "Open Inside..."},
    {FileImport, "Import", "", "Import a plain-text XYZ point cloud"},
    {PerspectiveView, "Perspective View", "", "Perspective View"},
    {StereoAnaglyph, "&Stereo Anaglyph", "", "View Stereo Anaglyph"},
    {StereoRedBlue, "Stereo Red - Blue", "", "View Stereo Red - Blue"},
    {BackfaceCulling, "BackFace Culling", "", "BackFace Culling"},
    {BackgroundColor, "Background Color", "", "Background Color"},
    {ModelsList, "Models List", "", "Models List"},
    {ZExaggeration, "Z Exaggeration", "", "Z Exaggeration"},
    {Measure, "&Measure", "", "Measure lengths and areas on picked points"},
    {ScaleModel, "&Scale Model", "", "Rescale the model from two reference points"},
    {RepresentationProperties, "Representation Properties", "", "Representation Properties"},
    {ApplyTexture, "Apply te&xture", "", "Apply another compatible texture"},
    {AsciiExport, "&ASCII Export ", "", "Write one model's points in columns of your choice"},
    {MergeObj, "OBJ", "", "Write the scene as a Wavefront OBJ model"},
    {MergePly, "PLY", "", "Write all models into one PLY model"},
    {MergeVrml, "VRML", "", "Write the scene as a VRML model"},
    {MergeAscii, "ASCII XYZRGBTexXTexYImg", "", "Write every point with its colour and texture coordinates"},
    {PointsRgb, "Points RGB", "", "Points RGB"},
    {PointsGray, "Points Intensity GrayScale", "", "Points Intensity GrayScale"},
    {PointsRedBlue, "Points Intensity RedBlue", "", "Points Intensity RedBlue"},
    {PointsBlueRed, "Points Intensity BlueRed", "", "Points Intensity BlueRed"},
    {PointsOneColor, "Points One Color", "", "Points One Color"},
    {WireframeRgb, "Wireframe RGB", "", "Wireframe RGB"},
    {WireframeGray, "Wireframe Intensity GrayScale", "", "Wireframe Intensity GrayScale"},
    {WireframeRedBlue, "Wireframe Intensity RedBlue", "", "Wireframe Intensity RedBlue"},
    {WireframeBlueRed, "Wireframe Intensity BlueRed", "", "Wireframe Intensity BlueRed"},
    {WireframeOneColor, "Wireframe One Color", "", "Wireframe One Color"},
    {SurfaceRgb, "Surface RGB", "", "Surface RGB"},
    {SurfaceGray, "Surface Intensity GrayScale", "", "Surface Intensity GrayScale"},
    {SurfaceRedBlue, "Surface Intensity RedBlue", "", "Surface Intensity RedBlue"},
    {SurfaceBlueRed, "Surface Intensity BlueRed", "", "Surface Intensity BlueRed"},
    {SurfaceOneColor, "Surface One Color", "", "Surface One Color"},
    {SurfaceTexture, "Surface Texture", "", "Surface Texture"},
    {PointsTexture, "Points Texture", "", "Points Texture"},
    {WireframeTexture, "Wireframe Texture", "", "Wireframe Texture"},
};

// Index order 0-17.
const int kRepresentationCommands[representation::kCount] = {
    PointsRgb, PointsGray, PointsRedBlue, PointsBlueRed, PointsOneColor,
    WireframeRgb, WireframeGray, WireframeRedBlue, WireframeBlueRed, WireframeOneColor,
    SurfaceRgb, SurfaceGray, SurfaceRedBlue, SurfaceBlueRed, SurfaceOneColor,
    SurfaceTexture, PointsTexture, WireframeTexture,
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

int RepresentationOf(int id)
{
    for (int i = 0; i < representation::kCount; ++i)
        if (kRepresentationCommands[i] == id)
            return i;
    return -1;
}

int RepresentationCommand(int index)
{
    return representation::IsValid(index) ? kRepresentationCommands[index] : 0;
}

QString ObjectName(int id) { return QStringLiteral("ID_%1").arg(id); }

} // namespace cmd
