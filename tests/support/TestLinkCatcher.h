#pragma once

#include <QDesktopServices>
#include <QList>
#include <QObject>
#include <QUrl>

// Catches links handed to the desktop instead of starting a browser.
class TestLinkCatcher : public QObject
{
    Q_OBJECT
public:
    // Takes every http and https link from now on.
    void Install()
    {
        QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "open");
        QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open");
    }

    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened << url; }
};
