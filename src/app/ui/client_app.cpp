#include "app/ui/client_app.h"
#include "controls/ui/skin_style.h"

#include <QApplication>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string_view>

#include "app/branding.h"
#include "app/client_options.h"
#include "app/player_mode.h"
#include "app/storage_folders.h"
#include "app/ui/client_dlg.h"
#include "platform/skin_folder.h"
#include "platform/trace.h"
#include "platform/ui/qsettings_store.h"
#include "platform/ui/qt_message_sink.h"
#include "platform/ui/skin_library.h"
#include "platform/version.h"

namespace taviro::app::ui {

std::optional<int> AnswerWithoutWindow(std::span<const std::string> args) {
    const ParsedOptions parsed = ParseClientOptions(args);
    if (parsed.help) {
        std::fputs(kClientUsage.data(), stdout);
        return 0;
    }
    if (parsed.version) {
        std::printf("%s\n", platform::VersionLine("taviro").c_str());
        return 0;
    }
    if (parsed.skinPath) {
        // The folder Run() loads; a folder without a pack fails, so a script learns that the
        // program would start with empty pictures.
        const std::string folder = platform::DefaultSkinFolder();
        std::printf("%s\n", folder.c_str());
        if (!platform::HoldsSkinPack(folder)) {
            std::fprintf(stderr, "taviro: no skin pack in %s\n", folder.c_str());
            return 1;
        }
        return 0;
    }
    return std::nullopt;
}

int CClientApp::Run() {
    // Qt's own options are gone now, so a line that main() could not read may be a question.
    if (const std::optional<int> answered = AnswerWithoutWindow(m_args))
        return *answered;
    const ParsedOptions parsed = ParseClientOptions(m_args);
    if (!parsed.options) {
        std::fprintf(stderr, "taviro: %s\n%s", parsed.error.c_str(), kClientUsage.data());
        return 2;
    }
    const ClientOptions& options = *parsed.options;

    // The skin pack: without it the program runs on, every picture and text empty.
    if (!platform::ui::Skin().Load(platform::ui::CSkinLibrary::DefaultFolder()))
        platform::Trace("skin pack not found.\n");
    // Every window of standard controls takes the skin's look from here.
    if (auto* application = qobject_cast<QApplication*>(QCoreApplication::instance()))
        controls::ui::InstallSkinStyle(*application);

    std::vector<std::string_view> views(m_args.begin(), m_args.end());
    ShellOptions shellOptions;
    shellOptions.playerMode = options.player || DetectPlayerMode(views);
    shellOptions.audioOutput = !QMediaDevices::audioOutputs().isEmpty();
    shellOptions.secretStore = [] { return platform::MakeSecretServiceStore(); };

    std::error_code ec;
    const auto candidates = BrandingCandidates(std::filesystem::current_path(ec), ProgramFolder());
    const Branding branding = LoadBranding(candidates);

    std::unique_ptr<platform::ui::CQSettingsStore> settings =
        options.settingsFile ? std::make_unique<platform::ui::CQSettingsStore>(
                                   QString::fromStdString(*options.settingsFile))
                             : std::make_unique<platform::ui::CQSettingsStore>();
    platform::ui::CQtMessageSink sink;
    CClientDlg window(sink, *settings, branding, shellOptions);
    window.show();

    if (options.screenshot) {
        const QString file = QString::fromStdString(*options.screenshot);
        QTimer::singleShot(static_cast<int>(options.screenshotAfter * 1000), &window,
                           [&window, file] {
                               const bool ok = window.Screenshot().save(file);
                               std::fprintf(ok ? stdout : stderr, "taviro: %s %s\n",
                                            ok ? "screenshot written to" : "cannot write",
                                            file.toLocal8Bit().constData());
                           });
    }
    if (options.quitAfter) {
        QTimer::singleShot(static_cast<int>(*options.quitAfter * 1000), &window,
                           [&window] { window.Quit(); });
    }

    std::optional<ConnectRequest> request;
    std::vector<ConnectRequest> more;
    if (options.connectHost)
        request = ConnectRequest{*options.connectHost, options.connectPort, options.user,
                                 options.password};
    for (const ClientOptions::Address& address : options.moreConnects)
        more.push_back(ConnectRequest{address.host, address.port, options.user, options.password});
    window.Initialise(request, std::move(more));
    const int status = QApplication::exec();
    return status;
}

}  // namespace taviro::app::ui
