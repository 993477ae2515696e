// The skin pack generator: draws every picture of skin/description/ and copies the text
// table, checked, into the pack folder.
//
//   taviro-skin-gen --out DIR --texts FILE [--preview FILE] DESCRIPTION...
//
// It fails (exit 1, with the file and line) on a bad entry, a missing required picture or
// text, a text table with errors, or a main window control whose strip does not match its
// place in the control table. Runs with QT_QPA_PLATFORM=offscreen (fonts need a GUI app).
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/main_window_layout.h"
#include "description.h"
#include "draw.h"
#include "platform/skin_numbers.h"
#include "platform/skin_texts.h"

namespace {

namespace pics = taviro::platform::skin;
using taviro::skin::Entry;

int Fail(const std::string& message) {
    std::fprintf(stderr, "taviro-skin-gen: %s\n", message.c_str());
    return 1;
}

bool ReadFile(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream s;
    s << in.rdbuf();
    out = s.str();
    return true;
}

// Pictures every window relies on; the pack is incomplete without them.
std::vector<int> RequiredPictures() {
    std::vector<int> n = {pics::kPicTextButtonSmall,
                          pics::kPicTextButtonMedium,
                          pics::kPicTextButtonLarge,
                          pics::kPicCheckBox,
                          pics::kPicRadio,
                          pics::kPicPopupBackground,
                          pics::kPicDialogBackground,
                          pics::kPicDialogTitle,
                          pics::kPicMainBackground,
                          pics::kPicMinButton,
                          pics::kPicSliderTrackH,
                          pics::kPicSliderThumbH,
                          pics::kPicSliderTrackV,
                          pics::kPicSliderThumbV};
    for (int i = pics::kPicIconPause; i <= pics::kPicIconBackwardSliceMask; ++i)
        n.push_back(i);
    for (int i = pics::kPicIconStepForward; i <= pics::kPicIconStepBackwardMask; ++i)
        n.push_back(i);
    for (int i = pics::kPicIconAudioHeard; i <= pics::kPicIconAudioMutedMask; ++i)
        n.push_back(i);
    for (int i = pics::kPicIconPtz1; i <= pics::kPicIconPtz2Mask; ++i)
        n.push_back(i);
    for (int i = pics::kPicIconNoCheck; i <= pics::kPicIconCheckedMask; ++i)
        n.push_back(i);
    return n;
}

std::vector<int> RequiredTexts() {
    std::vector<int> n;
    for (int i = 5000; i <= 5093; ++i)
        n.push_back(i);
    for (int i : {5821, 5822, 5823, 5830, 5840, 5841, 5882, 5883})
        n.push_back(i);
    return n;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    std::string outDir, textsPath, previewPath;
    std::vector<std::string> descriptions;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if ((a == "--out" || a == "--texts" || a == "--preview") && i + 1 < argc) {
            (a == "--out" ? outDir : a == "--texts" ? textsPath : previewPath) = argv[++i];
        } else if (!a.empty() && a[0] != '-') {
            descriptions.push_back(a);
        } else {
            return Fail(
                "usage: taviro-skin-gen --out DIR --texts FILE [--preview FILE] DESCRIPTION...");
        }
    }
    if (outDir.empty() || textsPath.empty() || descriptions.empty())
        return Fail(
            "usage: taviro-skin-gen --out DIR --texts FILE [--preview FILE] DESCRIPTION...");

    std::vector<Entry> entries;
    for (const std::string& path : descriptions) {
        std::string content, error;
        if (!ReadFile(path, content))
            return Fail("cannot read " + path);
        if (!taviro::skin::ParseDescription(content, path, entries, error))
            return Fail(error);
    }
    std::map<std::string, const Entry*> byId;
    for (const Entry& e : entries) {
        if (!byId.emplace(e.Id(), &e).second)
            return Fail(e.file + ":" + std::to_string(e.line) + ": picture " + e.Id() + " twice");
    }
    for (int n : RequiredPictures()) {
        if (byId.count(std::to_string(n)) == 0)
            return Fail("the description lacks picture " + std::to_string(n));
    }
    for (const char* name : {pics::kNamedIdle, pics::kNamedVideoLoss}) {
        if (byId.count(name) == 0)
            return Fail(std::string("the description lacks picture ") + name);
    }
    // Each main window button's strip must fit the control's place exactly.
    for (const taviro::app::MainControl& m : taviro::app::MainWindowControls()) {
        if (m.picture == 0)
            continue;
        const auto it = byId.find(std::to_string(m.picture));
        if (it == byId.end())
            return Fail("control " + std::to_string(m.id) + " needs picture " +
                        std::to_string(m.picture));
        const Entry& e = *it->second;
        if (e.kind != "button" || e.width != m.rect.width || e.height != m.rect.height ||
            e.IntKey("frames", pics::kButtonFrames) != m.frames)
            return Fail(e.file + ":" + std::to_string(e.line) + ": picture " + e.Id() +
                        " does not match control " + std::to_string(m.id) + " (" +
                        std::to_string(m.rect.width) + "x" + std::to_string(m.rect.height) + ", " +
                        std::to_string(m.frames) + " frames)");
    }

    std::string texts;
    if (!ReadFile(textsPath, texts))
        return Fail("cannot read " + textsPath);
    const taviro::platform::SkinTexts parsed = taviro::platform::ParseSkinTexts(texts);
    if (parsed.errorCount != 0 || parsed.truncated) {
        const auto& first = parsed.errors.front();
        return Fail(textsPath + ":" + std::to_string(first.line) + ": " + first.reason);
    }
    for (int n : RequiredTexts()) {
        if (parsed.texts.count(n) == 0)
            return Fail(textsPath + " lacks text " + std::to_string(n));
    }

    QDir out(QString::fromStdString(outDir));
    if (!out.mkpath(QStringLiteral(".")))
        return Fail("cannot create " + outDir);
    std::set<QString> written;
    std::map<int, QImage> pictures;
    QImage idle;
    for (const Entry& e : entries) {
        std::string error;
        const QImage image = taviro::skin::DrawEntry(e, byId, error);
        if (image.isNull())
            return Fail(e.file + ":" + std::to_string(e.line) + ": " + error);
        const QString file = QString::fromStdString(e.Id()) + QStringLiteral(".png");
        if (!image.save(out.filePath(file), "PNG"))
            return Fail("cannot write " + out.filePath(file).toStdString());
        written.insert(file);
        if (e.number)
            pictures[*e.number] = image;
        else if (e.name == pics::kNamedIdle)
            idle = image;
    }
    // Pictures a previous description had and this one dropped must not linger in the pack.
    for (const QString& stale : out.entryList({QStringLiteral("*.png")}, QDir::Files)) {
        if (written.count(stale) == 0)
            out.remove(stale);
    }
    QFile textsOut(out.filePath(QStringLiteral("texts.txt")));
    if (!textsOut.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        textsOut.write(texts.data(), static_cast<qint64>(texts.size())) !=
            static_cast<qint64>(texts.size()))
        return Fail("cannot write texts.txt");
    textsOut.close();

    if (!previewPath.empty()) {
        const QImage preview = taviro::skin::DrawPreview(pictures, idle);
        if (preview.isNull() || !preview.save(QString::fromStdString(previewPath), "PNG"))
            return Fail("cannot write the preview " + previewPath);
    }
    std::printf("taviro-skin-gen: %zu pictures, %zu texts\n", entries.size(), parsed.texts.size());
    return 0;
}
