// Widget-side helpers of Helper: core has no QtWidgets, so they are defined here.
#include "Helper.h"

#include <QFrame>

QFrame *Helper::CreateLine()
{
    auto *line = new QFrame();
    line->setObjectName(QStringLiteral("line"));
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}
