#include "core/model/CScanPos.h"
#include "core/model/CompactPoints.h"

#include "core/model/CQuarlonDoc.h"
#include "core/formats/ForeignModel.h"
#include "core/formats/vtkForeignModelReader.h"
#include "core/formats/vtkModelFileReader.h"
#include "core/model/IDocumentView.h"
#include "core/model/ModelFileCheck.h"
#include "core/model/PolyDataChecks.h"
#include "core/common/ProgressSink.h"
#include "core/model/vtkCloudMapper.h"
#include "core/common/ImageHeader.h"
#include "core/common/NumberChecks.h"
#include "core/common/Paths.h"
#include "core/common/SafeFile.h"
#include "core/common/ProfileFile.h"
#include "core/common/vtkListener.h"

#include <vtkBMPReader.h>
#include <vtkCellArray.h>
#include <vtkDataArray.h>
#include <vtkImageReader2.h>
#include <vtkJPEGReader.h>
#include <vtkLODProp3D.h>
#include <vtkLookupTable.h>
#include <vtkNew.h>
#include <vtkSmartPointer.h>
#include <vtkMaskPoints.h>
#include <vtkPNGReader.h>
#include <vtkPNMReader.h>
#include <vtkPointData.h>
#include <vtkPolyData.h>
#include <vtkPolyDataMapper.h>
#include <vtkProperty.h>
#include <vtkRenderWindow.h>
#include <vtkRenderer.h>
#include <vtkTIFFReader.h>
#include <vtkTexture.h>

#include <cstdio>
#include <filesystem>
#include <memory>

namespace {

vtkSmartPointer<vtkImageReader2> CreateImageReader(const std::string& lowerExtension)
{
    if (lowerExtension == ".jpg")
        return vtkSmartPointer<vtkJPEGReader>::New();
    if (lowerExtension == ".tif")
        return vtkSmartPointer<vtkTIFFReader>::New();
    if (lowerExtension == ".png")
        return vtkSmartPointer<vtkPNGReader>::New();
    if (lowerExtension == ".bmp")
        return vtkSmartPointer<vtkBMPReader>::New();
    if (lowerExtension == ".pnm")
        return vtkSmartPointer<vtkPNMReader>::New();
    return nullptr;
}

// Every load owns one progress sink and one observer for its whole run.
struct LoadProgress {
    std::unique_ptr<IProgressSink> sink;
    vtkNew<vtkListener> listener;
    explicit LoadProgress(CQuarlonDoc* doc)
        : sink(doc ? doc->CreateProgress() : std::make_unique<CSilentProgress>())
    {
        if (!sink)
            sink = std::make_unique<CSilentProgress>();
        listener->SetSink(sink.get());
    }
    ~LoadProgress()
    {
        listener->SetSink(nullptr);
        sink->PumpMessages();
        sink.reset();
    }
};

// Point-data arrays by the role their lower-cased name gives them; the last
// array of each name wins.
struct ArrayRoles {
    std::string rgb, gray, intensity, intensity8, intensity16, scanpos, texture;
    explicit ArrayRoles(vtkPointData* pd)
    {
        for (int i = 0; i < pd->GetNumberOfArrays(); ++i) {
            const char* name = pd->GetArrayName(i);
            if (!name)
                continue;
            const std::string lower = qpath::ToLower(name);
            if (lower == "rgb") rgb = name;
            else if (lower == "gray") gray = name;
            else if (lower == "intensity") intensity = name;
            else if (lower == "intensity_8") intensity8 = name;
            else if (lower == "intensity_16") intensity16 = name;
            else if (lower == "scanpos") scanpos = name;
            else if (lower == "texture") texture = name;
        }
    }
    void ClearScalars() { intensity.clear(), intensity8.clear(), intensity16.clear(), scanpos.clear(); }
};

} // namespace

CScanPos::CScanPos(CQuarlonDoc* document) : m_pDocument(document) {}

CScanPos::~CScanPos() { Reset(); }

std::string CScanPos::ScanIdentity(const std::string& path, size_t index)
{
    return qpath::ToLower(path) + "#" + std::to_string(index + 1);
}

