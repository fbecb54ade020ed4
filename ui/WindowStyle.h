#pragma once

#include <QRect>
#include <QSize>

class QMdiArea;
class QMdiSubWindow;
class QWidget;

namespace tarnwell {

// A window of the program lives in one of three styles: as an MDI child of the
// main window, as a free-standing window, or as a free-standing window that
// stays on top. The same widget moves between them; free-standing windows keep
// the main window as their owner, so they go with it at exit.
//
// `home` is the main window's MDI area; the main window is the window it
// lies in.
enum class WindowStyle { MdiChild, Normal, StayOnTop };

WindowStyle windowStyle(const QWidget& window);
void setWindowStyle(QWidget& window, WindowStyle style, QMdiArea& home);

// The frame that stands for `window` on the screen: its MDI sub-window when it
// is an MDI child, else the window itself.
QWidget& windowFrame(QWidget& window);
QMdiSubWindow* mdiSubWindowOf(const QWidget& window);

// Outer size and place of a window in its own style's coordinates: within the
// main window's MDI area for a child, on the screen otherwise.
QSize windowSize(QWidget& window);
void setWindowSize(QWidget& window, const QSize& size);
void setWindowRect(QWidget& window, const QRect& rect);

// Shows the window in its style (an MDI child shows within the main window,
// which may itself be hidden).
void showWindow(QWidget& window);

}  // namespace tarnwell
