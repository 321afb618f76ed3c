#include "folders/DisplayDataSaver.h"

#include "Const.h"
#include "envelope/DisplayFolderEncrypterClass.h"
#include "Formatters.h"
#include "folders/DamagedFileKeeper.h"
#include "threads/NativeHelper.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QTextCodec>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <exception>
#include <memory>

namespace {

// Characters that XML 1.0 forbids would stop the reader and lose every later folder.
bool IsXmlChar(uint code)
{
    return code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF)
        || (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
}

QString StripXmlForbidden(const QString &text)
{
    bool clean = true;
    for (const QChar ch : text) {
        const ushort code = ch.unicode();
        if (ch.isSurrogate() || !IsXmlChar(code)) {
            clean = false;
            break;
        }
    }
    if (clean)
        return text;
    const QVector<uint> codes = text.toUcs4();
    QString stripped;
    stripped.reserve(text.size());
    for (uint code : codes) {
        if (IsXmlChar(code) && !(code >= 0xD800 && code <= 0xDFFF))
            stripped.append(QString::fromUcs4(&code, 1));
    }
    return stripped;
}

} // namespace

QStringList DisplayDataSaver::KeptDamagedCopies() const
{
    return DamagedFileKeeper(userFoldersPath).KeptCopies();
}

// ---- list encodings ----

QString DisplayDataSaver::JoinTextList(const QStringList &items)
{
    QString joined;
    for (const QString &item : items) {
        if (!joined.isEmpty())
            joined += Const::ListSeparator;
        QString escaped = item;
        escaped.replace(Const::ListSeparator, Const::SeparatorEscape);
        joined += escaped;
    }
    return joined;
}

QString DisplayDataSaver::JoinNumberList(const QList<qint64> &items)
{
    // Built in place: the folder of all books holds every id of the catalogue.
    QString joined;
    joined.reserve(items.size() * 8);
    for (int i = 0; i < items.size(); ++i) {
        if (i > 0)
            joined += Const::ListSeparator;
        joined += QString::number(items.at(i));
    }
    return joined;
}

QStringList DisplayDataSaver::ParseTextList(const QString &text)
{
    QStringList parts = text.split(Const::ListSeparator, Qt::SkipEmptyParts);
    for (QString &part : parts)
        part.replace(Const::SeparatorEscape, Const::ListSeparator);
    return parts;
}

QList<qint64> DisplayDataSaver::ParseNumberList(const QString &text)
{
    QList<qint64> numbers;
    const QVector<QStringRef> parts = text.splitRef(Const::ListSeparator, Qt::SkipEmptyParts);
    numbers.reserve(parts.size());
    for (const QStringRef &part : parts)
        numbers.append(part.toLongLong(nullptr, 10));
    return numbers;
}

// ---- writing ----

void DisplayDataSaver::WriteTextElement(QXmlStreamWriter &writer, const QString &name, const QString &text)
{
    const QString clean = StripXmlForbidden(text);
    if (name.isEmpty() || clean.isEmpty())
        return;
    writer.writeTextElement(name, clean);
}

void DisplayDataSaver::WriteUuidElement(QXmlStreamWriter &writer, const QString &name, const QUuid &id)
{
    writer.writeTextElement(name, id.toString());
}

void DisplayDataSaver::WriteNumberElement(QXmlStreamWriter &writer, const QString &name, qint64 value)
{
    writer.writeTextElement(name, QString::number(value));
}

void DisplayDataSaver::WriteTextListElement(QXmlStreamWriter &writer, const QString &name,
                                            const QStringList &items)
{
    WriteTextElement(writer, name, JoinTextList(items));
}

void DisplayDataSaver::WriteNumberListElement(QXmlStreamWriter &writer, const QString &name,
                                              const QList<qint64> &items)
{
    if (items.isEmpty())
        return;
    writer.writeTextElement(name, JoinNumberList(items));
}

void DisplayDataSaver::WriteMetaElement(QXmlStreamWriter &writer, const QString &guid)
{
    writer.writeStartElement(Const::XmlDisplayMeta);
    WriteTextElement(writer, QStringLiteral("CurrentGUID"), guid);
    writer.writeEndElement();
}