std::string CScanPos::GetName() const
{
    if (m_bScan && !m_scan.name.empty())
        return m_scan.name;
    const qpath::Parts parts = qpath::Split(m_strDiskPath);
    return parts.base + parts.extension;
}

CScanPos* CScanPos::Create(CQuarlonDoc* document, const std::string& path, const Scan* scan)
{
    CScanPos* model = new CScanPos(document);
    if (scan) {
        model->m_scan = *scan;
        model->m_bScan = true;
    }
    bool loaded = false;
    try {
        loaded = model->Load(path);
    } catch (const std::bad_alloc&) {
        model->m_strLoadError = "not enough memory";
    } catch (const std::exception& e) {
        // A library's read that failed (an I/O error half-way) is this
        // model's failure, not the program's end.
        model->m_strLoadError = std::string("cannot read the file: ") + e.what();
    }
    if (!loaded) {
        if (document)
            document->NoteLoadFailure(scan && scan->several ? path + " (" + scan->name + ")" : path, model->GetLoadError());
        model->Destroy();
        return nullptr;
    }
    return model;
}

void CScanPos::Destroy()
{
    // Only a model that loaded has a representation worth keeping; a failed
    // or aborted load must not overwrite the stored one.
    const bool persist = m_bLoaded && !m_strDiskPath.empty() &&
                         !(m_pDocument && m_pDocument->IsSettingsReadOnly());
    if (persist) {
        char text[32];
        std::snprintf(text, sizeof text, "%d", m_nRepresentation);
        profile::WriteString(GetSettingsFilePath(), "CloudData", "Representation", text);
    }
    delete this;
}

void CScanPos::ReleaseTexture()
{
    if (m_pTexture && m_pDocument) {
        IDocumentView* view = m_pDocument->GetView();
        if (view && view->GetRenderWindow())
            m_pTexture->ReleaseGraphicsResources(view->GetRenderWindow());
    }
    m_pTexture = nullptr;
    m_pImageReader = nullptr;
}

void CScanPos::Reset()
{
    m_pActor = nullptr;
    m_pReducedMapper = nullptr;
    m_pFullMapper = nullptr;
    m_pMask = nullptr;
    m_pReader = nullptr;
    ReleaseTexture();
    m_pLookupTable = nullptr;
    m_strPath.clear();
    m_strDiskPath.clear();
    m_dOffset[0] = m_dOffset[1] = m_dOffset[2] = 0.0;
    m_bForeign = false;
    m_bImplicitVertices = false;
    m_dForeignOffset[0] = m_dForeignOffset[1] = m_dForeignOffset[2] = 0.0;
    m_dScalarRange[0] = 0.0;
    m_dScalarRange[1] = 1.0;
    m_strActiveArray.clear();
    m_nColorMap = ColorMapDirect;
    m_nColor = 0xFFFFFF;
    m_bLoaded = false;
}

bool CScanPos::Fail(const std::string& why)
{
    m_strLoadError = why;
    return false;
}

namespace {

// The companions of scan N of a file of several carry "_N" in their name.
std::string Companion(const std::string& disk, const CScanPos::Scan* scan, const char* extension)
{
    const std::string suffix = scan && scan->several ? "_" + std::to_string(scan->index + 1) : std::string();
    return qpath::ReplaceExtension(disk, suffix + extension);
}

} // namespace

std::string CScanPos::GetOffsetFilePath() const { return Companion(m_strDiskPath, GetScan(), ".vtw"); }
std::string CScanPos::GetTextureFilePath() const { return Companion(m_strDiskPath, GetScan(), ".tex"); }
std::string CScanPos::GetSettingsFilePath() const { return Companion(m_strDiskPath, GetScan(), ".ini"); }

