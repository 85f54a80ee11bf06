#pragma once
// Bounds of what a renderer shows, in render coordinates. The library's own
// computation takes a level-of-detail prop's bounds before its placement is
// applied (until it has been drawn once), which puts every model of a
// document at the origin; this one applies each prop's matrix itself.
class vtkRenderer;

// False (and bounds untouched) when nothing visible has bounds.
bool ComputeSceneBounds(vtkRenderer* renderer, double bounds[6]);

// The view every document starts with: from above (+Z), the scene's whole
// bounds in sight, as the viewer's first preset places its camera.
void SetTopView(vtkRenderer* renderer);
