#include "ui/WindowStyle.h"

#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>

namespace tarnwell {

QMdiSubWindow* mdiSubWindowOf(const QWidget& window) {
    return qobject_cast<QMdiSubWindow*>(window.parentWidget());
}

WindowStyle windowStyle(const QWidget& window) {
    if (mdiSubWindowOf(window) != nullptr) {
        return WindowStyle::MdiChild;
    }
    return window.windowFlags().testFlag(Qt::WindowStaysOnTopHint) ? WindowStyle::StayOnTop
                                                                   : WindowStyle::Normal;
}

QWidget& windowFrame(QWidget& window) {
    QMdiSubWindow* sub = mdiSubWindowOf(window);
    return sub != nullptr ? static_cast<QWidget&>(*sub) : window;
}

namespace {

void leaveMdiArea(QWidget& window, QMdiArea& home) {
    QPointer<QMdiSubWindow> sub = mdiSubWindowOf(window);
    if (!sub) {
        return;
    }
    sub->hide();
    sub->setWidget(nullptr);
    QWidget* mainWindow = home.window();
    window.setParent(mainWindow, Qt::Window);
    home.removeSubWindow(sub);
    // The style may change from within the frame's own event handling (a
    // close the window turns into a move to the desktop), so the frame goes
    // later; until then the main window owns it.
    sub->setParent(mainWindow);
    sub->deleteLater();
}

}  // namespace

void setWindowStyle(QWidget& window, WindowStyle style, QMdiArea& home) {
    if (style == windowStyle(window)) {
        return;
    }
    const bool wasVisible = window.isVisible() || (mdiSubWindowOf(window) != nullptr &&
                                                    mdiSubWindowOf(window)->isVisibleTo(&home));
    if (style == WindowStyle::MdiChild) {
        window.setWindowFlags(Qt::Widget);
        QMdiSubWindow* sub = home.addSubWindow(&window);
        // Closing the widget decides about its own life; the frame goes with it.
        sub->setAttribute(Qt::WA_DeleteOnClose, false);
        window.show();
        // A frame not hidden explicitly would show with the main window.
        sub->setVisible(wasVisible);
        return;
    }
    leaveMdiArea(window, home);
    Qt::WindowFlags flags = Qt::Window;
    if (style == WindowStyle::StayOnTop) {
        flags |= Qt::WindowStaysOnTopHint;
    }
    window.setParent(home.window(), flags);
    if (wasVisible) {
        window.show();
    }
}

QSize windowSize(QWidget& window) {
    QWidget& frame = windowFrame(window);
    // A window on the desktop: its size with the window manager's frame,
    // which is known once it was shown (none before, and none on a desktop
    // without a window manager).
    return frame.isWindow() ? frame.frameGeometry().size() : frame.size();
}

void setWindowSize(QWidget& window, const QSize& size) {
    QWidget& frame = windowFrame(window);
    if (frame.isWindow()) {
        const QSize decoration = frame.frameGeometry().size() - frame.size();
        frame.resize(size - decoration);
    } else {
        frame.resize(size);
    }
}

void setWindowRect(QWidget& window, const QRect& rect) {
    windowFrame(window).move(rect.topLeft());
    setWindowSize(window, rect.size());
}

void showWindow(QWidget& window) {
    if (QMdiSubWindow* sub = mdiSubWindowOf(window)) {
        window.show();
        sub->show();
        return;
    }
    window.show();
}

}  // namespace tarnwell