bool CScanPos::Load(const std::string& path)
{
    Reset();
    m_strLoadError.clear();

    // The file as it is on disk; identities and extensions use the lower case.
    const std::string diskPath = qpath::ResolveOnDisk(path);
    if (diskPath.empty())
        return Fail("no such file");
    const std::string problem = safefile::SourceProblem(diskPath);
    if (!problem.empty())
        return Fail(problem);
    m_strPath = m_bScan && m_scan.several ? ScanIdentity(path, m_scan.index) : qpath::ToLower(path);
    m_strDiskPath = diskPath;

    LoadProgress progress(m_pDocument);
    vtkListener* listener = progress.listener;
    bool aborted = false;
    if (!ReadModelData(listener) || !ReadOffset())
        return false;
    if (auto* data = vtkPolyData::SafeDownCast(m_pReader->GetOutputDataObject(0)))
        compact::FloatsWhereExact(data->GetPoints());
    if (!BuildLevels(listener))
        return false;
    LoadTexture(listener, aborted);
    if (aborted)
        return Fail("aborted");
    const bool textureShown = ColourFromArrays();
    if (!BuildActor(textureShown))
        return false;

    m_bLoaded = true;
    const std::string stored = profile::GetString(GetSettingsFilePath(), "CloudData", "Representation", "0", 256);
    int index = 0;
    if (!IsIntegerString(stored, &index))
        index = 0;
    SetRepresentation(index);
    return true;
}

bool CScanPos::ReadModelData(vtkListener* listener)
{
    // Reader by extension.
    const std::string extension = qpath::ToLower(qpath::Split(m_strDiskPath).extension);
    if (foreign::IsForeignExtension(extension))
        return ReadForeignData(listener);
    if (extension != ".vtk" && extension != ".vtp" && extension != ".pvtp")
        return Fail(std::string("not a model file (.vtk, .vtp or .pvtp) nor one of ") + foreign::FormatNames());
    auto reader = vtkSmartPointer<vtkModelFileReader>::New();
    reader->SetFileName(m_strDiskPath, extension);
    reader->SetCheckBeforeVtk(&modelcheck::CheckModelFile);
    reader->SetDropOneVertexPerPoint(true);
    m_pReader = reader;
    std::string error;
    const StageResult stage = RunStage(listener, m_pReader, "Reading Data...", &error);
    if (stage == StageResult::Aborted || reader->GetError() == "aborted")
        return Fail("aborted");
    if (!reader->GetError().empty())
        return Fail(reader->GetError());
    m_bImplicitVertices = reader->ImplicitVertices();
    vtkPolyData* data = vtkPolyData::SafeDownCast(m_pReader->GetOutputDataObject(0));
    if (stage == StageResult::Failed || !data)
        return Fail(error.empty() ? std::string("unreadable model data") : error);
    if (data->GetNumberOfPoints() == 0 && data->GetPointData()->GetNumberOfArrays() == 0 &&
        data->GetNumberOfCells() == 0) {
        return Fail("the file holds no poly data");
    }
    const std::string inconsistency = polycheck::CheckConsistency(data, m_strDiskPath);
    if (!inconsistency.empty())
        return Fail(inconsistency);
    return true;
}

bool CScanPos::ReadForeignData(vtkListener* listener)
{
    auto reader = vtkSmartPointer<vtkForeignModelReader>::New();
    reader->SetFileName(m_strDiskPath);
    if (m_bScan)
        reader->SetScan(static_cast<int>(m_scan.index));
    m_pReader = reader;
    std::string error;
    const StageResult stage = RunStage(listener, reader, "Reading Data...", &error);
    if (stage == StageResult::Aborted || reader->GetError() == "aborted")
        return Fail("aborted");
    if (!reader->GetError().empty())
        return Fail(reader->GetError());
    vtkPolyData* data = reader->GetOutput();
    if (stage == StageResult::Failed || !data || data->GetNumberOfPoints() == 0)
        return Fail(error.empty() ? std::string("unreadable model data") : error);
    const std::string inconsistency = polycheck::CheckConsistency(data, m_strDiskPath);
    if (!inconsistency.empty())
        return Fail(inconsistency);
    m_bForeign = true;
    reader->GetModelOffset(m_dForeignOffset);
    if (m_pDocument && !reader->GetWarning().empty())
        m_pDocument->NoteLoad(m_bScan && m_scan.several ? m_strDiskPath + " (" + m_scan.name + ")" : m_strDiskPath,
                              reader->GetWarning());
    return true;
}