void DisplayDataSaver::WriteSearchElement(QXmlStreamWriter &writer, const DisplayFolderSearch &search)
{
    writer.writeStartElement(Const::XmlDisplayFolderSearch);
    WriteTextListElement(writer, QStringLiteral("FindName"), search.findName);
    WriteTextListElement(writer, QStringLiteral("FindAuthor"), search.findAuthor);
    WriteTextListElement(writer, QStringLiteral("FindCategoryName"), search.findCategoryName);
    WriteNumberListElement(writer, QStringLiteral("FindUserRating"), search.findUserRating);
    WriteNumberListElement(writer, QStringLiteral("FindOrgPrice"), search.findOrgPrice);
    WriteNumberListElement(writer, QStringLiteral("FindBookPages"), search.findBookPages);
    WriteNumberListElement(writer, QStringLiteral("FindBookSize"), search.findBookSize);
    WriteNumberListElement(writer, QStringLiteral("FindCategoryList"), search.findCategoryList);
    writer.writeEndElement();
}

void DisplayDataSaver::WriteFolderElement(QXmlStreamWriter &writer, const DisplayFolder *folder)
{
    writer.writeStartElement(Const::XmlDisplayFolder);
    WriteUuidElement(writer, QStringLiteral("UID"), folder->uid);
    WriteNumberElement(writer, QStringLiteral("Type"), folder->type);
    WriteTextElement(writer, QStringLiteral("Caption"), folder->caption);
    WriteTextElement(writer, QStringLiteral("Calc_Caption"), folder->calcCaption);
    WriteNumberElement(writer, QStringLiteral("Category_UID"), folder->categoryUid);
    if (folder->type == FilterFolder)
        WriteSearchElement(writer, folder->search);
    // A search result keeps neither its conditions nor its books.
    if (folder->type != SearchResult) {
        WriteNumberElement(writer, QStringLiteral("calc_bookCount"), folder->calcBookCount);
        WriteNumberElement(writer, QStringLiteral("calc_unreadCount"), folder->calcUnreadCount);
        WriteNumberListElement(writer, QStringLiteral("calc_cachedBooks"), folder->bookIds);
    }
    writer.writeEndElement();
}

FoldersSnapshot DisplayDataSaver::TakeFoldersSnapshot(const QReadLockerExt2 &token) const
{
    token.CheckLock(&lock);
    FoldersSnapshot snapshot;
    snapshot.guid = currentGuid;
    snapshot.folders.reserve(folders.size());
    for (const DisplayFolder *folder : folders) {
        // Field by field: sortedBookIds may be re-sorted by a page load under a read token.
        DisplayFolder saved;
        saved.uid = folder->uid;
        saved.type = folder->type;
        saved.caption = folder->caption;
        saved.calcCaption = folder->calcCaption;
        saved.categoryUid = folder->categoryUid;
        saved.search = folder->search;
        saved.calcBookCount = folder->calcBookCount;
        saved.calcUnreadCount = folder->calcUnreadCount;
        saved.bookIds = folder->bookIds;
        snapshot.folders.append(saved);
    }
    return snapshot;
}

QByteArray DisplayDataSaver::BuildFoldersDocument(const QReadLockerExt2 &token) const
{
    return BuildFoldersDocument(TakeFoldersSnapshot(token));
}

QByteArray DisplayDataSaver::BuildFoldersDocument(const FoldersSnapshot &snapshot)
{
    QByteArray document;
    QXmlStreamWriter writer(&document);
    writer.setAutoFormatting(false);
    writer.writeStartDocument();
    writer.writeStartElement(Const::XmlDocumentElement);
    WriteMetaElement(writer, snapshot.guid);
    for (const DisplayFolder &folder : snapshot.folders)
        WriteFolderElement(writer, &folder);
    writer.writeEndElement();
    writer.writeEndDocument();
    return document;
}

quint64 DisplayDataSaver::QueueSave(const QReadLockerExt2 &token)
{
    token.CheckLock(&lock);
    // Never over a file this store has not read: it may hold folders that could not be loaded.
    if (!foldersFileInHand && QFileInfo::exists(userFoldersPath))
        return 0;
    if (NativeHelper::IsClosing())
        return 0;
    return foldersWriter.Queue(TakeFoldersSnapshot(token));
}

