#include "core/model/CRendererView.h"

#include <vtkRenderer.h>

CRendererView::CRendererView() : m_pRenderer(vtkRenderer::New()) {}

CRendererView::~CRendererView() { m_pRenderer->Delete(); }
