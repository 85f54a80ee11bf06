#pragma once
// The picking tools a view feeds: the frame's measure and scale dialogs.
class IViewTools {
public:
    virtual ~IViewTools() = default;
    virtual bool IsMeasureVisible() const = 0;
    virtual bool IsScaleVisible() const = 0;
    // A Shift-clicked point in document coordinates.
    virtual void OnMeasurePoint(const double point[3]) = 0;
    // The same, with what a snapping pick took ("vertex", "edge", "surface",
    // "point"; "" for the point under the cursor as drawn).
    virtual void OnSnappedMeasurePoint(const double point[3], const char* snapped)
    {
        (void)snapped;
        OnMeasurePoint(point);
    }
    // Scale reference point 1 or 2 picked (document coordinates); `length`
    // is the distance between both points once both exist, else negative.
    virtual void OnScalePoint(int which, const double point[3], double length) = 0;
    // After every mouse button release.
    virtual void OnButtonUp() = 0;
};