bool CScanPos::ReadOffset()
{
    // The first model into an empty document fixes the document frame.
    double fileOffset[3] = {0.0, 0.0, 0.0};
    const char* const axes[3] = {"X", "Y", "Z"};
    const std::string offsetFile = GetOffsetFilePath();
    for (int i = 0; i < 3 && !m_bForeign; ++i) {
        const std::string text = profile::GetString(offsetFile, "PolyData Offset", axes[i], "0.00", 64);
        double v = 0.0;
        fileOffset[i] = IsDoubleString(text, &v) ? v : 0.0;
    }
    for (int i = 0; i < 3 && m_bForeign; ++i)
        fileOffset[i] = m_dForeignOffset[i];
    double docOffset[3] = {0.0, 0.0, 0.0};
    if (m_pDocument) {
        if (m_pDocument->GetModelCount() == 0)
            m_pDocument->SetOffset(fileOffset);
        m_pDocument->GetOffset(docOffset);
    }
    for (int i = 0; i < 3; ++i)
        m_dOffset[i] = fileOffset[i] - docOffset[i];
    return true;
}

bool CScanPos::BuildLevels(vtkListener* listener)
{
    // A cloud whose vertex cells are its points in order needs no cells to
    // be drawn: they are dropped and counted (8 to 16 bytes a point).
    vtkPolyData* data = vtkPolyData::SafeDownCast(m_pReader->GetOutputDataObject(0));
    const bool cloud = data && data->GetNumberOfLines() == 0 && data->GetNumberOfPolys() == 0 &&
                       data->GetNumberOfStrips() == 0;
    if (cloud && !m_bImplicitVertices && polycheck::HasOneVertexPerPoint(data)) {
        data->SetVerts(vtkSmartPointer<vtkCellArray>::New());
        m_bImplicitVertices = true;
    }
    // Reduced level: every 100th point as vertices.
    m_pMask = vtkSmartPointer<vtkMaskPoints>::New();
    m_pMask->GenerateVerticesOn();
    m_pMask->SetInputConnection(m_pReader->GetOutputPort());
    m_pMask->SetOnRatio(100);
    m_pMask->SetMaximumNumberOfPoints(VTK_ID_MAX);
    m_pMask->RandomModeOff();
    std::string error;
    const StageResult stage = RunStage(listener, m_pMask, "Generating LODs..", &error);
    if (stage == StageResult::Aborted)
        return Fail("aborted");
    if (stage == StageResult::Failed)
        return Fail(error);

    // Clouds and textured meshes are drawn by a mapper of their own, which
    // hands everything else to VTK's.
    m_pFullMapper = vtkSmartPointer<vtkCloudMapper>::New();
    m_pFullMapper->SetInputConnection(m_pReader->GetOutputPort());
    m_pReducedMapper = vtkSmartPointer<vtkCloudMapper>::New();
    m_pReducedMapper->SetInputConnection(m_pMask->GetOutputPort());
    m_pFullMapper->Update();
    m_pReducedMapper->Update();
    return true;
}

