#pragma once
// Writing all models of a document into one file: the point listing
// "XYZRGBTexXTexYImg" and a merged PLY. Each writes a temporary file beside
// the target and renames it over the target only when the whole file was
// written, so a failure or an abort never costs the user an existing file.
#include <string>

class CQuarlonDoc;
class IProgressSink;

namespace exchange {

// Refused: the options cannot be applied; the reason is the message to show.
enum class ExportResult { Ok, Failed, Aborted, Refused };

// One line per point, models in document order: X Y Z (the file's own
// coordinates: document offset + model offset + point, "%lf"), R G B
// (integers; the solid colour for a model without "RGB"), and for a model
// with "Texture" its two coordinates and the texture image name.
ExportResult WriteXyzRgbListing(const CQuarlonDoc& doc, const std::string& path, IProgressSink* sink,
                                std::string* why = nullptr);

// The same listing written with fprintf line by line, as a reference for
// tests and benchmarks; no temporary file.
bool WriteXyzRgbListingPlain(const CQuarlonDoc& doc, const std::string& path);

// All models appended into one PLY, each at its place relative to the
// document offset (as the view draws them), colours from "RGB" (the solid
// colour for a model without), polygons and strips as faces; the document
// offset is recorded as "comment offset X Y Z".
ExportResult WriteMergedPly(const CQuarlonDoc& doc, const std::string& path, bool binary, IProgressSink* sink,
                            std::string* why = nullptr);

// The scene as the view shows it (every model as drawn: its place, colours,
// representation and texture) as Wavefront OBJ with its material file
// (`path` without its extension + ".obj" and ".mtl") or as VRML (`path`).
// Both files are written in a temporary folder beside the target and moved
// into place only when complete.
enum class SceneFormat { Obj, Vrml };
ExportResult WriteScene(const CQuarlonDoc& doc, const std::string& path, SceneFormat format, IProgressSink* sink,
                        std::string* why = nullptr);

} // namespace exchange
