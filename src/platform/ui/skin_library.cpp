#include "platform/ui/skin_library.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include "platform/skin_folder.h"
#include "platform/skin_texts.h"

namespace taviro::platform::ui {
namespace {

// A pack picture larger than this is not a skin picture; it is refused unread.
constexpr int kMaxPictureSide = 4096;

// Picture file names are decimal numbers of at most five digits, up to 65535.
bool PictureNumber(const QString& baseName, int& number) {
    if (baseName.isEmpty() || baseName.size() > 5)
        return false;
    for (QChar c : baseName) {
        if (c < u'0' || c > u'9')
            return false;
    }
    bool ok = false;
    number = baseName.toInt(&ok);
    return ok && number <= kMaxSkinTextNumber;
}

QImage ReadBounded(const QString& path) {
    QImageReader reader(path);
    const QSize size = reader.size();
    if (size.isValid() && (size.width() > kMaxPictureSide || size.height() > kMaxPictureSide))
        return {};
    QImage image = reader.read();
    if (image.width() > kMaxPictureSide || image.height() > kMaxPictureSide)
        return {};
    return image;
}

// Only plain names: a caller's name never walks out of the folder.
bool PlainName(const QString& name) {
    if (name.isEmpty() || name.size() > 64)
        return false;
    for (QChar c : name) {
        if (!c.isLetterOrNumber() && c != u'_')
            return false;
    }
    return true;
}

}  // namespace

void CSkinLibrary::Clear() {
    m_loaded = false;
    m_folder.clear();
    m_images.clear();
    m_pixmaps.clear();
    m_texts.clear();
}

bool CSkinLibrary::Load(const QString& folder) {
    Clear();
    if (folder.isEmpty() || !HoldsSkinPack(QFile::encodeName(folder).toStdString()))
        return false;
    const QDir dir(folder);
    for (const QFileInfo& file : dir.entryInfoList({QStringLiteral("*.png")}, QDir::Files)) {
        int number = 0;
        if (!PictureNumber(file.completeBaseName(), number))
            continue;
        QImage image = ReadBounded(file.absoluteFilePath());
        if (!image.isNull())
            m_images.emplace(number, std::move(image));
    }
    SkinTexts texts;
    if (LoadSkinTexts(dir.filePath(QStringLiteral("texts.txt")).toStdString(), texts)) {
        for (const auto& [number, text] : texts.texts)
            m_texts.emplace(number, QString::fromStdString(text));
    }
    m_folder = dir.absolutePath();
    m_loaded = true;
    return true;
}

QImage CSkinLibrary::Image(int number) const {
    const auto it = m_images.find(number);
    return it == m_images.end() ? QImage() : it->second;
}

QPixmap CSkinLibrary::Picture(int number) const {
    if (const auto cached = m_pixmaps.find(number); cached != m_pixmaps.end())
        return cached->second;
    const auto it = m_images.find(number);
    if (it == m_images.end())
        return {};
    QPixmap pixmap = QPixmap::fromImage(it->second);
    m_pixmaps.emplace(number, pixmap);
    return pixmap;
}

QString CSkinLibrary::Text(int number) const {
    const auto it = m_texts.find(number);
    return it == m_texts.end() ? QString() : it->second;
}

QImage CSkinLibrary::NamedPicture(const QString& name) const {
    if (!PlainName(name))
        return {};
    const QDir here = QDir::current();
    for (const QString& suffix : {QStringLiteral(".bmp"), QStringLiteral(".png")}) {
        const QString path = here.filePath(name + suffix);
        if (QFileInfo::exists(path)) {
            QImage image = ReadBounded(path);
            if (!image.isNull())
                return image;
        }
    }
    if (!m_loaded)
        return {};
    return ReadBounded(QDir(m_folder).filePath(name + QStringLiteral(".png")));
}

QString CSkinLibrary::DefaultFolder() {
    return QFile::decodeName(DefaultSkinFolder().c_str());
}

CSkinLibrary& Skin() {
    static CSkinLibrary library;
    return library;
}

}  // namespace taviro::platform::ui
