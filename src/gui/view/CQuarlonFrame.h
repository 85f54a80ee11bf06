#pragma once
// The inside of a document window: the document, its 3D view and the tool
// windows that work on them.
#include "gui/view/IViewTools.h"

#include <QWidget>

#include <memory>

class CMeasureDlg;
class CModelListDlg;
class CScaleDlg;
class CQuarlonDoc;
class CQuarlonView;
class CScanPos;
class CScanPosOptionsDlg;

class CQuarlonFrame : public QWidget, public IViewTools {
    Q_OBJECT
public:
    explicit CQuarlonFrame(QWidget* parent = nullptr);
    ~CQuarlonFrame() override;

    CQuarlonDoc* GetFrameDocument() const { return m_pDocument.get(); }
    CQuarlonView* GetView() const { return m_pView; }

    // Opens the document's file; false when nothing could be opened.
    bool OpenDocument(const QString& path);
    // Adds one model file (".vtp", ".pvtp" or ".vtk" exactly) to the document.
    bool OpenInsideFile(const QString& path);
    // Loads the model of `path` anew where the document holds it (after an
    // import replaced its file); false when it holds no such model.
    bool ReloadModel(const QString& path);
    // The document's title: its file name.
    QString Title() const;

    // Runs a command of the document window; false when it is not one.
    bool OnCommand(int commandId);
    // Whether the command's menu item carries a check mark.
    bool IsChecked(int commandId) const;
    CModelListDlg* GetModelListDlg() const { return m_pModelListDlg; }
    // Creates and places the models list; false when it already existed.
    bool CreateModelListDlg();
    // The one model a command acts on: the only one, or the one selected in
    // the models list (which is shown); none with a message otherwise.
    CScanPos* ChooseOneModel();

    void OnOpenInside();
    void OnZExaggeration();
    void OnFastSwitch(int index);
    void OnStereo(int type);
    void OnBackgroundColor();
    void OnModelsList();
    // Shows the tool windows that were open when this document window was
    // last active, or hides them while another one is.
    void SetToolWindowsShown(bool shown);

signals:
    // The models or their visibility changed: the status line recounts.
    void statusCountsChanged();

public:
    // IViewTools: the view feeds the measure and scale windows.
    bool IsMeasureVisible() const override;
    bool IsScaleVisible() const override;
    void OnMeasurePoint(const double point[3]) override;
    void OnSnappedMeasurePoint(const double point[3], const char* snapped) override;
    void OnScalePoint(int which, const double point[3], double length) override;
    void OnButtonUp() override;

    CMeasureDlg* GetMeasureDlg() const { return m_pMeasureDlg; }
    CScaleDlg* GetScaleDlg() const { return m_pScaleDlg; }
    void OnMeasure();
    void OnScaleModel();
    // "Merge Models": OBJ, PLY, VRML or the point listing of all models.
    void OnMergeModels(int commandId);
    void OnAsciiExport();
    void OnApplyTexture();
    // "Representation Properties": shows the properties of the chosen model, or hides them.
    void OnRepresentationProperties();
    CScanPosOptionsDlg* GetPropertiesDlg() const { return m_pPropertiesDlg; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void RefreshModelList();
    void ShowModelList();
    // Shows a tool window, placed at first inside the view's area (at its
    // top-left corner, or top-right for the models list).
    void ShowToolWindow(QWidget* window, bool& placed);
    void ShowScaleCaptions(bool show);

    std::unique_ptr<CQuarlonDoc> m_pDocument;
    CQuarlonView* m_pView;
    CModelListDlg* m_pModelListDlg = nullptr;
    CMeasureDlg* m_pMeasureDlg = nullptr;
    CScaleDlg* m_pScaleDlg = nullptr;
    CScanPosOptionsDlg* m_pPropertiesDlg = nullptr;
    bool m_bMeasurePlaced = false, m_bScalePlaced = false;
    bool m_bMeasureWasShown = false, m_bScaleWasShown = false;
    bool m_bListPlaced = false;
    bool m_bPropertiesPlaced = false;
    bool m_bPropertiesWasShown = false;
    bool m_bListPending = false;   // to be shown once the view is on screen
    bool m_bListWasShown = false;  // shown when the document was deactivated
    bool m_bToolsShown = true;
};