bool DisplayDataSaver::WaitForSave(quint64 ticket, int timeoutMs)
{
    return ticket != 0 && foldersWriter.WaitFor(ticket, timeoutMs);
}

bool DisplayDataSaver::WriteFoldersFile(const QReadLockerExt2 &token)
{
    return WaitForSave(QueueSave(token));
}

bool DisplayDataSaver::WriteSnapshot(const FoldersSnapshot &snapshot)
{
    // Held by every write of the folders file: the close path waits for it.
    QWriteLocker configLocker(NativeHelper::_configLocker);
    if (BaseFolder().isEmpty())
        return false;

    // The whole envelope is made in memory first: a failure leaves the old file untouched.
    const QByteArray document = BuildFoldersDocument(snapshot);
    QByteArray enciphered;
    const DisplayFolderEncrypterClass encrypter;
    if (!encrypter.EncryptBytes(document, enciphered) || enciphered.isEmpty())
        return false;

    QSaveFile file(userFoldersPath);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(enciphered) != enciphered.size()) {
        file.cancelWriting();
        return false;
    }
    if (!file.commit())
        return false;
    foldersFileInHand = true;
    return true;
}

// ---- reading ----

void DisplayDataSaver::ReadMetaElement(QXmlStreamReader &reader)
{
    while (reader.readNextStartElement()) {
        if (reader.name() == QLatin1String("CurrentGUID"))
            currentGuid = reader.readElementText(QXmlStreamReader::SkipChildElements);
        else
            reader.skipCurrentElement();
    }
}

void DisplayDataSaver::ReadSearchElement(QXmlStreamReader &reader, DisplayFolderSearch &search)
{
    while (reader.readNextStartElement()) {
        const QStringRef name = reader.name();
        QStringList *textList = nullptr;
        QList<qint64> *numberList = nullptr;
        if (name == QLatin1String("FindName"))
            textList = &search.findName;
        else if (name == QLatin1String("FindAuthor"))
            textList = &search.findAuthor;
        else if (name == QLatin1String("FindCategoryName"))
            textList = &search.findCategoryName;
        else if (name == QLatin1String("FindUserRating"))
            numberList = &search.findUserRating;
        else if (name == QLatin1String("FindOrgPrice"))
            numberList = &search.findOrgPrice;
        else if (name == QLatin1String("FindBookPages"))
            numberList = &search.findBookPages;
        else if (name == QLatin1String("FindBookSize"))
            numberList = &search.findBookSize;
        else if (name == QLatin1String("FindCategoryList"))
            numberList = &search.findCategoryList;
        const QString text = reader.readElementText(QXmlStreamReader::SkipChildElements);
        if (textList)
            *textList = ParseTextList(text);
        else if (numberList)
            *numberList = ParseNumberList(text);
    }
}

DisplayFolder *DisplayDataSaver::ReadFolderElement(QXmlStreamReader &reader)
{
    auto *folder = new DisplayFolder();
    while (reader.readNextStartElement()) {
        const QStringRef name = reader.name();
        if (name == Const::XmlDisplayFolderSearch) {
            ReadSearchElement(reader, folder->search);
            continue;
        }
        const QString text = reader.readElementText(QXmlStreamReader::SkipChildElements);
        if (name == QLatin1String("UID"))
            folder->uid = QUuid(text);
        else if (name == QLatin1String("Type"))
            folder->type = text.toInt();
        else if (name == QLatin1String("Caption"))
            folder->caption = text;
        else if (name == QLatin1String("Calc_Caption"))
            folder->calcCaption = text;
        else if (name == QLatin1String("Category_UID"))
            folder->categoryUid = text.toLongLong();
        else if (name == QLatin1String("calc_bookCount"))
            folder->calcBookCount = text.toLongLong();
        else if (name == QLatin1String("calc_unreadCount"))
            folder->calcUnreadCount = text.toLongLong();
        else if (name == QLatin1String("calc_cachedBooks"))
            folder->bookIds = ParseNumberList(text);
    }
    return folder;
}

