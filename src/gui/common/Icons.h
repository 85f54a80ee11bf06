#pragma once
// The program's toolbar icons (16 x 16, with hot and disabled states) and
// the view's interaction cursors, drawn in code.
#include <QCursor>
#include <QIcon>

QIcon CommandIcon(int commandId);

// The models list's visibility bulbs.
QPixmap BulbPixmap(bool lit);

enum ViewCursor { CursorArrow = 0, CursorPan, CursorRotate, CursorSpin, CursorZoom, CursorCentre, CursorPick, CursorCount };
QCursor MakeViewCursor(int index);

// The splash picture: a shaped badge on a magenta background (the colour
// that is cut away).
QPixmap SplashPicture();
