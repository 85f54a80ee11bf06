#include "core/model/CQuarlonDoc.h"

#include "core/model/CScanPos.h"
#include "core/formats/ForeignModel.h"
#include "core/model/IDocumentView.h"
#include "core/common/ProgressSink.h"
#include "core/model/ProjectFile.h"
#include "core/common/Paths.h"
#include "core/common/SafeFile.h"

#include <vtkLODProp3D.h>

#include <algorithm>
#include <vtkProperty.h>
#include <vtkRenderer.h>

CQuarlonDoc::CQuarlonDoc() = default;

CQuarlonDoc::~CQuarlonDoc() { RemoveAllModels(); }

std::unique_ptr<IProgressSink> CQuarlonDoc::CreateProgress() const
{
    if (m_progressFactory)
        if (std::unique_ptr<IProgressSink> sink = m_progressFactory())
            return sink;
    return std::make_unique<CSilentProgress>();
}

namespace {

// Why a path that is no existing file cannot be opened: a FIFO or a
// device is not "missing".
std::string SourceProblemOf(const std::string& path)
{
    const std::string onDisk = qpath::ResolveOnDisk(path);
    const std::string problem = safefile::SourceProblem(onDisk.empty() ? path : onDisk);
    return problem.empty() ? std::string("no such file") : problem;
}

} // namespace

std::vector<std::string> CQuarlonDoc::GetSourceFiles() const
{
    std::vector<std::string> files;
    if (!m_strPathName.empty())
        files.push_back(m_strPathName);
    for (const auto& entry : m_models) {
        const std::vector<std::string> own = entry.second->GetSourceFiles();
        files.insert(files.end(), own.begin(), own.end());
    }
    return files;
}

std::vector<std::string> CQuarlonDoc::GetLoadFailureLines(size_t each) const
{
    std::vector<std::string> reasons;
    std::vector<std::vector<std::string>> paths;
    for (const auto& failure : m_failures) {
        const auto found = std::find(reasons.begin(), reasons.end(), failure.second);
        if (found == reasons.end()) {
            reasons.push_back(failure.second);
            paths.push_back({failure.first});
        } else {
            paths[static_cast<size_t>(found - reasons.begin())].push_back(failure.first);
        }
    }
    std::vector<std::string> lines;
    for (size_t r = 0; r < reasons.size(); ++r) {
        const std::string reason = safefile::Printable(reasons[r]);
        if (paths[r].size() <= each) {
            for (const std::string& path : paths[r])
                lines.push_back(safefile::Printable(path, 1000) + ": " + reason);
            continue;
        }
        std::string first;
        for (size_t i = 0; i < each; ++i)
            first += (i ? ", " : "") + safefile::Printable(paths[r][i], 200);
        lines.push_back(std::to_string(paths[r].size()) + " models: " + reason + " (" + first + ", ...)");
    }
    return lines;
}

void CQuarlonDoc::NoteLoadFailure(const std::string& path, const std::string& why)
{
    m_failures.emplace_back(path, why);
}

void CQuarlonDoc::NoteLoad(const std::string& path, const std::string& note)
{
    m_notes.emplace_back(path, note);
}

CScanPos* CQuarlonDoc::FindModel(const std::string& path) const
{
    const std::string key = qpath::ToLower(path);
    for (const auto& entry : m_models)
        if (entry.first == key)
            return entry.second;
    return nullptr;
}

