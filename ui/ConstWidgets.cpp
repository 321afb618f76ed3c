// Widget-side constants of Const: core has no QtWidgets, so they are defined here.
#include "Const.h"

#include <QSizePolicy>

static QSizePolicy MakeExpandingSizePolicy()
{
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    policy.setHorizontalStretch(1);
    policy.setVerticalStretch(1);
    return policy;
}

const QSizePolicy Const::ExpandingSizePolicy = MakeExpandingSizePolicy();
