#include "platform/PageFocus.h"

#include <QApplication>
#include <QEvent>
#include <QTabBar>
#include <QTabWidget>

TPageFocus::TPageFocus(QTabWidget* pages) : pages_(pages)
{
    current_ = pages_->currentWidget();
    connect(qApp, &QApplication::focusChanged, this, &TPageFocus::OnFocusChanged);
    connect(pages_, &QTabWidget::currentChanged, this, &TPageFocus::OnCurrentChanged);
    pages_->window()->installEventFilter(this);
    // Qt's tab bar takes no focus on a click, which would leave the focus on the page being
    // left and carry it into the page shown.
    if (auto* bar = pages_->findChild<QTabBar*>(QString(), Qt::FindDirectChildrenOnly))
        bar->setFocusPolicy(Qt::StrongFocus);
}

bool TPageFocus::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show && watched == pages_->window() && !shown_) {
        shown_ = true;
        if (QWidget* first = pages_->window()->focusWidget(); first && !active_)
            MoveActiveControl(first);
    }
    return QObject::eventFilter(watched, event);
}

TPageFocus::~TPageFocus() = default;

void TPageFocus::SetOnEnter(QWidget* page, std::function<void()> onEnter)
{
    onEnter_[page] = std::move(onEnter);
}

QWidget* TPageFocus::PageOf(QWidget* w) const
{
    for (int i = 0; w && i < pages_->count(); ++i) {
        QWidget* page = pages_->widget(i);
        if (page == w || page->isAncestorOf(w))
            return page;
    }
    return nullptr;
}

void TPageFocus::MoveActiveControl(QWidget* now)
{
    QWidget* const before = PageOf(active_);
    active_ = now;
    QWidget* const after = PageOf(now);
    if (after && after != before) {
        const auto handler = onEnter_.find(after);
        if (handler != onEnter_.end() && handler->second)
            handler->second();
    }
}

void TPageFocus::OnFocusChanged(QWidget* old, QWidget* now)
{
    // Focus leaving for another window or for no window is a change of activation, which
    // keeps the window's focused control.
    if (!now || now->window() != pages_->window() || now == active_)
        return;
    if (!disabling_ && old && old == active_ && !old->isEnabled()) {
        // Qt moved the focus on from a control that was disabled: take it away instead.
        active_ = nullptr;
        now->clearFocus();
        return;
    }
    MoveActiveControl(now);
}

void TPageFocus::OnCurrentChanged(int index)
{
    QWidget* const left = current_;
    QWidget* const shown = pages_->widget(index);
    current_ = shown;
    if (!shown || !left || !active_ || PageOf(active_) != left)
        return;
    // The focused control lay on the page being left: the focus moves into the new page,
    // to the control Qt chose there, else to the page itself.
    QWidget* target = pages_->window()->focusWidget();
    if (!target || PageOf(target) != shown)
        target = shown;
    MoveActiveControl(target);
    if (!target->hasFocus())
        target->setFocus(Qt::OtherFocusReason);
}

void TPageFocus::SetActivePage(QWidget* page)
{
    pages_->setCurrentWidget(page);
}

void TPageFocus::DisableControl(QWidget* control)
{
    const bool held = control == active_ || control->hasFocus() || control->isAncestorOf(active_) ||
                      (pages_->window()->focusWidget() &&
                       (control == pages_->window()->focusWidget() ||
                        control->isAncestorOf(pages_->window()->focusWidget())));
    disabling_ = true;
    if (held) {
        active_ = nullptr;
        if (QWidget* focused = pages_->window()->focusWidget())
            focused->clearFocus();
    }
    control->setEnabled(false);
    disabling_ = false;
}

void TPageFocus::FocusControl(QWidget* control)
{
    if (control != active_)
        MoveActiveControl(control);
    control->setFocus(Qt::OtherFocusReason);
}
