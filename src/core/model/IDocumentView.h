#pragma once
// What a document needs from the window that shows it. The viewer's 3D view
// implements it; the command line and the tests use a bare renderer.
class vtkRenderer;
class vtkRenderWindow;

class IDocumentView {
public:
    virtual ~IDocumentView() = default;
    virtual vtkRenderer* GetRenderer() = 0;
    // May be none: a view without a window draws nothing.
    virtual vtkRenderWindow* GetRenderWindow() = 0;
    // Ask for a redraw (without erasing).
    virtual void Invalidate() = 0;
    // The models of the document changed: refresh the models list.
    virtual void RefreshModelList() = 0;
};