bool DisplayDataSaver::ReadFoldersFile(const QWriteLockerExt2 &token)
{
    token.CheckLock(&lock);
    foldersFileInHand = false;
    foldersFileNeedsRewrite = false;
    if (BaseFolder().isEmpty())
        return false;
    QFile file(userFoldersPath);
    if (!file.exists()) {
        foldersFileInHand = true;
        return true;
    }
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray enciphered = file.readAll();
    const bool readFailed = file.error() != QFileDevice::NoError;
    file.close();
    if (readFailed)
        return false;

    QByteArray document;
    const DisplayFolderEncrypterClass encrypter;
    if (enciphered.isEmpty() || !encrypter.DecryptBytes(enciphered, document, DefaultEncryptHelper::EncryptFlags) || document.isEmpty()) {
        // Counts as no file once it is kept aside; the store stays as it was.
        foldersFileInHand = DamagedFileKeeper(userFoldersPath).Keep(true);
        return true;
    }

    // Decoded here, not by the reader: it would refuse the whole document for one bad byte.
    QTextCodec::ConverterState decoding;
    const QString text = QTextCodec::codecForMib(106)->toUnicode(document.constData(), document.size(), &decoding);
    currentGuid.clear();
    ClearFolders();
    QSet<QUuid> seen;
    QXmlStreamReader reader(text);
    while (!reader.atEnd() && !reader.hasError()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (reader.name() == Const::XmlDisplayMeta) {
            ReadMetaElement(reader);
        } else if (reader.name() == Const::XmlDisplayFolder) {
            std::unique_ptr<DisplayFolder> folder(ReadFolderElement(reader));
            // A folder cut off by a fault, without identity or caption, or repeating an
            // earlier uid is dropped.
            if (reader.hasError() || folder->type == 0 || folder->uid.isNull() || folder->caption.isEmpty()
                || seen.contains(folder->uid))
                continue;
            seen.insert(folder->uid);
            if (folder->type == SearchResult)
                folder->UpdateCaptionWithCount();
            folders.append(folder.get());
            folder.release();
        }
    }
    if (reader.hasError() || decoding.invalidChars > 0)
        TreatAsPartlyRead();
    else
        foldersFileInHand = true;
    return true;
}

void DisplayDataSaver::TreatAsPartlyRead()
{
    // The folders read so far are saved in its place, the damaged original stays aside.
    foldersFileInHand = !QFileInfo::exists(userFoldersPath) || DamagedFileKeeper(userFoldersPath).Keep(false);
    foldersFileNeedsRewrite = foldersFileInHand;
}

bool DisplayDataSaver::EnsureBuiltinFolders(const QWriteLockerExt2 &token)
{
    token.CheckLock(&lock);
    struct Builtin
    {
        int type;
        const char *caption;
    };
    static const Builtin builtins[] = {
        {SearchResult, "Search Result"},
        {BestBooks, "Best Tessaly"},
        {NewArrivals, "New Arrivals"},
        {AllBooks, "All Tessaly"},
    };
    bool added = false;
    for (const Builtin &builtin : builtins) {
        if (HasFolderOfType(builtin.type, token))
            continue;
        DisplayFolder *folder = builtin.type == SearchResult
            ? DisplayFolder::CreateSearchFolder()
            : DisplayFolder::CreateBuiltinFolder(builtin.type, QString::fromLatin1(builtin.caption));
        folders.prepend(folder);
        added = true;
    }
    return added;
}

bool DisplayDataSaver::LoadFolders(bool &builtinsAdded)
{
    QMutexLocker serial(&mutex);
    QWriteLockerExt2 token(&lock);
    builtinsAdded = false;
    try {
        if (!ReadFoldersFile(token))
            return false;
    } catch (const std::exception &error) {
        qWarning("Reading the folders file failed: %s", error.what());
        TreatAsPartlyRead();
    } catch (...) {
        qWarning("Reading the folders file failed");
        TreatAsPartlyRead();
    }
    builtinsAdded = EnsureBuiltinFolders(token);
    if (foldersFileNeedsRewrite && WriteFoldersFile(token))
        foldersFileNeedsRewrite = false;
    return true;
}
