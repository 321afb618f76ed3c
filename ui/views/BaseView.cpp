#include "views/BaseView.h"

#include "folders/DisplayPageState.h"

#include <QReadLocker>

BaseView::~BaseView() = default;

QSize BaseView::GetCoverSize()
{
    return QSize(218, 218);
}

bool BaseView::HasPrevious(DisplayPageState *state)
{
    if (GetCurrentIndex() > 0)
        return true;
    if (!state)
        return false;
    QReadLocker locker(&state->lock);
    return state->currentPage > 1;
}

bool BaseView::HasNext(DisplayPageState *state)
{
    if (GetCurrentIndex() + 1 < GetCount())
        return true;
    if (!state)
        return false;
    QReadLocker locker(&state->lock);
    return state->currentPage < state->pageCount;
}
