#pragma once

#include <QCheckBox>
#include <QVariant>

// A control that carries a fixed value beside what it shows.
class IBaseControlWithTag
{
public:
    virtual ~IBaseControlWithTag() = default;
    virtual QVariant GetTag() const = 0;
};

// A check box with a tag given at construction (the filter form's range codes).
class QCheckBoxWithTag : public QCheckBox, public IBaseControlWithTag
{
    Q_OBJECT

public:
    QCheckBoxWithTag(const QVariant &tag, const QString &text, QWidget *parent = nullptr);

    QVariant GetTag() const override;

private:
    const QVariant tag;
};
