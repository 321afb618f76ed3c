#pragma once

#include "CoverImageState.h"
#include "catalogue/ItemComparePart.h"

#include <QSize>
#include <QString>
#include <QVariant>

class DisplayPageState;
class ItemBook;

// What the main window asks of a book view; ViewController forwards it to the shown view.
class BaseView
{
public:
    virtual QVariant GetCurrentItem() = 0;
    virtual bool SelectPrevious() = 0;
    virtual bool SelectNext() = 0;
    virtual void ClearItems() = 0;
    // A null book adds nothing.
    virtual void AddItem(const QString &rowText, const ItemBook *book, const CoverImageState &state) = 0;
    virtual void SelectEdge(bool last) = 0;
    virtual bool IsImageView() = 0;
    virtual void UpdateItemImage(const ItemComparePart &key, const CoverImageState &state) = 0;
    virtual int GetCurrentIndex() = 0;
    virtual int GetCount() = 0;
    virtual void InitView() = 0;
    virtual void HideView() = 0;
    virtual ~BaseView();

    virtual QSize GetCoverSize();
    // True when a book before the current one exists on this page or, with a state, on an
    // earlier page. The state's lock is taken for reading.
    virtual bool HasPrevious(DisplayPageState *state);
    virtual bool HasNext(DisplayPageState *state);
};