CScanPos* CQuarlonDoc::AddModel(const std::string& requested)
{
    std::string path = qpath::Absolute(requested);
    // "site.e57#2" names one scan of a file of several.
    int only = -1;
    const size_t hash = path.rfind('#');
    if (!qpath::IsExistingFile(path) && hash != std::string::npos && hash + 1 < path.size() && hash + 7 > path.size() &&
        path.find_first_not_of("0123456789", hash + 1) == std::string::npos &&
        foreign::HoldsScans(qpath::ToLower(qpath::Split(path.substr(0, hash)).extension))) {
        only = std::stoi(path.substr(hash + 1)) - 1;
        path.resize(hash);
    }
    if (!qpath::IsExistingFile(path)) {
        NoteLoadFailure(requested, SourceProblemOf(path));
        return nullptr;
    }
    if (foreign::HoldsScans(qpath::ToLower(qpath::Split(path).extension)))
        return AddScans(requested, path, only);
    const std::string key = qpath::ToLower(path);
    if (FindModel(key)) {
        NoteLoadFailure(requested, "already in the document");
        return nullptr;
    }
    CScanPos* model = CScanPos::Create(this, path);
    if (!model)
        return nullptr;
    if (!Adopt(key, model, requested))
        return nullptr;
    if (m_pView)
        m_pView->RefreshModelList();
    return model;
}

bool CQuarlonDoc::Adopt(const std::string& key, CScanPos* model, const std::string& requested)
{
    if (!AddPropToView(model->GetActor())) {
        NoteLoadFailure(requested, "the view does not accept the model");
        model->Destroy();
        return false;
    }
    m_models.emplace_back(key, model);
    return true;
}

CScanPos* CQuarlonDoc::AddScans(const std::string& requested, const std::string& path, int only)
{
    std::vector<foreign::ScanEntry> scans;
    std::string why;
    size_t images = 0;
    if (foreign::ListScans(path, scans, &why, &images) != foreign::Result::Ok) {
        NoteLoadFailure(requested, why);
        return nullptr;
    }
    if (scans.empty() || only >= static_cast<int>(scans.size())) {
        const std::string pictures = images == 0 ? std::string()
                                     : ", only " + std::to_string(images) + (images == 1 ? " image" : " images");
        NoteLoadFailure(requested, scans.empty() ? "the file holds no scans" + pictures
                                                 : "the file has no scan " + std::to_string(only + 1));
        return nullptr;
    }
    CScanPos* first = nullptr;
    for (size_t i = 0; i < scans.size(); ++i) {
        if (only >= 0 && static_cast<int>(i) != only)
            continue;
        CScanPos::Scan scan;
        scan.index = i;
        scan.name = scans[i].name;
        scan.guid = scans[i].guid;
        scan.several = scans.size() > 1;
        scan.images = images;
        const std::string key = scan.several ? CScanPos::ScanIdentity(path, i) : qpath::ToLower(path);
        if (FindModel(key)) {
            NoteLoadFailure(scan.several ? requested + " (" + scan.name + ")" : requested, "already in the document");
            continue;
        }
        const size_t failures = m_failures.size();
        CScanPos* model = CScanPos::Create(this, path, &scan);
        if (!model) {
            // Abort stops the file, not only the scan.
            if (m_failures.size() > failures && m_failures.back().second == "aborted")
                break;
            continue;
        }
        if (Adopt(key, model, requested) && !first)
            first = model;
    }
    if (m_pView)
        m_pView->RefreshModelList();
    return first;
}

bool CQuarlonDoc::RemoveModel(CScanPos* model)
{
    if (!model)
        return false;
    for (auto it = m_models.begin(); it != m_models.end(); ++it) {
        if (it->first != model->GetPath())
            continue;
        if (it->second != model)
            return false;
        if (!RemovePropFromView(model->GetActor()))
            return false;
        const std::string path = it->first;
        model->Destroy();
        m_models.erase(it);
        NotifyRemoved(path);
        return true;
    }
    return false;
}

void CQuarlonDoc::RemoveAllModels()
{
    std::vector<std::pair<std::string, CScanPos*>> models;
    models.swap(m_models);
    for (auto& entry : models) {
        RemovePropFromView(entry.second->GetActor());
        entry.second->Destroy();
        NotifyRemoved(entry.first);
    }
}

int CQuarlonDoc::AddRemovalListener(RemovalListener listener)
{
    m_removalListeners.emplace_back(m_nNextListener, std::move(listener));
    return m_nNextListener++;
}

