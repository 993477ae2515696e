// The skin pack: pictures and display texts by number, loaded from a folder that the build
// fills (skin/ generates "<number>.png", "ComMark.png", "VdoLoss.png" and "texts.txt").
// Windows ask it for every picture and every text with a number; a missing number yields a
// null picture or an empty text, and the window stays blank there.
// Thread: the GUI thread only (QPixmap). The process-wide instance is Skin().
#pragma once

#include <QImage>
#include <QPixmap>
#include <QString>
#include <map>

namespace taviro::platform::ui {

class CSkinLibrary {
  public:
    // Loads a pack folder: pictures "<number>.png", named pictures "<Name>.png" (ComMark,
    // VdoLoss), texts "texts.txt". False, leaving the library empty, when the folder holds
    // no pack.
    bool Load(const QString& folder);
    bool Loaded() const { return m_loaded; }
    void Clear();

    QPixmap Picture(int number) const;  // null QPixmap when missing
    QImage Image(int number) const;     // null QImage when missing
    QString Text(int number) const;     // empty when missing
    // "ComMark" / "VdoLoss": the working directory's "<name>.bmp"/"<name>.png" first, then
    // the pack; null when missing.
    QImage NamedPicture(const QString& name) const;
    QString Folder() const { return m_folder; }

    // platform::DefaultSkinFolder(), the lookup the command-line client shares: $TAVIRO_SKIN,
    // else <exe dir>/skin, <exe dir>/../skin, <exe dir>/../share/taviro/skin (installed),
    // else a build tree's skin folder above the program (the folder beside CMakeCache.txt).
    static QString DefaultFolder();

  private:
    bool m_loaded = false;
    QString m_folder;
    std::map<int, QImage> m_images;
    mutable std::map<int, QPixmap> m_pixmaps;  // made on first use from m_images
    std::map<int, QString> m_texts;
};

CSkinLibrary& Skin();  // the process-wide library (loaded once by the main window or a test)

}  // namespace taviro::platform::ui
