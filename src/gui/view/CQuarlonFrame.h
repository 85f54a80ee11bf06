#pragma once
// The inside of a document window: the document, its 3D view and the tool
// windows that work on them.
#include "IViewTools.h"

#include <QWidget>

#include <memory>

class CQuarlonDoc;
class CQuarlonView;

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
    // The document's title: its file name.
    QString Title() const;

    // IViewTools: the measure and scale windows are not part of this build yet.
    bool IsMeasureVisible() const override { return false; }
    bool IsScaleVisible() const override { return false; }
    void OnMeasurePoint(const double[3]) override {}
    void OnScalePoint(int, const double[3], double) override {}
    void OnButtonUp() override {}

private:
    std::unique_ptr<CQuarlonDoc> m_pDocument;
    CQuarlonView* m_pView;
};
