// The input-focus rules of the class library's tab pages, over a QTabWidget:
// - a page is "entered" (its OnEnter runs) when the focused control moves into the page
//   from a control outside it, or from no control at all;
// - the window's first focus is taken when the window is first shown: the page of the
//   control set to take the focus first is entered then, not when the window system later
//   activates the window (that may come after a click that already ran its handler);
// - a click on the tab bar gives the focus to the tab control, which lies on no page, so a
//   look at another page enters nothing;
// - making a page active while the focused control lies on the page being left moves the
//   focus into the new page, which is entered within that call; a switch made while the
//   focus lies elsewhere, or on no control, enters nothing;
// - disabling the focused control leaves no control focused (Qt would move the focus on to
//   the next control), until the operator gives the focus to one.
// The window's own focused control is tracked here, not the application's: the window
// losing and regaining activation does not enter anything.
#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <map>

class QTabWidget;
class QWidget;

class TPageFocus : public QObject
{
public:
    explicit TPageFocus(QTabWidget* pages);
    ~TPageFocus() override;

    // The handler that runs when the focus enters `page` (a page of the tab widget).
    void SetOnEnter(QWidget* page, std::function<void()> onEnter);

    // Makes `page` the active page, with the focus rule above.
    void SetActivePage(QWidget* page);

    // Disables a control; when it held the window's focus, no control holds it afterwards.
    // Controls disabled by other means are caught as well when Qt moves the focus on while
    // the window is active.
    void DisableControl(QWidget* control);

    // Gives the focus to a control of the window, as the operator's click would; the page
    // rule applies at once, even while the window is not the active one.
    void FocusControl(QWidget* control);

    // The window's focused control as the rules see it (null: no control).
    QWidget* ActiveControl() const { return active_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* PageOf(QWidget* w) const;
    void MoveActiveControl(QWidget* now);
    void OnFocusChanged(QWidget* old, QWidget* now);
    void OnCurrentChanged(int index);

    QTabWidget* pages_;
    QPointer<QWidget> active_;
    QPointer<QWidget> current_;
    std::map<QWidget*, std::function<void()>> onEnter_;
    bool disabling_ = false;
    bool shown_ = false;
};
