// Texts that users and the web service see: sizes, counts, paths, links and queries.
#include "Const.h"
#include "Formatters.h"
#include "Helper.h"

#include <QTemporaryDir>
#include <QtTest>

class TestHelper : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void texts_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        const QString site = Const::WebsiteUrl;
        // The data folders are siblings of the data location; the catalogue folder lies inside.
        const QString data = dir.filePath(QStringLiteral("data"));
        const struct { const char *name; QString text; QString expected; } rows[] = {
            {"size 0", FormatFileSize(0), ""},
            {"size 1023", FormatFileSize(1023), "1 KB"},
            {"size rounds half up", FormatFileSize(1536), "2 KB"},
            {"size negative", FormatFileSize(-1536), "-2 KB"},
            {"size 1 MiB", FormatFileSize(1048576), "1024 KB"},
            {"size past 1 MiB", FormatFileSize(1048577), "1.00 MB"},
            {"size 5.5 MiB", FormatFileSize(5767168), "5.50 MB"},
            {"count 0", FormatBookCount(0), "0 Books"},
            {"count 1", FormatBookCount(1), "1 Book"},
            {"count -1", FormatBookCount(-1), "-1 Books"},
            {"name with count", FormatNameWithBookCount("100% %2", 12), "100% %2 (12 Books)"},
            {"path, empty name", Helper::CombinePath("a", ""), "a"},
            {"path, no signs", Helper::CombinePath("a", "b"), "a/b"},
            {"path, name sign", Helper::CombinePath("a", "/b"), "a/b"},
            {"path, both signs", Helper::CombinePath("a/", "/b"), "a//b"},
            {"query, none", Helper::AppendUrlQuery("http://h/p", "", true), "http://h/p"},
            {"query, first", Helper::AppendUrlQuery("http://h/p", "q=1", false), "http://h/p?q=1"},
            {"query, second", Helper::AppendUrlQuery("http://h/p?a=1", "q=1", false), "http://h/p?a=1&q=1"},
            {"query, forced", Helper::AppendUrlQuery("http://h/p", "q=1", true), "http://h/p&q=1"},
            {"kind, present", Helper::AddUrlKind("http://h/p?KIND=x"), "http://h/p?KIND=x"},
            {"kind, added", Helper::AddUrlKind("http://h/p"), "http://h/p?kind=tessaly-mac"},
            {"software info", Helper::GetSoftwareInfoQuery(), "os=2&fileversion=3011&softversion=3.3.5&kind=tessaly-mac"},
            {"red link", Helper::MakeHtmlLink("T", "http://h/%2", true), "<a href='http://h/%2' style='color:red;'>T</a>"},
            {"plain link", Helper::MakeHtmlLink("T", "http://h/", false), "<a href='http://h/' >T</a>"},
            {"allowed link, any case", Helper::GetAllowedLink(site.toUpper() + "x"), site.toUpper() + "x"},
            {"link elsewhere", Helper::GetAllowedLink("http://elsewhere.invalid/"), ""},
            {"base folder", Helper::GetLocalFolderAt(data, Helper::FolderBase), data + "_LocalFolder"},
            {"cover folder", Helper::GetLocalFolderAt(data, Helper::FolderImageCache), data + "_LocalFolder LocalCache1"},
            {"catalogue folder", Helper::GetLocalFolderAt(data, Helper::FolderDatabase), data + "_LocalFolder/database"},
            {"no data location", Helper::GetLocalFolderAt(QString(), Helper::FolderBase), ""},
        };
        for (const auto &row : rows)
            QTest::newRow(row.name) << row.text << row.expected;
    }

    void texts()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(text, expected);
    }
};

QTEST_GUILESS_MAIN(TestHelper)
#include "test_helper.moc"
