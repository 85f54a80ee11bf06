#pragma once
// What a tool window needs of its document window's view: the document it
// shows and a fresh picture after a change. Tool windows know no more of
// the view, so they can be built and tested without it.
class CQuarlonDoc;
class CScanPos;
class vtkRenderer;

class IModelView {
public:
    virtual ~IModelView() = default;
    virtual CQuarlonDoc* GetDocument() const = 0;
    virtual void Render() = 0;
    // The models' renderer (its camera is the view's).
    virtual vtkRenderer* GetRenderer() = 0;
    // Where tool windows put their own markers: drawn over the models and
    // never picked.
    virtual vtkRenderer* GetOverlayRenderer() { return GetRenderer(); }
    // `model` was rescaled by `factor`: markers picked on it move with it.
    virtual void OnModelScaled(CScanPos* model, double factor) { (void)model, (void)factor; }
};
