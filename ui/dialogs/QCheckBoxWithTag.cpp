#include "dialogs/QCheckBoxWithTag.h"

QCheckBoxWithTag::QCheckBoxWithTag(const QVariant &tag, const QString &text, QWidget *parent)
    : QCheckBox(text, parent)
    , tag(tag)
{
}

QVariant QCheckBoxWithTag::GetTag() const
{
    return tag;
}
