#pragma once
// One loaded model (one scan position): the poly data read from a model
// file, its two-level actor and the state that decides how it is drawn.
#include "core/model/Representation.h"

#include <vtkSmartPointer.h>

#include <string>
#include <vector>

class CQuarlonDoc;
class vtkAlgorithm;
class vtkImageReader2;
class vtkLODProp3D;
class vtkLookupTable;
class vtkMaskPoints;
class vtkPolyData;
class vtkPolyDataMapper;
class vtkProperty;
class vtkTexture;
class vtkListener;

// Level identifiers of the model's actor.
constexpr int kFullLevel = 1000;
constexpr int kReducedLevel = 1001;

// Representation indices (fast-switch commands, settings file) and their labels.
constexpr int kRepresentationCount = representation::kCount;
inline const char* RepresentationLabel(int index) { return representation::Label(index); }

enum ColorMapIndex { ColorMapDirect = 0, ColorMapGrayScale = 1, ColorMapRedBlue = 2, ColorMapBlueRed = 3 };

class CScanPos {
public:
    explicit CScanPos(CQuarlonDoc* document);
    virtual ~CScanPos();
    CScanPos(const CScanPos&) = delete;
    CScanPos& operator=(const CScanPos&) = delete;

    // One scan of a file of several (E57, PTX).
    struct Scan {
        size_t index = 0;     // from 0
        std::string name;     // shown in the models list
        std::string guid;
        bool several = false; // the file holds more than this one
        size_t images = 0;    // pictures the file holds besides (E57), not shown
    };

    // A new, loaded model, or none when the load failed or was aborted.
    static CScanPos* Create(CQuarlonDoc* document, const std::string& path, const Scan* scan = nullptr);
    // The identity of scan `index` (from 0) of a file of several: "path#N".
    static std::string ScanIdentity(const std::string& path, size_t index);

    bool Load(const std::string& path);
    // Stores the representation index beside a loaded model, then deletes it.
    void Destroy();
    void Reset();

    CQuarlonDoc* GetDocument() const { return m_pDocument; }
    // Lower-cased full path: the model's identity.
    const std::string& GetPath() const { return m_strPath; }
    // The model file as found on disk (companion files are derived from it).
    const std::string& GetDiskPath() const { return m_strDiskPath; }
    // What the models list shows: the scan's name, else the file's.
    std::string GetName() const;
    // The scan of a file of several this model is; none for other models.
    const Scan* GetScan() const { return m_bScan ? &m_scan : nullptr; }
    void GetOffset(double offset[3]) const;
    vtkLODProp3D* GetActor() const;
    vtkPolyDataMapper* GetMapper(int levelId) const;
    vtkPolyData* GetPolyData() const;
    // A cloud drawn without its vertex cells: the file's cells are one per
    // point, in order, and counted as such.
    bool HasImplicitVertices() const { return m_bImplicitVertices; }
    vtkTexture* GetTexture() const;
    const std::string& GetActiveArrayName() const { return m_strActiveArray; }
    int GetColorMap() const { return m_nColorMap; }
    unsigned int GetColor() const { return m_nColor; }
    int GetRepresentation() const { return m_nRepresentation; }
    bool IsVisible() const { return m_bVisible; }
    double GetZScale() const { return m_dZScale; }
    void GetScalarRange(double range[2]) const;
    vtkLookupTable* GetLookupTable() const;
    // Why the last load failed, in a few words (empty after success).
    const std::string& GetLoadError() const { return m_strLoadError; }

    // Replaces the texture by the image at `imagePath` and shows it as
    // "Surface Texture" (recorded even when the model cannot show it).
    // A missing image leaves everything as it was; an unreadable, refused
    // or aborted one leaves the model untextured. False when no texture
    // was made.
    bool ApplyTexture(const std::string& imagePath);

    void SetVisibility(bool visible);
    void SetZScale(double z);

    // Representation and colouring.
    bool SetRepresentation(int index);
    void SetColorArray(const char* name, const double* range = nullptr, const int* component = nullptr);
    void SetColorMap(int index);
    void SetColor(unsigned int colour);
    void UpdateRepresentationIndex();

    // Companion file paths (derived from the file on disk).
    std::string GetOffsetFilePath() const;
    std::string GetTextureFilePath() const;
    std::string GetSettingsFilePath() const;
    // The image the texture file names, as found on disk; "" without one.
    std::string GetTextureImagePath() const;
    // Every file the model was read from: itself, its companions, its image.
    std::vector<std::string> GetSourceFiles() const;

private:
    bool Fail(const std::string& why);
    // The stages of a load, in order; each fails the load with its reason.
    bool ReadModelData(vtkListener* listener);
    bool ReadForeignData(vtkListener* listener);
    bool ReadOffset();
    bool BuildLevels(vtkListener* listener);
    bool LoadTexture(vtkListener* listener, bool& aborted);
    bool ColourFromArrays(); // true when the texture colours the model
    bool BuildActor(bool textureShown);
    vtkProperty* LevelProperty(int levelId) const;
    void ReleaseTexture();

    CQuarlonDoc* m_pDocument;
    std::string m_strPath;
    std::string m_strDiskPath;
    Scan m_scan;
    bool m_bScan = false;
    double m_dOffset[3] = {0.0, 0.0, 0.0};
    // Files of other programs carry their offset themselves, not in a .vtw.
    bool m_bForeign = false;
    bool m_bImplicitVertices = false; // vertex cells dropped: one per point
    double m_dForeignOffset[3] = {0.0, 0.0, 0.0};
    vtkSmartPointer<vtkAlgorithm> m_pReader;
    vtkSmartPointer<vtkLODProp3D> m_pActor;
    vtkSmartPointer<vtkPolyDataMapper> m_pFullMapper;
    vtkSmartPointer<vtkPolyDataMapper> m_pReducedMapper;
    vtkSmartPointer<vtkMaskPoints> m_pMask;
    vtkSmartPointer<vtkImageReader2> m_pImageReader;
    vtkSmartPointer<vtkTexture> m_pTexture;
    vtkSmartPointer<vtkLookupTable> m_pLookupTable;
    double m_dScalarRange[2] = {0.0, 1.0};
    std::string m_strActiveArray;
    int m_nColorMap = ColorMapDirect;
    unsigned int m_nColor = 0xFFFFFF;
    int m_nRepresentation = 0;
    bool m_bVisible = true;
    double m_dZScale = 1.0;
    bool m_bLoaded = false;
    std::string m_strLoadError;
};
