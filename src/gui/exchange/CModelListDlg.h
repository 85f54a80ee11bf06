#pragma once
// The models list of one document window: a row per model with a bulb that
// shows and switches its visibility, and buttons to add and remove models.
// Rows name their model by its identity in the document, and the document
// tells the list when a model leaves it.
#include <QDialog>
#include <QTableWidget>

class IModelView;
class CQuarlonDoc;
class CScanPos;
class QPushButton;

class CModelListCtrl : public QTableWidget {
    Q_OBJECT
public:
    explicit CModelListCtrl(QWidget* parent = nullptr);
    void InitList(IModelView* owner);
    CScanPos* GetModelAt(int row) const;
    QList<int> SelectedRows() const;
    IModelView* Owner() const { return m_pOwner; }

signals:
    void bulbClicked(int row);      // left click on a row's bulb
    void bulbRightClicked(int row); // right click on a row's bulb
    void rowClicked(int row);       // left click anywhere on a row

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    IModelView* m_pOwner = nullptr;
};

class CModelListDlg : public QDialog {
    Q_OBJECT
public:
    CModelListDlg(IModelView* owner, QWidget* parent);
    ~CModelListDlg() override;

    void FillFromDocument();
    CModelListCtrl* List() const { return m_pList; }
    CScanPos* GetModelAt(int row) const { return m_pList->GetModelAt(row); }

signals:
    // A left click on the row of a model.
    void modelClicked(CScanPos* model);
    // "Add": the frame runs its "Open Inside..." command.
    void addRequested();
    // Visibility or the model set changed: the status line recounts.
    void modelsChanged();
    // Shown or hidden (the "Models List" check mark follows).
    void visibilityChanged();

public slots:
    void OnAddModels();
    void OnRemoveModels();
    void accept() override {}
    void reject() override {}

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void OnClickBulb(int row);
    void OnRightClickBulb(int row);
    CQuarlonDoc* Document() const;
    void RepaintAll();

    IModelView* m_pOwner;
    CModelListCtrl* m_pList;
    int m_nRemovalListener = 0;
};
