#pragma once
// A view without a window: a bare renderer, for the command line, batch work
// and tests. It counts redraw and refresh requests so they can be checked.
#include "core/model/IDocumentView.h"

class CRendererView : public IDocumentView {
public:
    CRendererView();
    ~CRendererView() override;
    CRendererView(const CRendererView&) = delete;
    CRendererView& operator=(const CRendererView&) = delete;

    vtkRenderer* GetRenderer() override { return m_pRenderer; }
    vtkRenderWindow* GetRenderWindow() override { return nullptr; }
    void Invalidate() override { ++m_nInvalidations; }
    void RefreshModelList() override { ++m_nListRefreshes; }

    int GetInvalidations() const { return m_nInvalidations; }
    int GetListRefreshes() const { return m_nListRefreshes; }

private:
    vtkRenderer* m_pRenderer;
    int m_nInvalidations = 0;
    int m_nListRefreshes = 0;
};