void CQuarlonDoc::RemoveRemovalListener(int id)
{
    for (auto it = m_removalListeners.begin(); it != m_removalListeners.end(); ++it)
        if (it->first == id) {
            m_removalListeners.erase(it);
            return;
        }
}

void CQuarlonDoc::NotifyRemoved(const std::string& path)
{
    // A listener may unsubscribe while told.
    const auto listeners = m_removalListeners;
    for (const auto& l : listeners)
        l.second(path);
}

CScanPos* CQuarlonDoc::GetNextModel(Position& position) const
{
    if (position == 0 || position > m_models.size()) {
        position = 0;
        return nullptr;
    }
    CScanPos* model = m_models[position - 1].second;
    position = position < m_models.size() ? position + 1 : 0;
    return model;
}

void CQuarlonDoc::SetBackfaceCulling(int flag)
{
    for (auto& entry : m_models) {
        vtkLODProp3D* actor = entry.second->GetActor();
        if (!actor)
            continue;
        vtkProperty* property = nullptr;
        actor->GetLODProperty(kFullLevel, &property);
        if (property)
            property->SetBackfaceCulling(flag);
    }
    m_nBackfaceCulling = flag;
    if (m_pView)
        m_pView->Invalidate();
}

bool CQuarlonDoc::SetRepresentationAll(int index)
{
    bool all = true;
    for (auto& entry : m_models)
        all = entry.second->SetRepresentation(index) && all;
    return all;
}

bool CQuarlonDoc::AddPropToView(vtkProp* prop)
{
    vtkRenderer* renderer = m_pView ? m_pView->GetRenderer() : nullptr;
    if (!prop || !renderer || renderer->HasViewProp(prop))
        return false;
    renderer->AddViewProp(prop);
    return true;
}

bool CQuarlonDoc::RemovePropFromView(vtkProp* prop)
{
    vtkRenderer* renderer = m_pView ? m_pView->GetRenderer() : nullptr;
    if (!prop || !renderer || !renderer->HasViewProp(prop))
        return false;
    renderer->RemoveViewProp(prop);
    return true;
}

void CQuarlonDoc::GetOffset(double offset[3]) const
{
    for (int i = 0; i < 3; ++i)
        offset[i] = m_dOffset[i];
}

void CQuarlonDoc::SetOffset(const double offset[3])
{
    for (int i = 0; i < 3; ++i)
        m_dOffset[i] = offset[i];
}

bool CQuarlonDoc::OnOpenDocument(const std::string& requested)
{
    m_failures.clear();
    m_notes.clear();
    const std::string path = qpath::Absolute(requested);
    if (!qpath::IsExistingFile(path)) {
        NoteLoadFailure(requested, SourceProblemOf(path));
        return false;
    }
    if (IsProjectFilePath(path)) {
        std::vector<std::string> entries;
        bool hasCount = false;
        if (!ReadProjectEntries(path, entries, &hasCount)) {
            NoteLoadFailure(requested, "cannot read the project file");
            return false;
        }
        // As the format is read, such a file opens as an empty document; the
        // reason is still told, so that no caller takes it for a success.
        if (!hasCount)
            NoteLoadFailure(requested, "no models: the project's first line is not a count of models");
        const std::string folder = qpath::Split(qpath::ResolveOnDisk(path)).folder;
        qpath::ScopedListingCache listings;
        // A model listed twice is shown once, as identities go; said once.
        int duplicates = 0;
        for (const std::string& entry : entries) {
            const std::string model = qpath::Absolute(qpath::JoinRelative(folder, entry));
            if (FindModel(model)) {
                ++duplicates;
                continue;
            }
            AddModel(model);
        }
        if (duplicates > 0)
            m_notes.emplace_back(requested, std::to_string(duplicates) + (duplicates == 1 ? " entry names" : " entries name") +
                                                " a model listed before; each model is shown once");
    } else if (!AddModel(path)) {
        return false;
    }
    m_strPathName = path;
    return true;
}

void CQuarlonDoc::OnCloseDocument()
{
    RemoveAllModels();
}