bool CScanPos::ColourFromArrays()
{
    ArrayRoles roles(GetPolyData()->GetPointData());
    m_pLookupTable = vtkSmartPointer<vtkLookupTable>::New();
    m_pLookupTable->SetNumberOfColors(256);
    m_pLookupTable->Build();

    // The scalar range comes from the first scalar role present.
    vtkPointData* pd = GetPolyData()->GetPointData();
    for (const std::string* role : {&roles.intensity, &roles.intensity8, &roles.intensity16, &roles.scanpos}) {
        if (role->empty())
            continue;
        vtkDataArray* a = pd->GetArray(role->c_str());
        if (a && a->GetNumberOfTuples() > 0)
            a->GetRange(m_dScalarRange, 0);
        // A constant (or empty) scalar array colours nothing.
        if (!a || a->GetNumberOfTuples() == 0 || !(m_dScalarRange[0] < m_dScalarRange[1])) {
            m_dScalarRange[0] = 0.0;
            m_dScalarRange[1] = 1.0;
            roles.ClearScalars();
        }
        break;
    }

    if (!roles.rgb.empty()) {
        SetColorArray(roles.rgb.c_str(), m_dScalarRange);
        SetColorMap(ColorMapDirect);
    } else if (!roles.gray.empty()) {
        SetColorArray(roles.gray.c_str(), m_dScalarRange);
        SetColorMap(ColorMapDirect);
    } else if (!roles.intensity.empty() || !roles.intensity8.empty() || !roles.intensity16.empty()) {
        const std::string& name = !roles.intensity.empty()    ? roles.intensity
                                  : !roles.intensity8.empty() ? roles.intensity8
                                                              : roles.intensity16;
        const double range[2] = {m_dScalarRange[0], m_dScalarRange[1]};
        SetColorArray(name.c_str(), range);
        SetColorMap(ColorMapGrayScale);
    } else if (!roles.texture.empty()) {
        SetColorArray(roles.texture.c_str(), m_dScalarRange);
        SetColorMap(ColorMapDirect);
        return true;
    } else {
        SetColorArray(nullptr);
    }
    return false;
}

bool CScanPos::BuildActor(bool textureShown)
{
    // The two-level actor, placed at the model offset.
    m_pActor = vtkSmartPointer<vtkLODProp3D>::New();
    vtkTexture* levelTexture = textureShown ? m_pTexture.Get() : nullptr;
    const int fullId = levelTexture ? m_pActor->AddLOD(m_pFullMapper, levelTexture, 0.0)
                                    : m_pActor->AddLOD(m_pFullMapper, 0.0);
    const int reducedId = levelTexture ? m_pActor->AddLOD(m_pReducedMapper, levelTexture, 0.0)
                                       : m_pActor->AddLOD(m_pReducedMapper, 0.0);
    if (fullId != kFullLevel || reducedId != kReducedLevel)
        return Fail("unexpected level identifiers");
    m_pActor->SetVisibility(m_bVisible ? 1 : 0);
    m_pActor->SetPosition(m_dOffset);
    m_pActor->SetOrigin(m_dOffset);
    m_pActor->SetScale(1.0, 1.0, m_dZScale);

    vtkProperty* full = LevelProperty(kFullLevel);
    vtkProperty* reduced = LevelProperty(kReducedLevel);
    if (!full || !reduced)
        return Fail("the actor has no level properties");
    full->SetRepresentationToPoints();
    reduced->SetRepresentationToPoints();
    full->BackfaceCullingOn();

    m_pLookupTable->GetTableRange(m_dScalarRange);
    double rgbColour[3];
    full->GetColor(rgbColour);
    auto byte = [](double c) {
        const double v = c * 255.0;
        return v <= 0.0 ? 0u : v >= 255.0 ? 255u : static_cast<unsigned int>(v);
    };
    m_nColor = byte(rgbColour[0]) | (byte(rgbColour[1]) << 8) | (byte(rgbColour[2]) << 16);
    return true;
}

std::string CScanPos::GetTextureImagePath() const
{
    const std::string file = profile::GetString(GetTextureFilePath(), "Texture", "File", "", 1024);
    if (file.empty())
        return file;
    return qpath::ResolveOnDisk(qpath::JoinRelative(qpath::Split(m_strDiskPath).folder, file));
}

std::vector<std::string> CScanPos::GetSourceFiles() const
{
    std::vector<std::string> files = {m_strDiskPath, GetOffsetFilePath(), GetTextureFilePath(), GetSettingsFilePath()};
    const std::string image = GetTextureImagePath();
    if (!image.empty())
        files.push_back(image);
    return files;
}

