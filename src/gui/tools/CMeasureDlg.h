#pragma once
// The measure tool of a document window: the picked points, their markers in
// the view, the figures of the selected ones (length, perimeter, areas on the
// fitted, view and XY planes) and the measures stored beside the document.
#include "core/measure/MeasureFile.h"
#include "core/measure/MeasureGeometry.h"

#include "gui/common/CToolWindow.h"

#include <QTableWidget>

#include <vtkSmartPointer.h>

#include <vector>

class IModelView;
class QCheckBox;
class QLineEdit;
class vtkCaptionActor2D;

// The points list: Id, x, y, z; the columns share the width 1:3:3:3.
class CMeasureListCtrl : public QTableWidget {
    Q_OBJECT
public:
    explicit CMeasureListCtrl(QWidget* parent = nullptr);

protected:
    void resizeEvent(QResizeEvent* event) override;
};

class CMeasureDlg : public CToolWindow {
    Q_OBJECT
public:
    CMeasureDlg(IModelView* view, QWidget* parent);
    ~CMeasureDlg() override;

    // A point picked in the view (document coordinates): a new row, its
    // marker, and every row selected.
    // A picked point; `snapped` names what the pick took ("vertex", "edge",
    // "surface", "point", or "" for the point under the cursor as drawn).
    void AddPickedPoint(const double point[3], const char* snapped = "");
    // Recomputes the figures from the selected rows' texts.
    void UpdateMeasures();
    // Reads the measure file of the document's current path.
    void LoadMeasureFile();

    CMeasureListCtrl* List() const { return m_listPoints; }
    QString FieldText(const char* objectName) const;
    vtkCaptionActor2D* Marker(int row) const;
    const measure::MeasureMap& StoredMeasures() const { return m_mapMeasures; }
    const std::string& MeasureFile() const { return m_strMeasureFile; }

public slots:
    void OnSelectAll();
    void OnDeleteSelected();
    void OnDeleteAll();
    void OnCopy();
    void OnShowPoints();
    void OnSaveMeasures();
    void OnOpenMeasures();
    void accept() override { hide(); } // Enter and Close
    void reject() override {}          // Escape does nothing

private:
    int AppendRow(const QString& id, const double point[3], const char* snapped = "");
    void MarkSnap(int row, const char* snapped);
    void RemoveRow(int row);
    void RedrawMarkers();
    QString RowText(int row, int column) const;

    IModelView* m_pView;
    std::vector<measure::Point3d> m_arrPoints;
    double m_ptPicked[3] = {0, 0, 0};
    double m_vPlaneNormal[3] = {0, 0, 1};
    CMeasureListCtrl* m_listPoints;
    QCheckBox* m_btnShowPoints;
    QLineEdit* m_editLength;
    QLineEdit* m_editPerimeter;
    QLineEdit* m_editAreaPlane;
    QLineEdit* m_editAreaView;
    QLineEdit* m_editAreaXY;
    std::vector<vtkSmartPointer<vtkCaptionActor2D>> m_markers; // one per row
    bool m_bMarkersChanged = false; // since the view last drew them
    std::string m_strMeasureFile;
    measure::MeasureMap m_mapMeasures;
};
