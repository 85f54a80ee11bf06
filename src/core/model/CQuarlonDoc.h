#pragma once
// A document: the models shown together in one view under one coordinate
// offset, opened from a model file or a project file.
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class CScanPos;
class IDocumentView;
class IProgressSink;
class vtkProp;

class CQuarlonDoc {
public:
    using ProgressFactory = std::function<std::unique_ptr<IProgressSink>()>;
    // Opaque iteration position: 0 ends the iteration.
    using Position = size_t;

    CQuarlonDoc();
    virtual ~CQuarlonDoc();
    CQuarlonDoc(const CQuarlonDoc&) = delete;
    CQuarlonDoc& operator=(const CQuarlonDoc&) = delete;

    // Opens a model or a project file. A single model that cannot be loaded
    // fails the open; project entries that fail are skipped.
    virtual bool OnOpenDocument(const std::string& path);
    virtual void OnCloseDocument();

    // A model file, a file of other programs, or every scan of a file of
    // several ("site.e57#2": one of them); the first model added, or none.
    CScanPos* AddModel(const std::string& path);
    bool RemoveModel(CScanPos* model);
    void RemoveAllModels();
    int GetModelCount() const { return static_cast<int>(m_models.size()); }
    Position GetFirstModelPosition() const { return m_models.empty() ? 0 : 1; }
    CScanPos* GetNextModel(Position& position) const;
    CScanPos* FindModel(const std::string& path) const;

    // Told after a model has left the document (and was destroyed), with
    // its identity, so that windows holding it let go. Returns an id for
    // RemoveRemovalListener.
    using RemovalListener = std::function<void(const std::string& path)>;
    int AddRemovalListener(RemovalListener listener);
    void RemoveRemovalListener(int id);

    void SetBackfaceCulling(int flag);
    int GetBackfaceCulling() const { return m_nBackfaceCulling; }
    bool SetRepresentationAll(int index);

    void SetView(IDocumentView* view) { m_pView = view; }
    IDocumentView* GetView() const { return m_pView; }
    bool AddPropToView(vtkProp* prop);
    bool RemovePropFromView(vtkProp* prop);

    void GetOffset(double offset[3]) const;
    void SetOffset(const double offset[3]);

    const std::string& GetPathName() const { return m_strPathName; }
    // Every file the document was read from (its project file, each model
    // and its companions): what no write of the document may replace.
    std::vector<std::string> GetSourceFiles() const;

    // Progress of long runs; a silent sink unless a factory is set.
    void SetProgressFactory(ProgressFactory factory) { m_progressFactory = std::move(factory); }
    std::unique_ptr<IProgressSink> CreateProgress() const;

    // Batch tools look without leaving settings files behind.
    void SetSettingsReadOnly(bool readOnly) { m_bSettingsReadOnly = readOnly; }
    bool IsSettingsReadOnly() const { return m_bSettingsReadOnly; }

    // Paths that failed to load since the last open, with the reason.
    const std::vector<std::pair<std::string, std::string>>& GetLoadFailures() const { return m_failures; }
    void NoteLoadFailure(const std::string& path, const std::string& why);
    // Loaded, but with something the user should know (a scan cut short).
    void NoteLoad(const std::string& path, const std::string& note);
    // The failures as lines to show ("PATH: REASON"): a reason shared by
    // more than `each` paths is one line with its count and first names, so
    // that a project of 50,000 missing entries says so in a line.
    std::vector<std::string> GetLoadFailureLines(size_t each = 3) const;
    // What the last open noticed without failing (duplicate project entries).
    const std::vector<std::pair<std::string, std::string>>& GetLoadNotes() const { return m_notes; }

private:
    CScanPos* AddScans(const std::string& requested, const std::string& path, int only);
    bool Adopt(const std::string& key, CScanPos* model, const std::string& requested);
    std::vector<std::pair<std::string, CScanPos*>> m_models; // in load order
    int m_nBackfaceCulling = 1;
    IDocumentView* m_pView = nullptr;
    double m_dOffset[3] = {0.0, 0.0, 0.0};
    std::string m_strPathName;
    ProgressFactory m_progressFactory;
    bool m_bSettingsReadOnly = false;
    std::vector<std::pair<std::string, std::string>> m_failures;
    std::vector<std::pair<std::string, std::string>> m_notes;
    std::vector<std::pair<int, RemovalListener>> m_removalListeners;
    int m_nNextListener = 1;
    void NotifyRemoved(const std::string& path);
};