bool CScanPos::LoadTexture(vtkListener* listener, bool& aborted)
{
    aborted = false;
    const std::string imagePath = GetTextureImagePath();
    if (imagePath.empty() || !qpath::IsExistingFile(imagePath))
        return false;
    // Decoders allocate what the header claims; judge it first.
    if (!image::CheckDecodable(imagePath).empty())
        return false;
    m_pImageReader = CreateImageReader(qpath::ToLower(qpath::Split(imagePath).extension));
    if (!m_pImageReader)
        return false;
    m_pImageReader->SetFileName(imagePath.c_str());
    StageResult stage = RunStage(listener, m_pImageReader, "Reading Texture Image..");
    if (stage == StageResult::Aborted) {
        aborted = true;
        return false;
    }
    if (stage == StageResult::Failed) {
        // An unreadable image leaves the model untextured.
        m_pImageReader = nullptr;
        return false;
    }
    m_pTexture = vtkSmartPointer<vtkTexture>::New();
    m_pTexture->SetInputConnection(m_pImageReader->GetOutputPort());
    m_pTexture->InterpolateOn();
    stage = RunStage(listener, m_pTexture, "Preparing Texture..");
    if (stage == StageResult::Aborted) {
        aborted = true;
        return false;
    }
    return true;
}

vtkProperty* CScanPos::LevelProperty(int levelId) const
{
    if (!m_pActor)
        return nullptr;
    vtkProperty* property = nullptr;
    m_pActor->GetLODProperty(levelId, &property);
    return property;
}

void CScanPos::GetOffset(double offset[3]) const
{
    for (int i = 0; i < 3; ++i)
        offset[i] = m_dOffset[i];
}

vtkLODProp3D* CScanPos::GetActor() const { return m_pActor; }
bool CScanPos::ApplyTexture(const std::string& imagePath)
{
    if (imagePath.empty() || !qpath::IsExistingFile(imagePath))
        return false;
    ReleaseTexture();
    // The levels let go of the old image too: a failure below leaves the
    // model untextured, not showing what was released.
    if (m_pActor) {
        m_pActor->SetLODTexture(kFullLevel, nullptr);
        m_pActor->SetLODTexture(kReducedLevel, nullptr);
    }
    vtkSmartPointer<vtkImageReader2> reader = CreateImageReader(qpath::ToLower(qpath::Split(imagePath).extension));
    if (!reader)
        return false;
    // Decoders allocate what the header claims; judge it first.
    if (!image::CheckDecodable(imagePath).empty())
        return false;
    {
        LoadProgress progress(m_pDocument);
        reader->SetFileName(imagePath.c_str());
        if (RunStage(progress.listener, reader, "Reading Texture Image...") != StageResult::Done)
            return false;
        auto texture = vtkSmartPointer<vtkTexture>::New();
        texture->SetInputConnection(reader->GetOutputPort());
        texture->InterpolateOn();
        if (RunStage(progress.listener, texture, "Preparing Texture...") != StageResult::Done)
            return false;
        m_pImageReader = reader;
        m_pTexture = texture;
    }
    SetColorMap(ColorMapDirect);
    SetRepresentation(15);
    return true;
}

vtkTexture* CScanPos::GetTexture() const { return m_pTexture; }
vtkLookupTable* CScanPos::GetLookupTable() const { return m_pLookupTable; }

vtkPolyDataMapper* CScanPos::GetMapper(int levelId) const
{
    if (levelId == kFullLevel)
        return m_pFullMapper;
    if (levelId == kReducedLevel)
        return m_pReducedMapper;
    return nullptr;
}

vtkPolyData* CScanPos::GetPolyData() const
{
    return m_pFullMapper ? vtkPolyData::SafeDownCast(m_pFullMapper->GetInput()) : nullptr;
}

void CScanPos::GetScalarRange(double range[2]) const
{
    range[0] = m_dScalarRange[0];
    range[1] = m_dScalarRange[1];
}

void CScanPos::SetVisibility(bool visible)
{
    m_bVisible = visible;
    if (m_pActor)
        m_pActor->SetVisibility(visible ? 1 : 0);
}

void CScanPos::SetZScale(double z)
{
    if (!m_pReader || z == m_dZScale)
        return;
    m_dZScale = z;
    if (m_pActor)
        m_pActor->SetScale(1.0, 1.0, z);
    IDocumentView* view = m_pDocument ? m_pDocument->GetView() : nullptr;
    if (view) {
        if (view->GetRenderer())
            view->GetRenderer()->ResetCameraClippingRange();
        view->Invalidate();
    }
}
